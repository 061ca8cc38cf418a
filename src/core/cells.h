#pragma once

#include "core/app_state.h"
#include "core/paste_method.h"

#include <QString>

#include <optional>

namespace quillet {

// Paste Cells: a run made of the cells of a copied range rather than its
// lines, so that a form fills field by field from a spreadsheet's rows.

inline constexpr auto kPasteCellsKey = u"pasteCells";
// Stored as "true" or "false"; anything else counts as false.
bool pastesCells(const std::optional<QString>& stored);
QString storedPasteCells(bool cells);

// The run a copied text makes, of its lines or of its cells, from the first.
AppState newRun(const QString& text, bool cells);

inline bool isCellRun(const AppState& run) {
    return !run.rowStarts.isEmpty();
}

// Where a cell of a run of cells sits, counted from 0.
struct CellPlace {
    qsizetype row = 0;
    qsizetype column = 0;
    qsizetype rowSize = 0;  // cells in its row
};
CellPlace cellPlace(const AppState& run, qsizetype index);

// The key after the line at index: Tab between the cells of a row; after a
// row's last cell, and after every line of a run of lines, the user's choice.
FollowKey keyAfter(const AppState& run, qsizetype index, FollowKey afterLine);

// The cell's name as spreadsheets give it: column letters, row number ("B3").
QString cellName(const CellPlace& place);

}  // namespace quillet
