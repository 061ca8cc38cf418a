#include "paste/line_builder.h"

namespace quillet {

bool isLineBreak(char16_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isTrimmedSpace(char16_t c) {
    if (c == 0x09 || c == 0x20 || c == 0xA0 || isLineBreak(c)) {
        return true;
    }
    return c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000;
}

QStringList buildLines(QStringView text) {
    QStringList lines;
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && !isLineBreak(text[end].unicode())) {
            ++end;
        }
        qsizetype first = start;
        qsizetype last = end;
        while (first < last && isTrimmedSpace(text[first].unicode())) {
            ++first;
        }
        while (last > first && isTrimmedSpace(text[last - 1].unicode())) {
            --last;
        }
        if (last > first) {
            lines.append(text.sliced(first, last - first).toString());
        }
        start = end + 1;
    }
    return lines;
}

bool isSameText(const QString& a, const QString& b) {
    if (a == b) {
        return true;
    }
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

}  // namespace quillet
