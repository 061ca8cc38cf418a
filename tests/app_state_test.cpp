#include "paste/app_state.h"

#include "platform/fakes/in_memory_settings_store.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

TEST(EncodeAppState, WritesCompactJsonInFixedMemberOrder) {
    EXPECT_EQ(encodeAppState(AppState{}),
              R"({"lines":[],"currentIndex":0,"sourceClipboardContent":""})");
    EXPECT_EQ(encodeAppState(AppState{{u"a"_s, u"b c"_s}, 1, u"a\nb c"_s}),
              R"({"lines":["a","b c"],"currentIndex":1,"sourceClipboardContent":"a\nb c"})");
}

TEST(EncodeAppState, EscapesQuotesBackslashesAndControlsAndKeepsUnicodeRaw) {
    const QString line = u"q\"b\\s/\b\f\n\r\t\u0001\u001F\u007F\u0000é中😀\u2028"_s;
    const QByteArray expected =
        "\"q\\\"b\\\\s/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\\u0000" + u"é中😀\u2028"_s.toUtf8() + "\"";
    EXPECT_EQ(encodeAppState(AppState{{line}, 0, line}),
              "{\"lines\":[" + expected +
                  "],\"currentIndex\":0,\"sourceClipboardContent\":" + expected + "}");
}

TEST(DecodeAppState, RoundTripsEveryKindOfText) {
    QString allControls;
    for (char16_t c = 0; c < 0x20; ++c) {
        allControls.append(QChar(c));
    }
    const std::vector<AppState> states = {
        AppState{},
        AppState{{u"第一行"_s, u"😀 emoji 👍🏽"_s, u"\"quoted\" \\ back"_s},
                 2,
                 u"第一行\r\n😀 emoji 👍🏽\n\n\"quoted\" \\ back"_s},
        AppState{{allControls, u"\u0085\u2028\u2029\uFEFF"_s}, 7, allControls + u"\u007F"_s},
        AppState{{}, 0, u"   \t\n"_s},
        AppState{{u"x"_s}, std::numeric_limits<std::int64_t>::max(), u"x"_s},
    };
    for (const AppState& state : states) {
        SCOPED_TRACE(encodeAppState(state).toStdString());
        EXPECT_EQ(decodeAppState(encodeAppState(state)), state);
    }
}

TEST(DecodeAppState, AcceptsAnyMemberOrderWhitespaceAndExtraMembers) {
    const AppState expected{{u"a"_s}, 3, u"a"_s};
    for (
        const QByteArray& json : {
            R"({"sourceClipboardContent":"a","currentIndex":3,"lines":["a"]})"_ba,
            R"( { "lines" : [ "a" ] ,
                  "currentIndex" : 3 , "sourceClipboardContent" : "a" } )"_ba,
            R"({"version":2,"lines":["a"],"extra":{"x":[null]},"currentIndex":3,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["\u0061"],"currentIndex":3,"sourceClipboardContent":"\u0061"})"_ba,
        }) {
        SCOPED_TRACE(json.toStdString());
        EXPECT_EQ(decodeAppState(json), expected);
    }
}

TEST(DecodeAppState, RefusesAnythingButTheExactShape) {
    for (
        const QByteArray& json : {
            ""_ba,
            "not json"_ba,
            R"(["a"])"_ba,
            R"("text")"_ba,
            R"({"lines":["a"],"currentIndex":0,"sourceClipboardContent":"a"} x)"_ba,
            R"({"lines":["a"],"currentIndex":0,"sourceClipboardContent":"a")"_ba,
            // a member missing or null
            R"({"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":0})"_ba,
            R"({"lines":null,"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":null,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":0,"sourceClipboardContent":null})"_ba,
            // an index that is not a whole non-negative number
            R"({"lines":["a"],"currentIndex":"0","sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":true,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":1.5,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":1e30,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":-1,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":9223372036854775808,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":[0],"sourceClipboardContent":"a"})"_ba,
            // lines or source of the wrong type
            R"({"lines":"a","currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":{"0":"a"},"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a",1],"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a",null],"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":[["a"]],"currentIndex":0,"sourceClipboardContent":"a"})"_ba,
            R"({"lines":["a"],"currentIndex":0,"sourceClipboardContent":["a"]})"_ba,
            R"({"lines":["a"],"currentIndex":0,"sourceClipboardContent":0})"_ba,
        }) {
        SCOPED_TRACE(json.toStdString());
        EXPECT_EQ(decodeAppState(json), std::nullopt);
    }
}

TEST(DecodeAppState, ReadsBigIndicesExactly) {
    // Above 2^53 a double cannot hold every integer; the index must not be rounded.
    for (const std::int64_t index :
         {std::int64_t{9007199254740993}, std::numeric_limits<std::int64_t>::max() - 1}) {
        const QByteArray json = R"({"lines":[],"currentIndex":)" + QByteArray::number(index) +
                                R"(,"sourceClipboardContent":""})";
        const auto state = decodeAppState(json);
        ASSERT_TRUE(state.has_value()) << json.toStdString();
        EXPECT_EQ(state->currentIndex, index);
    }
}

TEST(AppStateSettings, SavesTheEncodingAndLoadsOnlyStoredData) {
    const QString key = u"appState"_s;
    InMemorySettingsStore settings;
    EXPECT_EQ(loadState(settings), AppState{}) << "nothing stored";

    const AppState state{{u"a"_s, u"中"_s}, 1, u"a\n中"_s};
    ASSERT_TRUE(saveState(settings, state));
    EXPECT_EQ(settings.data(key), encodeAppState(state));
    EXPECT_EQ(loadState(settings), state);

    // The same JSON stored as text is not the run.
    settings.setRaw(key, QString::fromUtf8(encodeAppState(state)));
    EXPECT_EQ(loadState(settings), AppState{});
    settings.setRaw(key, QByteArray("{\"lines\":[\"a\"]}"));
    EXPECT_EQ(loadState(settings), AppState{});

    settings.setWritable(false);
    EXPECT_FALSE(saveState(settings, state));
}

}  // namespace
}  // namespace quillet
