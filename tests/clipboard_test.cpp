// What both desktops' clipboards decide alike: formats, reads, put-backs and
// the fetch watch, with the owner played by a table.

#include "platform/clipboard_rules.h"
#include "platform/x11/selection_owner_x11.h"

#include <gtest/gtest.h>

#include <map>

namespace quillet::clipboard {
namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Outcome = Fetched::Outcome;
using Status = ClipboardRead::Status;

// An owner that answers each format as its table says and counts the asks.
struct Owner {
    std::vector<std::string> offered;
    std::map<std::string, Fetched> answers;
    std::vector<std::string> asked = {};

    std::optional<ClipboardRead> read(const std::atomic<bool>& cancelled = std::atomic<bool>{}) {
        ReadBudget budget(ReadLimits{}, cancelled);
        return readOffered(offered, budget, [&](std::size_t i) {
            asked.push_back(offered[i]);
            const auto at = answers.find(offered[i]);
            return at != answers.end() ? at->second : Fetched{Outcome::Refused};
        });
    }
};

std::map<QString, QByteArray> formatsOf(const ClipboardContent& content) {
    return {content.formats.begin(), content.formats.end()};
}

TEST(ClipboardFormats, KeepsMimeTypesTheUtf8TextAndHistoryMarksOnly) {
    for (const char* kept : {"image/png", "text/html", "UTF8_STRING", "x-kde-passwordManagerHint",
                             "application/x-copyq-hidden", "text/plain;charset=utf-8"}) {
        EXPECT_TRUE(isKeptFormat(kept)) << kept;
    }
    for (const char* skipped : {"TARGETS", "MULTIPLE", "TIMESTAMP", "PIXMAP", "TEXT", "STRING",
                                "COMPOUND_TEXT", "application/x-qt-image", "utf8_string"}) {
        EXPECT_FALSE(isKeptFormat(skipped)) << skipped;
    }
    EXPECT_TRUE(isTextFormat("Text/Plain;Charset=UTF-16"));
    EXPECT_TRUE(isTextFormat("STRING"));
    EXPECT_FALSE(isTextFormat("text/html"));
    EXPECT_FALSE(isTextFormat("x-kde-passwordManagerHint"));
    EXPECT_TRUE(isUtf8TextFormat("TEXT/PLAIN;CHARSET=UTF-8"));
    EXPECT_FALSE(isUtf8TextFormat("STRING"));
    EXPECT_FALSE(equalsIgnoringCase("text/plain", "text/plain;"));
}

// The text comes from the best name offered, whatever its case, once; its
// other UTF-8 names keep the very same bytes, the legacy ones are dropped.
TEST(ClipboardRead, TakesTheTextFromTheBestFormatOnceAndKeepsTheRest) {
    const QByteArray odd = "\xef\xbb\xbf\xff caf\xc3\xa9";
    Owner owner{{"TARGETS", "STRING", "UTF8_STRING", "Text/Plain;Charset=UTF-8", "text/html"},
                {{"STRING", {Outcome::Done, "latin"}},
                 {"UTF8_STRING", {Outcome::Done, "other"}},
                 {"Text/Plain;Charset=UTF-8", {Outcome::Done, odd}},
                 {"text/html", {Outcome::Done, "<b>x</b>"}}}};
    const ClipboardRead read = *owner.read();
    EXPECT_EQ(read.status, Status::Read);
    EXPECT_FALSE(read.partial);
    EXPECT_EQ(read.content.text, QString::fromUtf8(odd));
    EXPECT_EQ(owner.asked, (std::vector<std::string>{"Text/Plain;Charset=UTF-8", "text/html"}));
    EXPECT_EQ(read.content.formats,
              (std::vector<std::pair<QString, QByteArray>>{{u"UTF8_STRING"_s, odd},
                                                           {u"Text/Plain;Charset=UTF-8"_s, odd},
                                                           {u"text/html"_s, "<b>x</b>"_ba}}));
}

TEST(ClipboardRead, ARefusedTextFallsBackAndLatin1IsDecodedAsTheOwnerSays) {
    Owner owner{{"UTF8_STRING", "STRING"}, {{"STRING", {Outcome::Done, "caf\xe9"}}}};
    EXPECT_EQ(owner.read()->content.text, u"café"_s);
    // Nothing but the Latin-1 text: no format keeps it, the put-back makes it anew.
    EXPECT_TRUE(owner.read()->content.formats.empty());

    // An X owner names the type it gave: UTF-8 asked, Latin-1 given.
    Fetched latin1{Outcome::Done, "caf\xe9"};
    latin1.latin1 = true;
    owner = Owner{{"UTF8_STRING"}, {{"UTF8_STRING", latin1}}};
    const ClipboardContent read = owner.read()->content;
    EXPECT_EQ(read.text, u"café"_s);
    EXPECT_EQ(formatsOf(read)[u"UTF8_STRING"_s], "caf\xe9") << "put back as it was given";
}

// The text comes whole or the read fails; a format after it that misses the
// deadline ends the read, partial, unless the read was called off.
TEST(ClipboardRead, OutcomesOfTheTextAndOfTheFormatsAfterIt) {
    const auto readWith = [](Outcome text, Outcome html, bool cancelled = false) {
        Owner owner{{"UTF8_STRING", "text/html", "image/png"},
                    {{"UTF8_STRING", {text, "line"}},
                     {"text/html", {html, "<p>"}},
                     {"image/png", {Outcome::Done, "png"}}}};
        return owner.read(std::atomic<bool>{cancelled});
    };
    EXPECT_EQ(readWith(Outcome::NoAnswer, Outcome::Done)->status, Status::NoAnswer);
    EXPECT_EQ(readWith(Outcome::TooLarge, Outcome::Done)->status, Status::TooLarge);
    EXPECT_EQ(readWith(Outcome::Done, Outcome::TooLarge)->status, Status::TooLarge);
    EXPECT_FALSE(readWith(Outcome::Changed, Outcome::Done));
    EXPECT_FALSE(readWith(Outcome::Done, Outcome::Changed));

    const ClipboardRead late = *readWith(Outcome::Done, Outcome::NoAnswer);
    EXPECT_EQ(late.status, Status::Read);
    EXPECT_TRUE(late.partial);
    EXPECT_EQ(late.content.text, u"line"_s);
    EXPECT_FALSE(formatsOf(late.content).contains(u"image/png"_s)) << "the time was up";

    const ClipboardRead cancelled = *readWith(Outcome::Done, Outcome::NoAnswer, true);
    EXPECT_EQ(cancelled.status, Status::NoAnswer);
    EXPECT_EQ(cancelled.content, ClipboardContent{});

    const ClipboardRead refused = *readWith(Outcome::Done, Outcome::Refused);
    EXPECT_FALSE(refused.partial);
    EXPECT_EQ(formatsOf(refused.content),
              (std::map<QString, QByteArray>{{u"UTF8_STRING"_s, "line"}, {u"image/png"_s, "png"}}));
}

TEST(ClipboardRead, TheBudgetCountsEveryFormatAndEndsAtTheDeadlineOrACancel) {
    std::atomic<bool> cancelled = false;
    ReadBudget budget(ReadLimits{1h, 10}, cancelled);
    EXPECT_GT(budget.nextWait(), 0);
    EXPECT_LE(budget.nextWait(), 50) << "short slices, so that a cancel is seen";
    Owner owner{{"UTF8_STRING", "text/html"},
                {{"UTF8_STRING", {Outcome::Done, "1234"}}, {"text/html", {Outcome::Done, "56"}}}};
    ASSERT_TRUE(readOffered(owner.offered, budget,
                            [&](std::size_t i) { return owner.answers[owner.offered[i]]; }));
    EXPECT_EQ(budget.bytesLeft(), 4);
    EXPECT_TRUE(budget.fits(4));
    EXPECT_FALSE(budget.fits(5));
    cancelled = true;
    EXPECT_EQ(budget.nextWait(), 0);
    EXPECT_EQ(ReadBudget(ReadLimits{0ms, 10}, std::atomic<bool>{}).nextWait(), 0);
}

// Every byte comes back as it was; the text is added under its UTF-8 names
// only where no format carried it, and an empty clipboard stays empty.
TEST(ClipboardPutBack, EveryFormatByteForByteAndTheTextWhereNothingCarriedIt) {
    const QByteArray odd = "\xef\xbb\xbf\xc0\xaf";
    const ClipboardContent copied{QString::fromUtf8(odd),
                                  {{u"text/plain"_s, odd}, {u"image/png"_s, "png"_ba}}};
    EXPECT_EQ(putBackFormats(copied), (std::vector<std::pair<std::string, QByteArray>>{
                                          {"text/plain", odd}, {"image/png", "png"}}));
    EXPECT_EQ(utf8Text(copied), odd);
    const ClipboardContent latin1{u"café"_s, {{u"image/png"_s, "png"_ba}}};
    EXPECT_EQ(putBackFormats(latin1).size(), 3U);
    EXPECT_EQ(putBackFormats(latin1)[1],
              std::pair(std::string("text/plain;charset=utf-8"), u"café"_s.toUtf8()));
    EXPECT_TRUE(putBackFormats({}).empty());
    EXPECT_FALSE(utf8Text({}));
    EXPECT_EQ(utf8Text({{}, {{u"UTF8_STRING"_s, ""_ba}}}), ""_ba) << "an empty text stays a text";

    // Another program's copy stays unless it is the line itself.
    const auto now = [](Status status, const QString& text) {
        return ClipboardRead{status, {text, {}}};
    };
    EXPECT_TRUE(theirsStays(now(Status::Read, u"theirs"_s), u"line"_s));
    EXPECT_TRUE(theirsStays(now(Status::Read, {}), u"line"_s));
    EXPECT_TRUE(theirsStays(now(Status::TooLarge, {}), u"line"_s));
    EXPECT_FALSE(theirsStays(now(Status::Read, u"line"_s), u"line"_s));
    EXPECT_FALSE(theirsStays(now(Status::NoAnswer, {}), u"line"_s));

    const ClipboardContent again = copied;
    EXPECT_TRUE(sameData(copied, again));
    const ClipboardContent equal{QString::fromUtf8(odd), {{u"text/plain"_s, QByteArray(odd)}}};
    EXPECT_FALSE(sameData(copied, equal));
}

// On X the text goes out under its X names too; Latin-1 only where it fits.
TEST(ClipboardPutBack, XTargetsOfferLatin1OnlyWhereItFits) {
    const auto names = [](const SelectionTargets& targets) {
        std::map<std::string, std::pair<std::string, QByteArray>> byName;
        for (const SelectionTarget& target : targets) {
            byName[target.name] = {target.type, target.bytes};
        }
        return byName;
    };
    auto chinese = names(selectionTargets({u"中文"_s, {{u"UTF8_STRING"_s, u"中文"_s.toUtf8()}}}));
    EXPECT_EQ(chinese.size(), 2U);
    EXPECT_EQ(chinese["TEXT"], std::pair(std::string("UTF8_STRING"), u"中文"_s.toUtf8()));
    EXPECT_EQ(names(selectionTargets({u"café"_s, {}}))["STRING"].second, "caf\xe9"_ba);
    EXPECT_TRUE(selectionTargets({}).empty());
    EXPECT_EQ(names(selectionTargets({{}, {{u"image/png"_s, "png"_ba}}})).size(), 1U);
}

// The line counts as fetched once its text went out whole; a transfer under
// way when the clipboard was lost still decides.
TEST(FetchWatch, CountsTheWatchedTextWhole) {
    FetchWatch watch;
    EXPECT_TRUE(watch.settled());
    EXPECT_EQ(watch.result(), FetchResult::Unknown) << "nothing watched";

    watch.arm(7);
    watch.delivered(6);
    watch.began(6);
    EXPECT_FALSE(watch.settled());
    EXPECT_TRUE(watch.quiet());
    EXPECT_EQ(watch.result(), FetchResult::NotFetched);
    watch.delivered(7);
    EXPECT_EQ(watch.result(), FetchResult::Fetched);

    watch.arm(7);
    EXPECT_EQ(watch.result(), FetchResult::NotFetched) << "earlier events forgotten";
    watch.began(7);
    EXPECT_EQ(watch.result(), FetchResult::Unknown) << "still under way";
    watch.lost(7);
    EXPECT_FALSE(watch.settled());
    EXPECT_FALSE(watch.quiet());
    watch.ended(7, true);
    EXPECT_EQ(watch.result(), FetchResult::Fetched);

    watch.arm(8);
    watch.began(8);
    watch.ended(8, false);
    EXPECT_TRUE(watch.quiet());
    EXPECT_FALSE(watch.settled());
    watch.lost(8);
    EXPECT_EQ(watch.result(), FetchResult::Unknown);

    watch.arm(9);
    watch.close();
    EXPECT_TRUE(watch.settled());
    EXPECT_EQ(watch.result(), FetchResult::Unknown);
}

}  // namespace
}  // namespace quillet::clipboard
