#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace quillet {

// Newlines that end a line: LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH
// SEPARATOR. QString::split knows only some of them.
constexpr bool isLineBreak(char16_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// The lines of a text: split at every newline, trim each piece of white
// space (QChar::isSpace), drop the empty ones.
QStringList buildLines(QStringView text);

// Equal under Unicode canonical equivalence.
bool isSameText(const QString& a, const QString& b);

}  // namespace quillet
