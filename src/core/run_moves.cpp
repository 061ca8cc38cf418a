#include "core/run_moves.h"

#include "core/cells.h"

#include <algorithm>

namespace quillet {

namespace {

std::int64_t size(const AppState& run) {
    return static_cast<std::int64_t>(run.lines.size());
}

}  // namespace

AppState moved(AppState run, RunMove move) {
    // A stored index past the end (an edited file) counts as the end.
    const std::int64_t at = std::min(run.currentIndex, size(run));
    switch (move) {
        case RunMove::Back:
            run.currentIndex = std::max<std::int64_t>(at - 1, 0);
            break;
        case RunMove::Skip:
            run.currentIndex = std::min(at + 1, size(run));
            break;
        case RunMove::StartOver:
            run.currentIndex = 0;
            break;
    }
    return run;
}

AppState movedTo(AppState run, std::int64_t index) {
    if (index >= 0 && index < size(run)) {
        run.currentIndex = index;
    }
    return run;
}

QString shortenedLine(const QString& line, qsizetype maxLength) {
    QString shown = line.size() > maxLength ? line.left(maxLength) : line;
    // Never half a surrogate pair at the cut.
    if (shown.size() < line.size() && !shown.isEmpty() && shown.back().isHighSurrogate()) {
        shown.chop(1);
    }
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) {
            c = u' ';
        }
    }
    return shown.size() < line.size() ? shown + u'…' : shown;
}

QString positionText(const AppState& run, Language language) {
    constexpr qsizetype kShownLength = 40;
    if (run.lines.isEmpty()) {
        return text::kPositionNoList.in(language);
    }
    const bool cells = isCellRun(run);
    if (run.currentIndex >= size(run)) {
        return cells ? text::kCellsAllPasted.in(language).arg(run.rowStarts.size())
                     : text::kPositionAllPasted.in(language).arg(size(run));
    }
    const auto at = static_cast<qsizetype>(run.currentIndex);
    const QString& line = run.lines[at];
    if (!cells) {
        return text::kPosition.in(language).arg(QString::number(at + 1), QString::number(size(run)),
                                                shortenedLine(line, kShownLength));
    }
    const CellPlace place = cellPlace(run, at);
    return text::kCellPosition.in(language).arg(
        QString::number(place.row + 1), QString::number(place.column + 1),
        QString::number(place.rowSize),
        line.isEmpty() ? text::kEmptyCell.in(language) : shortenedLine(line, kShownLength));
}

}  // namespace quillet
