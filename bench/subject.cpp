#include "subject.h"

#include "core/lines.h"
#include "sample_text.h"

#include <utility>

namespace quillet::bench {

const char* subjectName(Subject subject) {
    return subject == Subject::Quillet ? "quillet" : "bare_tray";
}

Program::Options programOptions(Subject subject, qsizetype storedRun) {
    Program::Options options;
    if (subject == Subject::BareTray) {
        options.executable = QStringLiteral(QUILLET_BARE_TRAY_BIN);
    } else if (storedRun > 0) {
        AppState run;
        run.sourceClipboardContent = sampleText(storedRun);
        run.lines = buildLines(run.sourceClipboardContent);
        options.run = std::move(run);
    }
    return options;
}

}  // namespace quillet::bench
