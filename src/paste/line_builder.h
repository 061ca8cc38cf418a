#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace quillet {

// Newlines that end a line: LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR.
constexpr bool isLineBreak(char16_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Trimmed from both ends of a line: every newline above plus tab, space and
// the Unicode space separators (general category Z).
constexpr bool isTrimmedSpace(char16_t c) {
    if (c == 0x09 || c == 0x20 || c == 0xA0 || isLineBreak(c)) {
        return true;
    }
    return c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The lines of a text: split at every newline, trim each piece, drop the empty ones.
QStringList buildLines(QStringView text);

// Equal under Unicode canonical equivalence.
bool isSameText(const QString& a, const QString& b);

}  // namespace quillet
