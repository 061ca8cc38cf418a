#include "core/cells.h"

#include "core/lines.h"

#include <algorithm>

namespace quillet {

bool pastesCells(const std::optional<QString>& stored) {
    return stored == storedPasteCells(true);
}

QString storedPasteCells(bool cells) {
    return cells ? QStringLiteral("true") : QStringLiteral("false");
}

AppState newRun(const QString& text, bool cells) {
    if (!cells) {
        return AppState{buildLines(text), 0, text, {}};
    }
    CellRows rows = buildCells(text);
    return AppState{std::move(rows.cells), 0, text, std::move(rows.rowStarts)};
}

CellPlace cellPlace(const AppState& run, qsizetype index) {
    const auto& starts = run.rowStarts;
    // The last row that starts at or before the cell.
    const auto row = std::upper_bound(starts.begin(), starts.end(), index) - starts.begin() - 1;
    if (row < 0) {
        return {};
    }
    const qsizetype end = row + 1 < starts.size() ? starts[row + 1] : run.lines.size();
    return {row, index - starts[row], end - starts[row]};
}

FollowKey keyAfter(const AppState& run, qsizetype index, FollowKey afterLine) {
    if (!isCellRun(run)) {
        return afterLine;
    }
    const CellPlace place = cellPlace(run, index);
    return place.column + 1 < place.rowSize ? FollowKey::Tab : afterLine;
}

QString cellName(const CellPlace& place) {
    QString letters;
    for (qsizetype column = place.column + 1; column > 0; column = (column - 1) / 26) {
        letters.prepend(QChar(u'A' + static_cast<char16_t>((column - 1) % 26)));
    }
    return letters + QString::number(place.row + 1);
}

}  // namespace quillet
