#include "core/run_rows.h"

#include <algorithm>

namespace quillet {

namespace {

// A stored index past the end (an edited file) counts as the end.
qsizetype cursor(const AppState& run) {
    return static_cast<qsizetype>(
        std::clamp<std::int64_t>(run.currentIndex, 0, static_cast<std::int64_t>(run.lines.size())));
}

}  // namespace

RowMark rowMark(const AppState& run, qsizetype row) {
    const qsizetype at = cursor(run);
    return row < at ? RowMark::Pasted : row == at ? RowMark::Next : RowMark::Ahead;
}

std::optional<qsizetype> nextRow(const AppState& run) {
    const qsizetype at = cursor(run);
    return at < run.lines.size() ? std::optional(at) : std::nullopt;
}

RowChange rowChange(const AppState& before, const AppState& after) {
    // QList compares shared data without looking at the elements.
    if (before.lines != after.lines || before.rowStarts != after.rowStarts) {
        return {RowChange::Kind::Lines, 0, after.lines.size() - 1};
    }
    const qsizetype from = cursor(before);
    const qsizetype to = cursor(after);
    if (from == to) {
        return {};
    }
    // Every row between the two cursors changes its mark; a cursor at the end
    // stands on no row.
    return {RowChange::Kind::Marks, std::min(from, to),
            std::min(std::max(from, to), after.lines.size() - 1)};
}

}  // namespace quillet
