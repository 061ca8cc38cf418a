// The vocabulary: keys, lines, cells, the run's JSON and its moves.

#include "core/app_state.h"
#include "core/cells.h"
#include "core/keys.h"
#include "core/lines.h"
#include "core/paste_method.h"
#include "core/run_moves.h"
#include "core/run_rows.h"
#include "core/texts.h"

#include <gtest/gtest.h>

#include <QSet>

#include <limits>
#include <tuple>

namespace quillet {
namespace {

using namespace modifier;
using namespace Qt::StringLiterals;

// Keys without a name (0x2F, 0x0A, 0x40, 0x72, 0x75) leave only the symbols.
TEST(Keys, ShortcutTextOrdersSymbolsAndPicksTheKeyName) {
    const std::tuple<KeyCode, ModifierFlags, QString, QString> cases[] = {
        {0x09, 0x1C0000, u"⌃⌥⌘V"_s, u"⌃⌥⌘V"_s},
        {0x00, kShortcutMask, u"⌃⌥⇧⌘A"_s, u"⌃⌥⇧⌘A"_s},
        {0x2B, kCommand | kShift, u"⇧⌘,"_s, u"⇧⌘,"_s},
        {0x32, kOption | 0x10000, u"⌥`"_s, u"⌥`"_s},
        {0x7A, 0, u"F1"_s, {}},
        {0x24, kCommand, u"\u2318\u21A9\uFE0E"_s, {}},
        {0x4C, 0, u"Num \u21A9\uFE0E"_s, {}},
        {0x7E, 0, u"↑"_s, {}},
        {0x2F, kCommand, u"⌘"_s, {}},
        {0x40, 0, QString(), {}},
    };
    for (const auto& [code, modifiers, text, hint] : cases) {
        EXPECT_EQ(shortcutText(code, modifiers), text) << std::hex << code;
        EXPECT_EQ(shortcutHint({code, modifiers}), hint) << std::hex << code;
    }
}

TEST(Keys, NamesCoverOnlyTheirRangesAndEveryStandaloneKeyShows) {
    QSet<QString> names;
    for (int code = 0; code <= 0xFFFF; ++code) {
        const auto keyCode = static_cast<KeyCode>(code);
        if (code < 0x24 || code > 0x7E) {
            EXPECT_EQ(specialKeyCodeName(keyCode), QString()) << code;
        }
        if (standaloneKeyCodes.contains(keyCode)) {
            EXPECT_FALSE(shortcutText(keyCode, 0).isEmpty()) << code;
        }
        if (const auto name = keyCodeToChar(keyCode)) {
            EXPECT_LE(code, 50);
            EXPECT_EQ(*name, name->toUpper()) << code;
            names.insert(*name);
        }
    }
    // 0x0A, Return, 0x2F, Tab and Space have none; the rest are distinct.
    EXPECT_EQ(names.size(), 51 - 5);
}

// Key code 0 is the A key: only a code not stored, or A without modifiers
// (never a shortcut), reads as none.
TEST(Keys, StoredValuesOutsideTheWrittenRangesReadAsNone) {
    using S = std::optional<Shortcut>;
    using N = std::optional<std::int64_t>;
    const std::tuple<N, N, S> cases[] = {
        {0, 0x100000, Shortcut{0, kCommand}},
        {0, 0, std::nullopt},
        {0, std::nullopt, std::nullopt},
        {std::nullopt, 0x100000, std::nullopt},
        {9, std::nullopt, Shortcut{9, 0}},
        {-9, 0x100000, std::nullopt},
        {(std::int64_t{1} << 32) | 9, 0x100000, std::nullopt},
        {0x10000, 0, std::nullopt},
        {9, -1, std::nullopt},
        {0xFFFF, 0, Shortcut{0xFFFF, 0}},
        {0x60, 0x100000, Shortcut{0x60, kCommand}},
    };
    for (const auto& [code, modifiers, expected] : cases) {
        EXPECT_EQ(shortcutFromStored(code, modifiers), expected)
            << code.value_or(-1) << ' ' << modifiers.value_or(-1);
    }
}

TEST(Texts, LanguageFollowsTheStoredChoiceElseTheSystem) {
    const QStringList zh{u"zh-Hans-CN"_s}, en{u"en-US"_s};
    EXPECT_EQ(languageFor(u"zh"_s, en), Language::Chinese);
    EXPECT_EQ(languageFor(u"en"_s, zh), Language::English);
    for (const std::optional<QString>& other : {std::optional<QString>{}, {u"auto"_s}, {u"ZH"_s}}) {
        EXPECT_EQ(languageFor(other, zh), Language::Chinese);
        EXPECT_EQ(languageFor(other, en), Language::English);
        EXPECT_EQ(languageFor(other, {}), Language::English);
    }
}

TEST(PasteMethods, TerminalsAndEmacsGetTheirKeyAndTheUsersListsComeFirst) {
    EXPECT_EQ(pasteMethodFor(u"XTerm"_s), PasteMethod::Typing);
    EXPECT_EQ(pasteMethodFor(u"Emacs"_s), PasteMethod::ShiftInsert);
    EXPECT_EQ(pasteMethodFor(u"Xfce4-terminal"_s), PasteMethod::ControlShiftV);
    EXPECT_EQ(pasteMethodFor(u"org.gnome.Terminal"_s), PasteMethod::ControlShiftV);
    EXPECT_EQ(pasteMethodFor(u"Mousepad"_s), PasteMethod::ControlV);
    EXPECT_EQ(pasteMethodFor({}), PasteMethod::ControlV);
    const PasteMethodOverrides mine{{u"mousepad"_s}, {u"kitty"_s}, {u"xterm"_s}};
    EXPECT_EQ(pasteMethodFor(u"Mousepad"_s, mine), PasteMethod::ControlShiftV);
    EXPECT_EQ(pasteMethodFor(u"kitty"_s, mine), PasteMethod::Typing);
    EXPECT_EQ(pasteMethodFor(u"XTerm"_s, mine), PasteMethod::ShiftInsert);
}

TEST(Lines, EveryNewlineSplitsAndBlankLinesGo) {
    for (const QString& br :
         {u"\n"_s, u"\v"_s, u"\f"_s, u"\r"_s, u"\r\n"_s, u"\u0085"_s, u"\u2028"_s, u"\u2029"_s}) {
        SCOPED_TRACE(QString::number(br.front().unicode(), 16).toStdString());
        EXPECT_EQ(buildLines(br + br + u"one"_s + br + br + br + u"two"_s + br),
                  (QStringList{u"one"_s, u"two"_s}));
    }
    EXPECT_TRUE(buildLines(u" \t\r\n\u3000\n\u00A0"_s).isEmpty());
}

TEST(Lines, TrimsWhiteSpaceAtBothEndsAndKeepsTheRest) {
    EXPECT_EQ(buildLines(u" \t first  line \t\n\u3000\u00A0\n\u2003second\u00A0line\u202F"_s),
              (QStringList{u"first  line"_s, u"second\u00A0line"_s}));
    // Invisible characters that are not white space are content.
    for (const char16_t c : {u'\u200B', u'\uFEFF', u'\u180E', u'\u001C'}) {
        const QString s(QChar{c});
        EXPECT_EQ(buildLines(u" "_s + s + u"x"_s + s + u"\t"_s), QStringList{s + u"x"_s + s});
    }
    // Surrogate pairs stay whole at both ends.
    EXPECT_EQ(buildLines(u"\u3000😀 x 😀\u3000"_s), QStringList{u"😀 x 😀"_s});
}

// As spreadsheets write a range: blank rows go, blank cells in a row stay,
// quoted cells hold tabs, newlines and doubled quotes; stray quotes are text.
TEST(Cells, TabsSplitRowsAndQuotedCellsHoldWhatWouldSplitThem) {
    const std::tuple<QString, QStringList, QList<qsizetype>> cases[] = {
        {u"a\tb\n\t c\t\n \t \n\"x\ty\"\t\"say \"\"hi\"\"\"\r\n"_s,
         {u"a"_s, u"b"_s, {}, u"c"_s, {}, u"x\ty"_s, u"say \"hi\""_s},
         {0, 2, 5}},
        {u"\" two\r\nlines \"\tz\t"_s, {u"two\r\nlines"_s, u"z"_s, {}}, {0}},
        {u"\"a\"b\tc\n\"open\nnext\n\"\"\t"_s,
         {u"\"a\"b"_s, u"c"_s, u"\"open"_s, u"next"_s},
         {0, 2, 3}},
    };
    for (const auto& [text, cells, starts] : cases) {
        EXPECT_EQ(buildCells(text), (CellRows{cells, starts})) << text.toStdString();
    }
}

TEST(Cells, EachCellKnowsItsPlaceItsNameAndTheKeyAfterIt) {
    // Rows of 3, 1 and 28 cells.
    AppState run = newRun(u"a\t\tc\nd\n"_s + u"x\t"_s.repeated(27) + u"y"_s, true);
    ASSERT_EQ(run.rowStarts, (QList<qsizetype>{0, 3, 4}));
    const std::tuple<qsizetype, QString, FollowKey> cases[] = {
        {0, u"A1"_s, FollowKey::Tab},   {1, u"B1"_s, FollowKey::Tab},
        {2, u"C1"_s, FollowKey::Enter}, {3, u"A2"_s, FollowKey::Enter},
        {30, u"AA3"_s, FollowKey::Tab}, {31, u"AB3"_s, FollowKey::Enter},
    };
    for (const auto& [index, name, key] : cases) {
        EXPECT_EQ(cellName(cellPlace(run, index)), name) << index;
        EXPECT_EQ(keyAfter(run, index, FollowKey::Enter), key) << index;
    }
    EXPECT_EQ(keyAfter(newRun(u"a\tb"_s, false), 0, FollowKey::Enter), FollowKey::Enter);
    run.currentIndex = 1;
    EXPECT_EQ(positionText(run, Language::English), u"row 1, cell 2 of 3 · next: (empty cell)");
    run.currentIndex = 3;
    EXPECT_EQ(positionText(run, Language::Chinese), u"第 2 行，第 1 格（共 1 格）· 下一格：d");
    run.currentIndex = 32;
    EXPECT_EQ(positionText(run, Language::English), u"All 3 rows pasted");
}

TEST(Lines, SameTextMeansCanonicallyEquivalent) {
    const std::tuple<QString, QString, bool> cases[] = {
        {u"caf\u00E9\nb"_s, u"cafe\u0301\nb"_s, true},
        {u"\u00C5"_s, u"\u212B"_s, true},
        {u"a\u0301\u0323"_s, u"a\u0323\u0301"_s, true},
        {u"\uFB01"_s, u"fi"_s, false},   // compatibility only
        {u"a\nb"_s, u"a\nb "_s, false},  // the raw texts count, untrimmed
        {u"a\nb"_s, u"a\r\nb"_s, false},
    };
    for (const auto& [a, b, same] : cases) {
        EXPECT_EQ(isSameText(a, b), same) << a.toStdString();  // symmetric: lines_fuzz
    }
}

TEST(AppStateJson, WritesJsonThatReadsBackWithTheIndexInAFieldOfItsOwn) {
    const EncodedAppState encoded = encodeAppState(AppState{{u"a"_s, u"b c"_s}, 1, u"a\nb c"_s});
    EXPECT_EQ(encoded.json, R"({"lines":["a","b c"],"sourceClipboardContent":"a\nb c",)"
                            R"("currentIndex":1                   })");
    EXPECT_EQ(encoded.json.mid(encoded.indexOffset, kIndexFieldWidth), encodeIndex(1));
    QString allControls;
    for (char16_t c = 0; c < 0x20; ++c) {
        allControls.append(QChar(c));
    }
    const QString line = u"q\"b\\s/\u007F\u0000é中😀\u2028"_s;
    EXPECT_TRUE(encodeAppState(AppState{{line}, 0, {}}).json.contains(u"é中😀\u2028"_s.toUtf8()))
        << "Unicode is written raw";
    for (const AppState& state : {
             AppState{},
             AppState{{line, u"😀 emoji 👍🏽"_s}, 2, u"第一行\r\n\"quoted\" \\ back"_s},
             AppState{{allControls, u"\u0085\u2028\u2029\uFEFF"_s}, 7, allControls},
             AppState{{u"x"_s}, std::numeric_limits<std::int64_t>::max(), u"x"_s},
             AppState{{u"a"_s, {}, u"b"_s}, 1, u"a\t\nb"_s, {0, 2}},
         }) {
        EXPECT_EQ(decodeAppState(encodeAppState(state).json), state);
    }
    // Whatever the length before it, the field never straddles a sector and
    // any index written into it reads back.
    for (qsizetype length = 430; length < 520; ++length) {
        EncodedAppState run = encodeAppState(AppState{{u"x"_s}, 0, QString(length, u'y')});
        EXPECT_LE(run.indexOffset % 512 + kIndexFieldWidth, 512) << length;
        run.json.replace(run.indexOffset, kIndexFieldWidth, encodeIndex(9223372036854775807));
        EXPECT_EQ(decodeAppState(run.json)->currentIndex, 9223372036854775807) << length;
    }
}

TEST(AppStateJson, ReadsWhatAnyEncoderWritesAndRefusesOtherShapes) {
    const AppState expected{{u"a"_s}, 3, u"a"_s};
    for (const QByteArray& json : {
             R"({"sourceClipboardContent":"a","currentIndex":3,"lines":["a"]})"_ba,
             R"( { "lines" : [ "\u0061" ] , "currentIndex" : 3.0 ,
                   "extra":{"x":[null,1e5]}, "sourceClipboardContent" : "a" } )"_ba,
         }) {
        EXPECT_EQ(decodeAppState(json), expected) << json.toStdString();
    }
    // Above 2^53 a double cannot hold every integer; the index must not be rounded.
    EXPECT_EQ(decodeAppState(R"({"lines":[],"currentIndex":9007199254740993,)"
                             R"("sourceClipboardContent":""})")
                  ->currentIndex,
              std::int64_t{9007199254740993});
    // The fuzzer compares the rest with QJsonDocument; these are the program's own rules.
    for (
        const QByteArray& json : {
            R"({"lines":["a"],"currentIndex":-1,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":1.5,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":"1","sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a",1],"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":0})"_ba,
            R"({"lines":["a"],"rowStarts":[1],"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a","b"],"rowStarts":[0,0],"currentIndex":0,"sourceClipboardContent":""})"_ba,
            R"({"lines":["a"],"rowStarts":[0,1],"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
        }) {
        EXPECT_EQ(decodeAppState(json), std::nullopt) << json.toStdString();
    }
}

TEST(RunMoves, MovesStopAtTheEdgesAndAJumpOutsideTheRunChangesNothing) {
    const QStringList abc{u"a"_s, u"b"_s, u"c"_s};
    const auto at = [&](std::int64_t index) { return AppState{abc, index, u"a\nb\nc"_s}; };
    const struct {
        std::int64_t from;
        RunMove move;
        std::int64_t to;
    } cases[] = {
        {0, RunMove::Back, 0},
        {1, RunMove::Back, 0},
        {3, RunMove::Back, 2},
        {0, RunMove::Skip, 1},
        {2, RunMove::Skip, 3},
        {3, RunMove::Skip, 3},
        {2, RunMove::StartOver, 0},
        {3, RunMove::StartOver, 0},
        // An index past the end, from an edited file, counts as the end.
        {9, RunMove::Back, 2},
        {9, RunMove::Skip, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        EXPECT_EQ(moved(at(c.from), c.move), at(c.to));
    }
    EXPECT_EQ(moved(AppState{}, RunMove::Skip), AppState{});
    EXPECT_EQ(moved(AppState{}, RunMove::Back), AppState{});
    EXPECT_EQ(movedTo(at(0), 2), at(2));
    EXPECT_EQ(movedTo(at(1), 3), at(1));
    EXPECT_EQ(movedTo(at(1), -1), at(1));
}

TEST(RunMoves, ThePositionNamesTheNextLineShortenedInBothLanguages) {
    const QStringList lines{u"London"_s, u"tab\there"_s, QString(60, u'x'),
                            u"a"_s + u"😀"_s.repeated(30)};
    const auto text = [&](std::int64_t index, Language language) {
        return positionText(AppState{lines, index, {}}, language);
    };
    EXPECT_EQ(text(0, Language::English), u"1 of 4 · next: London");
    EXPECT_EQ(text(0, Language::Chinese), u"第 1 行，共 4 行 · 下一行：London");
    EXPECT_EQ(text(1, Language::English), u"2 of 4 · next: tab here");
    EXPECT_EQ(text(2, Language::English), u"3 of 4 · next: "_s + QString(40, u'x') + u'…');
    // Cut between characters, never inside a surrogate pair.
    EXPECT_EQ(text(3, Language::English), u"4 of 4 · next: a"_s + u"😀"_s.repeated(19) + u'…');
    EXPECT_EQ(text(4, Language::English), u"All 4 lines pasted");
    EXPECT_EQ(text(4, Language::Chinese), u"4 行已全部粘贴");
    EXPECT_EQ(positionText(AppState{}, Language::English), u"No list: copy some lines");
}

TEST(RunRows, MarksAndTheRowsANewSnapshotRedraws) {
    const QStringList abcd{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
    const auto at = [&](std::int64_t index) { return AppState{abcd, index, {}}; };
    using Kind = RowChange::Kind;
    const struct {
        std::int64_t from;
        std::int64_t to;
        RowChange change;
    } cases[] = {
        {1, 1, {}},
        {1, 2, {Kind::Marks, 1, 2}},
        {3, 0, {Kind::Marks, 0, 3}},
        // A cursor at the end stands on no row, and one past it counts as the end.
        {2, 4, {Kind::Marks, 2, 3}},
        {9, 4, {}},
        {9, 3, {Kind::Marks, 3, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from * 10 + c.to);
        EXPECT_EQ(rowChange(at(c.from), at(c.to)), c.change);
    }
    // Equal lines that are not shared still move only the marks.
    const AppState copied{QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s}, 2, {}};
    EXPECT_EQ(rowChange(at(0), copied), (RowChange{Kind::Marks, 0, 2}));
    EXPECT_EQ(rowChange(at(0), AppState{{u"a"_s}, 0, {}}), (RowChange{Kind::Lines, 0, 0}));
    EXPECT_EQ(rowChange(at(2), AppState{}), (RowChange{Kind::Lines, 0, -1}));
    EXPECT_EQ(rowChange(AppState{}, AppState{}), RowChange{});

    EXPECT_EQ(rowMark(at(2), 1), RowMark::Pasted);
    EXPECT_EQ(rowMark(at(2), 2), RowMark::Next);
    EXPECT_EQ(rowMark(at(2), 3), RowMark::Ahead);
    EXPECT_EQ(rowMark(at(9), 3), RowMark::Pasted);
    EXPECT_EQ(nextRow(at(3)), 3);
    EXPECT_EQ(nextRow(at(4)), std::nullopt);
    EXPECT_EQ(nextRow(AppState{}), std::nullopt);
}

}  // namespace
}  // namespace quillet
