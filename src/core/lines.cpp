#include "core/lines.h"

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
        const QStringView line = text.sliced(start, end - start).trimmed();
        if (!line.isEmpty()) {
            lines.append(line.toString());
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
