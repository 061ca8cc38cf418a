#include "core/app_state.h"

#include <QStringDecoder>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace quillet {

namespace {

const QString kLines = QStringLiteral("lines");
const QString kCurrentIndex = QStringLiteral("currentIndex");
const QString kSource = QStringLiteral("sourceClipboardContent");
const QString kRowStarts = QStringLiteral("rowStarts");

bool validRowStarts(const QList<qsizetype>& starts, qsizetype lines) {
    if (starts.isEmpty()) {
        return true;
    }
    for (qsizetype i = 1; i < starts.size(); ++i) {
        if (starts[i] <= starts[i - 1]) {
            return false;
        }
    }
    return starts.front() == 0 && starts.back() < lines;
}

bool isJsonSpecial(unsigned char byte) {
    return byte < 0x20 || byte == '"' || byte == '\\';
}

// The first quote, backslash or control character at or after `from`: eight
// bytes at a time, since strings here run to megabytes of plain text.
const char* findJsonSpecial(const char* from, const char* end) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    const auto hasZeroByte = [](std::uint64_t word) { return (word - kOnes) & ~word & kHighs; };
    while (end - from >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, from, sizeof word);
        const std::uint64_t below20 = (word - kOnes * 0x20) & ~word & kHighs;
        if ((below20 | hasZeroByte(word ^ (kOnes * '"')) | hasZeroByte(word ^ (kOnes * '\\'))) !=
            0) {
            break;
        }
        from += 8;
    }
    while (from != end && !isJsonSpecial(static_cast<unsigned char>(*from))) {
        ++from;
    }
    return from;
}

// Escapes what JSON requires and copies everything else in runs: the text
// can be megabytes long and is mostly plain.
void appendJsonString(QByteArray& out, const QString& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const QByteArray utf8 = text.toUtf8();
    const char* const data = utf8.constData();
    const qsizetype size = utf8.size();
    out.append('"');
    qsizetype runStart = 0;
    for (qsizetype i = 0; (i = findJsonSpecial(data + i, data + size) - data) < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        out.append(data + runStart, i - runStart);
        runStart = i + 1;
        switch (byte) {
            case '"':
                out.append("\\\"", 2);
                break;
            case '\\':
                out.append("\\\\", 2);
                break;
            case '\n':
                out.append("\\n", 2);
                break;
            case '\r':
                out.append("\\r", 2);
                break;
            case '\t':
                out.append("\\t", 2);
                break;
            case '\b':
                out.append("\\b", 2);
                break;
            case '\f':
                out.append("\\f", 2);
                break;
            default: {
                const char escaped[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
                out.append(escaped, sizeof escaped);
            }
        }
    }
    out.append(data + runStart, size - runStart);
    out.append('"');
}

// A strict reader (RFC 8259) for the one object the run is stored as.
class JsonReader {
public:
    explicit JsonReader(QByteArrayView json) : p_(json.begin()), end_(json.end()) {}

    std::optional<AppState> readAppState() {
        std::optional<QStringList> lines;
        std::optional<std::int64_t> index;
        std::optional<QString> source;
        QList<qsizetype> rowStarts;
        skipSpace();
        if (!consume('{')) {
            return std::nullopt;
        }
        skipSpace();
        if (!consume('}')) {
            do {
                skipSpace();
                const std::optional<QString> key = readString();
                skipSpace();
                if (!key || !consume(':')) {
                    return std::nullopt;
                }
                skipSpace();
                bool ok = true;
                if (*key == kLines) {
                    lines = readStringArray();
                    ok = lines.has_value();
                } else if (*key == kCurrentIndex) {
                    index = readWholeNumber();
                    ok = index.has_value();
                } else if (*key == kSource) {
                    source = readString();
                    ok = source.has_value();
                } else if (*key == kRowStarts) {
                    ok = readIndexArray(rowStarts);
                } else {
                    ok = skipValue(0);
                }
                skipSpace();
                if (!ok) {
                    return std::nullopt;
                }
            } while (consume(','));
            if (!consume('}')) {
                return std::nullopt;
            }
        }
        skipSpace();
        if (p_ != end_ || !lines || !index || !source || *index < 0 ||
            !validRowStarts(rowStarts, lines->size())) {
            return std::nullopt;
        }
        return AppState{std::move(*lines), *index, std::move(*source), std::move(rowStarts)};
    }

private:
    static constexpr int kMaxDepth = 256;

    void skipSpace() {
        while (p_ != end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) {
            ++p_;
        }
    }

    bool consume(char c) {
        if (p_ != end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }

    bool consumeWord(std::string_view word) {
        if (end_ - p_ < static_cast<std::ptrdiff_t>(word.size()) ||
            std::string_view(p_, word.size()) != word) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    std::optional<char16_t> readHex4() {
        if (end_ - p_ < 4) {
            return std::nullopt;
        }
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigit(*p_++);
            if (digit < 0) {
                return std::nullopt;
            }
            value = value * 16 + digit;
        }
        return static_cast<char16_t>(value);
    }

    static void appendUtf8(QByteArray& out, char32_t code) {
        if (code < 0x80) {
            out.append(static_cast<char>(code));
        } else if (code < 0x800) {
            out.append(static_cast<char>(0xC0 | (code >> 6)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.append(static_cast<char>(0xE0 | (code >> 12)));
            out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.append(static_cast<char>(0xF0 | (code >> 18)));
            out.append(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.append(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.append(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    // One escape after the backslash; false for anything JSON does not allow,
    // lone surrogates included.
    bool readEscape(QByteArray& out) {
        if (p_ == end_) {
            return false;
        }
        switch (*p_++) {
            case '"':
                out.append('"');
                return true;
            case '\\':
                out.append('\\');
                return true;
            case '/':
                out.append('/');
                return true;
            case 'b':
                out.append('\b');
                return true;
            case 'f':
                out.append('\f');
                return true;
            case 'n':
                out.append('\n');
                return true;
            case 'r':
                out.append('\r');
                return true;
            case 't':
                out.append('\t');
                return true;
            case 'u':
                break;
            default:
                return false;
        }
        const std::optional<char16_t> unit = readHex4();
        if (!unit || QChar::isLowSurrogate(*unit)) {
            return false;
        }
        if (!QChar::isHighSurrogate(*unit)) {
            appendUtf8(out, *unit);
            return true;
        }
        if (!consumeWord("\\u")) {
            return false;
        }
        const std::optional<char16_t> low = readHex4();
        if (!low || !QChar::isLowSurrogate(*low)) {
            return false;
        }
        appendUtf8(out, QChar::surrogateToUcs4(*unit, *low));
        return true;
    }

    std::optional<QString> readString() {
        if (!consume('"')) {
            return std::nullopt;
        }
        QByteArray escaped;  // used only once an escape turns up
        const char* run = p_;
        for (;;) {
            p_ = findJsonSpecial(p_, end_);
            if (p_ == end_) {
                return std::nullopt;
            }
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                break;
            }
            if (c < 0x20) {
                return std::nullopt;
            }
            if (c == '\\') {
                escaped.append(run, p_ - run);
                ++p_;
                if (!readEscape(escaped)) {
                    return std::nullopt;
                }
                run = p_;
                continue;
            }
        }
        const QByteArrayView tail(run, p_ - run);
        ++p_;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = escaped.isEmpty() && run != nullptr
                           ? QString(utf8(tail))
                           : QString(utf8(escaped.append(tail.data(), tail.size())));
        if (utf8.hasError()) {
            return std::nullopt;
        }
        return text;
    }

    std::optional<QStringList> readStringArray() {
        if (!consume('[')) {
            return std::nullopt;
        }
        QStringList strings;
        skipSpace();
        if (consume(']')) {
            return strings;
        }
        do {
            skipSpace();
            std::optional<QString> text = readString();
            if (!text) {
                return std::nullopt;
            }
            strings.append(std::move(*text));
            skipSpace();
        } while (consume(','));
        if (!consume(']')) {
            return std::nullopt;
        }
        return strings;
    }

    bool readIndexArray(QList<qsizetype>& numbers) {
        numbers.clear();
        if (!consume('[')) {
            return false;
        }
        skipSpace();
        if (consume(']')) {
            return true;
        }
        do {
            skipSpace();
            const std::optional<std::int64_t> number = readWholeNumber();
            if (!number) {
                return false;
            }
            numbers.append(static_cast<qsizetype>(*number));
            skipSpace();
        } while (consume(','));
        return consume(']');
    }

    // The text of a number as JSON writes it; sets isWhole when it has
    // neither fraction nor exponent.
    std::optional<std::string_view> readNumberText(bool& isWhole) {
        const char* start = p_;
        consume('-');
        if (consume('0')) {
        } else if (p_ != end_ && *p_ >= '1' && *p_ <= '9') {
            while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
                ++p_;
            }
        } else {
            return std::nullopt;
        }
        isWhole = true;
        const auto digits = [this] {
            const char* first = p_;
            while (p_ != end_ && *p_ >= '0' && *p_ <= '9') {
                ++p_;
            }
            return p_ != first;
        };
        if (consume('.')) {
            isWhole = false;
            if (!digits()) {
                return std::nullopt;
            }
        }
        if (consume('e') || consume('E')) {
            isWhole = false;
            if (!consume('+')) {
                consume('-');
            }
            if (!digits()) {
                return std::nullopt;
            }
        }
        return std::string_view(start, static_cast<std::size_t>(p_ - start));
    }

    // An index: a whole number in 64 bits, also when written as 3.0 or 3e0.
    std::optional<std::int64_t> readWholeNumber() {
        bool isWhole = false;
        const std::optional<std::string_view> text = readNumberText(isWhole);
        if (!text) {
            return std::nullopt;
        }
        if (isWhole) {
            std::int64_t value = 0;
            const auto [end, error] =
                std::from_chars(text->data(), text->data() + text->size(), value);
            if (error != std::errc() || end != text->data() + text->size()) {
                return std::nullopt;
            }
            return value;
        }
        const double value = std::strtod(std::string(*text).c_str(), nullptr);
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        if (!(value > -kLimit && value < kLimit) || std::trunc(value) != value) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(value);
    }

    // Any value, checked and dropped: members this program does not know.
    bool skipValue(int depth) {
        if (depth > kMaxDepth || p_ == end_) {
            return false;
        }
        switch (*p_) {
            case '"':
                return readString().has_value();
            case 't':
                return consumeWord("true");
            case 'f':
                return consumeWord("false");
            case 'n':
                return consumeWord("null");
            case '[':
            case '{': {
                const bool isObject = *p_++ == '{';
                const char close = isObject ? '}' : ']';
                skipSpace();
                if (consume(close)) {
                    return true;
                }
                do {
                    skipSpace();
                    if (isObject) {
                        if (!readString()) {
                            return false;
                        }
                        skipSpace();
                        if (!consume(':')) {
                            return false;
                        }
                        skipSpace();
                    }
                    if (!skipValue(depth + 1)) {
                        return false;
                    }
                    skipSpace();
                } while (consume(','));
                return consume(close);
            }
            default: {
                bool isWhole = false;
                return readNumberText(isWhole).has_value();
            }
        }
    }

    const char* p_;
    const char* end_;
};

}  // namespace

QByteArray encodeIndex(std::int64_t index) {
    QByteArray field = QByteArray::number(static_cast<qlonglong>(index));
    return field.leftJustified(kIndexFieldWidth, ' ', true);
}

EncodedAppState encodeAppState(const AppState& state) {
    constexpr qsizetype kSector = 512;
    constexpr char kIndexMember[] = ",\"currentIndex\":";
    QByteArray out;
    qsizetype size =
        state.sourceClipboardContent.size() * 2 + state.rowStarts.size() * 12 + kSector + 64;
    for (const QString& line : state.lines) {
        size += line.size() * 2 + 3;
    }
    out.reserve(size);
    out.append("{\"lines\":[");
    for (qsizetype i = 0; i < state.lines.size(); ++i) {
        if (i > 0) {
            out.append(',');
        }
        appendJsonString(out, state.lines[i]);
    }
    out.append(']');
    if (!state.rowStarts.isEmpty()) {
        out.append(",\"rowStarts\":[");
        for (qsizetype i = 0; i < state.rowStarts.size(); ++i) {
            if (i > 0) {
                out.append(',');
            }
            out.append(QByteArray::number(state.rowStarts[i]));
        }
        out.append(']');
    }
    out.append(",\"sourceClipboardContent\":");
    appendJsonString(out, state.sourceClipboardContent);
    // Spaces move the field into the next sector when it would straddle two,
    // so that rewriting it is one sector's write.
    const qsizetype fieldAt = out.size() + qsizetype{sizeof kIndexMember} - 1;
    if (fieldAt % kSector + kIndexFieldWidth > kSector) {
        out.append(kSector - fieldAt % kSector, ' ');
    }
    out.append(kIndexMember);
    const qsizetype indexOffset = out.size();
    out.append(encodeIndex(state.currentIndex));
    out.append('}');
    return {out, indexOffset};
}

std::optional<AppState> decodeAppState(QByteArrayView json) {
    return JsonReader(json).readAppState();
}

}  // namespace quillet
