// buildLines, buildCells and isSameText on arbitrary UTF-16, lone surrogates
// included.
#include "core/lines.h"
#include "require.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

using quillet::isLineBreak;

// Bytes below 0x20 stand for the code units that matter here, so that short
// inputs reach every newline and space kind; the rest are Latin-1.
constexpr std::array<char16_t, 32> kInteresting = {
    u'\n',  u'\r',  u'\v',  u'\f',  0x0085, 0x2028, 0x2029, u'\t',  u' ',   0x00A0, 0x1680,
    0x2000, 0x200A, 0x202F, 0x205F, 0x3000, 0x200B, 0xFEFF, 0x0301, 0x00E9, u'e',   0x4E2D,
    0xD83D, 0xDE00, 0xDC00, 0xD800, 0xFFFF, 0x0000, 0x1E9B, 0x0323, 0x212B, u'A'};

// Mode 0: the bytes map one to one through the table above; mode 1: raw
// UTF-16 code units, little-endian.
QString textFrom(const std::uint8_t* data, std::size_t size) {
    QString text;
    if (size == 0) {
        return text;
    }
    if ((data[0] & 1) == 0) {
        for (std::size_t i = 1; i < size; ++i) {
            text.append(QChar(data[i] < 0x20 ? kInteresting[data[i]] : char16_t{data[i]}));
        }
    } else {
        for (std::size_t i = 1; i + 1 < size; i += 2) {
            text.append(QChar(static_cast<char16_t>(data[i] | (data[i + 1] << 8))));
        }
    }
    return text;
}

// A cell as spreadsheets write it: quoted when it holds a tab, a newline or
// a quote.
QString written(const QString& cell) {
    for (const QChar c : cell) {
        if (c == u'\t' || c == u'"' || isLineBreak(c.unicode())) {
            return u'"' + QString(cell).replace(u'"', QStringLiteral("\"\"")) + u'"';
        }
    }
    return cell;
}

// Cells are trimmed, rows rise from 0 and are never all empty, and written out
// as a spreadsheet would the cells read back the same. Without tabs or
// quotes they are the lines.
void checkCells(const QString& text, const QStringList& lines) {
    const quillet::CellRows rows = quillet::buildCells(text);
    require(rows.rowStarts.value(0) == 0 && rows.rowStarts.isEmpty() == rows.cells.isEmpty());
    QString rewritten;
    for (qsizetype row = 0; row < rows.rowStarts.size(); ++row) {
        const qsizetype start = rows.rowStarts[row];
        const QStringList cells =
            rows.cells.sliced(start, rows.rowStarts.value(row + 1, rows.cells.size()) - start);
        require(!cells.isEmpty() && cells.join(QString()).size() > 0);
        for (const QString& cell : cells) {
            require(cell == QStringView(cell).trimmed());
            rewritten +=
                (&cell == &cells.front() ? QString() : QStringLiteral("\t")) + written(cell);
        }
        rewritten += u'\n';
    }
    require(quillet::buildCells(rewritten) == rows);
    require(text.contains(u'\t') || text.contains(u'"') || rows.cells == lines);
}

qsizetype countKept(QStringView text) {
    qsizetype count = 0;
    for (const QChar c : text) {
        count += c.isSpace() ? 0 : 1;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = textFrom(data, size);
    const QStringList lines = quillet::buildLines(text);

    qsizetype from = 0;
    qsizetype kept = 0;
    for (const QString& line : lines) {
        require(!line.isEmpty());
        require(!line.front().isSpace() && !line.back().isSpace());
        for (const QChar c : line) {
            require(!isLineBreak(c.unicode()));
        }
        // Each line is a piece of the text, after the previous one.
        const qsizetype at = text.indexOf(line, from);
        require(at >= 0);
        from = at + line.size();
        kept += countKept(line);
    }
    // Only spaces and newlines are dropped: every other character is in a line.
    require(kept == countKept(text));
    // The lines are already built: one per line, unchanged.
    require(quillet::buildLines(lines.join(u'\n')) == lines);
    checkCells(text, lines);

    const qsizetype half = text.size() / 2;
    const QString a = text.first(half);
    const QString b = text.sliced(half);
    require(quillet::isSameText(a, a) && quillet::isSameText(b, b));
    require(quillet::isSameText(a, b) == quillet::isSameText(b, a));
    if (lines.size() >= 2) {
        require(quillet::isSameText(lines[0], lines[1]) == quillet::isSameText(lines[1], lines[0]));
    }
    return 0;
}
