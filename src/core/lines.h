#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QList>

namespace quillet {

// Newlines that end a line: LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH
// SEPARATOR. QString::split knows only some of them.
constexpr bool isLineBreak(char16_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The lines of a text: split at every newline, trim each piece of white
// space (QChar::isSpace), drop the empty ones.
QStringList buildLines(QStringView text);

// A range of cells as spreadsheets copy it: a row per line, a tab between
// cells.
struct CellRows {
    QStringList cells;           // the rows' cells in turn, trimmed; "" for an empty cell
    QList<qsizetype> rowStarts;  // where in cells each row starts

    friend bool operator==(const CellRows&, const CellRows&) = default;
};

// The cells of a text: split into rows at every newline and into cells at
// every tab, each cell trimmed like a line. A cell that starts with a quote
// and whose quotes close right before a tab, a newline or the end is read
// as spreadsheets write one with a tab or newline inside: without the outer
// quotes, its doubled quotes single. Rows of blank cells only are dropped;
// a blank cell in a row stays, as "", so that columns keep their places.
CellRows buildCells(QStringView text);

// Equal under Unicode canonical equivalence.
bool isSameText(const QString& a, const QString& b);

}  // namespace quillet
