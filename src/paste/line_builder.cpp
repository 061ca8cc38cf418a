#include "paste/line_builder.h"

namespace quillet {

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
