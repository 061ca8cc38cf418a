#include "sample_text.h"

namespace quillet::bench {

QString sampleText(qsizetype chars, const QString& prefix) {
    QString text;
    text.reserve(chars);
    text.append(prefix);
    int line = 0;
    while (text.size() < chars) {
        text.append(QStringLiteral("  item %1 名称 value, more text here\n").arg(line++));
    }
    return text;
}

}  // namespace quillet::bench
