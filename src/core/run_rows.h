#pragma once

#include "core/app_state.h"

#include <optional>

namespace quillet {

// How the lines of a run show in a list of it: each row's mark, the row that
// comes next, and which rows a new snapshot of the run changes, so that a
// list of fifty thousand lines redraws only those.

enum class RowMark {
    Pasted,  // before the cursor
    Next,    // the line the next press pastes
    Ahead,
};

RowMark rowMark(const AppState& run, qsizetype row);

// None once every line is pasted, or when there are no lines.
std::optional<qsizetype> nextRow(const AppState& run);

// What changed between two snapshots: nothing, the marks of rows first to
// last, or the lines themselves.
struct RowChange {
    enum class Kind { None, Marks, Lines };
    Kind kind = Kind::None;
    qsizetype first = 0;
    qsizetype last = -1;

    friend bool operator==(const RowChange&, const RowChange&) = default;
};

// Lines shared between the snapshots (the usual case: the worker hands on
// its own list) compare at once; only the cursor is looked at then.
RowChange rowChange(const AppState& before, const AppState& after);

}  // namespace quillet
