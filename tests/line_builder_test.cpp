#include "paste/line_builder.h"

#include <QChar>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

QString ch(char16_t c) {
    return QString(QChar(c));
}

// Every newline, CRLF as one.
const std::vector<QString> kBreaks = {u"\n"_s,   u"\v"_s,  u"\f"_s,    u"\r"_s,
                                      u"\r\n"_s, ch(0x85), ch(0x2028), ch(0x2029)};

std::vector<char16_t> trimmedSpaces() {
    std::vector<char16_t> spaces = {0x09, 0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                    0xA0, 0x1680, 0x202F, 0x205F, 0x3000, 0x2028, 0x2029};
    for (char16_t c = 0x2000; c <= 0x200A; ++c) {
        spaces.push_back(c);
    }
    return spaces;
}

// Look like blanks or separators but are content.
const std::vector<char16_t> kKeptChars = {0x200B, 0xFEFF, 0x180E, 0x1C, 0x1D, 0x1E, 0x1F};

TEST(BuildLines, EveryNewlineSplitsAndRunsOfThemLeaveNoEmptyLines) {
    for (const QString& br : kBreaks) {
        SCOPED_TRACE(QString::number(br.front().unicode(), 16).toStdString());
        EXPECT_EQ(buildLines(u"one"_s + br + u"two"_s), (QStringList{u"one"_s, u"two"_s}));
        EXPECT_EQ(buildLines(br + br + u"one"_s + br + br + br + u"two"_s + br),
                  (QStringList{u"one"_s, u"two"_s}));
        EXPECT_TRUE(buildLines(br + br).isEmpty());
    }
    // All kinds mixed in one text.
    EXPECT_EQ(buildLines(u"a\r\n\nb\u2029\u2028c\u0085\r\rd\v\fe"_s),
              (QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s}));
}

TEST(BuildLines, TrimsEveryWhitespaceFromBothEndsAndKeepsInnerWhitespace) {
    for (const char16_t c : trimmedSpaces()) {
        SCOPED_TRACE(QString::number(c, 16).toStdString());
        const QString s = ch(c);
        EXPECT_EQ(buildLines(s + s + u"x"_s + s), QStringList{u"x"_s});
        EXPECT_TRUE(buildLines(s + s + s).isEmpty()) << "a whitespace-only line is dropped";
        if (!isLineBreak(c)) {
            EXPECT_EQ(buildLines(s + u"x"_s + s + s + u"y"_s + s),
                      QStringList{u"x"_s + s + s + u"y"_s});
        }
    }
    EXPECT_EQ(buildLines(u" \t first  line \t\n\u3000\u00A0\n\u2003second\u00A0line\u202F"_s),
              (QStringList{u"first  line"_s, u"second\u00A0line"_s}));
}

TEST(BuildLines, KeepsInvisibleCharactersThatAreNotWhitespace) {
    for (const char16_t c : kKeptChars) {
        SCOPED_TRACE(QString::number(c, 16).toStdString());
        const QString s = ch(c);
        EXPECT_EQ(buildLines(u" "_s + s + u"x"_s + s + u"\t"_s), QStringList{s + u"x"_s + s});
        EXPECT_EQ(buildLines(s + u"\n"_s + s), (QStringList{s, s})) << "a lone one is a line";
    }
    // Surrogate pairs stay whole at both ends.
    EXPECT_EQ(buildLines(u"\u3000😀 x 😀\u3000"_s), QStringList{u"😀 x 😀"_s});
    EXPECT_TRUE(buildLines(u""_s).isEmpty());
}

// The trimmed set is exactly general category Z plus U+0009..U+000D and U+0085.
// (QChar::isSpace is the same set in Qt 6.4.)
TEST(IsTrimmedSpace, MatchesUnicodeCategoriesOverTheWholeBmp) {
    std::vector<char16_t> wronglyTrimmed;
    std::vector<char16_t> wronglyKept;
    for (char32_t u = 0; u <= 0xFFFF; ++u) {
        const auto c = static_cast<char16_t>(u);
        const QChar::Category category = QChar(c).category();
        const bool expected =
            category == QChar::Separator_Space || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph || (c >= 0x09 && c <= 0x0D) || c == 0x85;
        if (isTrimmedSpace(c) && !expected) {
            wronglyTrimmed.push_back(c);
        }
        if (!isTrimmedSpace(c) && expected) {
            wronglyKept.push_back(c);
        }
        if (isLineBreak(c)) {
            EXPECT_TRUE(isTrimmedSpace(c)) << "a newline at a line's end must go";
        }
    }
    EXPECT_TRUE(wronglyTrimmed.empty()) << "first: " << std::hex << int{wronglyTrimmed.front()};
    EXPECT_TRUE(wronglyKept.empty()) << "first: " << std::hex << int{wronglyKept.front()};
}

TEST(IsSameText, ComparesUnderCanonicalEquivalence) {
    struct Case {
        QString a;
        QString b;
        bool same;
    };
    const std::vector<Case> cases = {
        {u"caf\u00E9\nb"_s, u"cafe\u0301\nb"_s, true},   // precomposed vs decomposed
        {u"\u00C5"_s, u"\u212B"_s, true},                // singleton decomposition
        {u"a\u0301\u0323"_s, u"a\u0323\u0301"_s, true},  // combining marks reordered
        {u"\uFB01"_s, u"fi"_s, false},                   // compatibility only
        {u"a\nb"_s, u"a\nc"_s, false},
        {u"a\nb"_s, u"a\nb "_s, false},  // the raw texts count, untrimmed
        {u"a\nb"_s, u"a\r\nb"_s, false},
        {u""_s, u""_s, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.a + u" | "_s + c.b).toStdString());
        EXPECT_EQ(isSameText(c.a, c.b), c.same);
        EXPECT_EQ(isSameText(c.b, c.a), c.same);
    }
}

}  // namespace
}  // namespace quillet
