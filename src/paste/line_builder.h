#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace quillet {

// Newlines that end a line: LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR.
bool isLineBreak(char16_t c);

// Trimmed from both ends of a line: every newline above plus tab, space and
// the Unicode space separators (general category Z).
bool isTrimmedSpace(char16_t c);

// The lines of a text: split at every newline, trim each piece, drop the empty ones.
QStringList buildLines(QStringView text);

// Equal under Unicode canonical equivalence.
bool isSameText(const QString& a, const QString& b);

}  // namespace quillet
