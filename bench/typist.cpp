#include "typist.h"

#include "kernel_figures.h"
#include "x/client.h"
#include "x/clipboard.h"

#include <QProcess>

namespace quillet::bench {

using namespace harness;

namespace {

constexpr auto kHold = 20ms;
constexpr auto kStepDeadline = 5s;

// Each copy's lines name their copy, so that no copy repeats an earlier one.
// About 50 bytes, like a row of a list people paste from.
QByteArray listLine(int generation, int index) {
    return 'g' + QByteArray::number(generation) + " item " +
           QByteArray::number(index).rightJustified(6, '0') + " 名称 value, and a few more words";
}

}  // namespace

bool Typist::fail(const std::string& message) {
    if (error_.empty()) {
        error_ = message;
    }
    return false;
}

bool Typist::copyText(const QByteArray& text) {
    next_ = 0;
    return copy(text) || fail("xclip could not copy the text (scripts/setup installs xclip)");
}

bool Typist::copyList(int lines) {
    ++generation_;
    lines_.clear();
    QByteArray text;
    for (int i = 0; i < lines; ++i) {
        const QByteArray line = listLine(generation_, i);
        lines_.append(QString::fromUtf8(line));
        text += line + '\n';
    }
    return copyText(text);
}

bool Typist::copyBulk(qsizetype bytes) {
    ++generation_;
    QByteArray text;
    text.reserve(bytes + 64);
    for (int i = 0; text.size() < bytes; ++i) {
        text += listLine(generation_, i) + '\n';
    }
    lines_ = {QString::fromUtf8(listLine(generation_, 0))};
    return copyText(text);
}

Typist::Keystroke Typist::strike() {
    const auto down = Clock::now();
    x().down(kDefaultChord);
    runFor(kHold);
    x().up(kDefaultChord);
    return {down, Clock::now()};
}

Typist::Keystroke Typist::chord() {
    const auto down = Clock::now();
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("key"), QStringLiteral("ctrl+alt+super+v")});
    waitUntil([&] { return xdotool.state() == QProcess::NotRunning; }, 5s);
    return {down, Clock::now()};
}

bool Typist::readyField() {
    if (!field_.started()) {
        return fail("the target window did not start");
    }
    return (field_.clear() && field_.focus()) ||
           fail("the target window does not get the keyboard focus");
}

bool Typist::press(Program& program) {
    if (next_ >= lines_.size()) {
        return fail("the copied list ran out");
    }
    if (!readyField()) {
        return false;
    }
    const QString& expected = lines_[next_];
    const FileStamp before = fileStamp(program.stateFile());
    strike();

    bool wrong = false;
    const bool done = waitUntil(
        [&] {
            wrong = !expected.startsWith(field_.text());
            return wrong || (field_.text() == expected && fileStamp(program.stateFile()) != before);
        },
        kStepDeadline);
    if (!done || wrong) {
        return fail(
            QStringLiteral("press %1: expected \"%2\", the field got \"%3\"%4")
                .arg(pressed_ + 1)
                .arg(expected, field_.text(),
                     wrong ? QString() : QStringLiteral(", or the step did not save, within 5 s"))
                .toStdString());
    }
    pasted(1);
    return true;
}

}  // namespace quillet::bench
