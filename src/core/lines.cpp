#include "core/lines.h"

#include <optional>

namespace quillet {

namespace {

bool endsCell(QChar c) {
    return c == u'\t' || isLineBreak(c.unicode());
}

struct QuotedCell {
    QString text;
    qsizetype end;  // on the tab or newline after the closing quote, or the text's end
};

// The quoted cell whose opening quote is at `from`; none when its quotes do
// not close right before a tab, a newline or the end. The scan ends at the
// first quote that is not doubled.
std::optional<QuotedCell> quotedCell(QStringView text, qsizetype from) {
    QString cell;
    qsizetype run = from + 1;
    for (qsizetype i = run; i < text.size(); ++i) {
        if (text[i] != u'"') {
            continue;
        }
        cell += text.sliced(run, i - run);
        if (i + 1 < text.size() && text[i + 1] == u'"') {
            run = ++i;  // the second quote of the pair starts the next run
            continue;
        }
        if (i + 1 < text.size() && !endsCell(text[i + 1])) {
            return std::nullopt;
        }
        return QuotedCell{std::move(cell), i + 1};
    }
    return std::nullopt;
}

}  // namespace

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

CellRows buildCells(QStringView text) {
    CellRows rows;
    const qsizetype size = text.size();
    qsizetype at = 0;
    while (at < size) {
        const qsizetype rowStart = rows.cells.size();
        bool blank = true;
        qsizetype end = at;
        for (;;) {
            std::optional<QuotedCell> quoted;
            if (at < size && text[at] == u'"') {
                quoted = quotedCell(text, at);
            }
            QString cell;
            if (quoted) {
                cell = quoted->text.trimmed();
                end = quoted->end;
            } else {
                for (end = at; end < size && !endsCell(text[end]); ++end) {
                }
                cell = text.sliced(at, end - at).trimmed().toString();
            }
            blank = blank && cell.isEmpty();
            rows.cells.append(std::move(cell));
            if (end == size || text[end] != u'\t') {
                break;
            }
            at = end + 1;  // a tab at the very end still leaves an empty cell after it
        }
        if (blank) {
            rows.cells.resize(rowStart);
        } else {
            rows.rowStarts.append(rowStart);
        }
        at = end + 1;
    }
    return rows;
}

bool isSameText(const QString& a, const QString& b) {
    if (a == b) {
        return true;
    }
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

}  // namespace quillet
