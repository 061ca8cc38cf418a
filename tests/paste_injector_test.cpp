#include "paste/paste_injector.h"

#include "platform/clipboard.h"
#include "platform/main_queue.h"
#include "platform/paste_keystroke.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;

// Doubles that write every call into one shared log, so the test sees the
// order across clipboard, keystrokes, main-thread hops and pauses.
class LoggingQueue final : public MainQueue {
public:
    explicit LoggingQueue(Events& log) : log_(log) {}
    void post(Task task) override { task(); }
    bool runSync(Task task) override {
        if (syncAllowed == 0) {
            log_.push_back("refused");
            return false;
        }
        --syncAllowed;
        log_.push_back("main{");
        task();
        log_.push_back("}main");
        return true;
    }
    void shutDown() override { syncAllowed = 0; }

    int syncAllowed = -1;  // negative: no limit

private:
    Events& log_;
};

class LoggingClipboard final : public Clipboard {
public:
    explicit LoggingClipboard(Events& log) : log_(log) {}
    ClipboardRead read() override { return {ClipboardRead::Status::Read, content}; }
    void cancelReads() override {}
    void writeLine(const QString& line) override {
        log_.push_back("write " + line.toStdString());
        content = ClipboardContent{line, {}};
    }
    void restore(const ClipboardContent& original) override {
        log_.push_back("restore " + original.text.toStdString());
        content = original;
        restoredAt = Clock::now();
    }
    void arm() override { log_.push_back("arm"); }
    FetchResult waitForFetch(milliseconds deadline) override {
        log_.push_back("fetch-wait " + std::to_string(deadline.count()));
        std::this_thread::sleep_for(fetchTakes);
        return fetch;
    }

    ClipboardContent content;
    std::optional<Clock::time_point> restoredAt;
    FetchResult fetch = FetchResult::Fetched;
    milliseconds fetchTakes{0};

private:
    Events& log_;
};

class LoggingKeystroke final : public PasteKeystroke {
public:
    explicit LoggingKeystroke(Events& log) : log_(log) {}
    bool available() override { return works; }
    bool waitForKeysReleased(milliseconds deadline) override {
        log_.push_back("keys-wait " + std::to_string(deadline.count()));
        return true;
    }
    bool postPasteChord() override {
        log_.push_back(works ? "chord" : "chord-failed");
        postedAt = Clock::now();
        return works;
    }

    bool works = true;
    std::optional<Clock::time_point> postedAt;

private:
    Events& log_;
};

struct Rig {
    explicit Rig(PasteTiming timing = {})
        : injector(queue, clipboard, keystroke, timing, [this](milliseconds duration) {
              log.push_back("pause");
              pauses.push_back(duration);
              if (keystroke.postedAt && !clipboard.restoredAt) {
                  pausedAfterChord += duration;
              }
          }) {}

    Events log;
    std::vector<milliseconds> pauses;
    milliseconds pausedAfterChord{0};  // asked for between the chord and the restore
    LoggingQueue queue{log};
    LoggingClipboard clipboard{log};
    LoggingKeystroke keystroke{log};
    PasteInjector injector;
};

const ClipboardContent kOriginal{u"before"_s,
                                 {{u"text/plain"_s, "before"_ba}, {u"image/png"_s, "\x89PNG"_ba}}};

TEST(PasteInjector, StepsHappenInOrderWithTheClipboardTouchedOnTheMainThread) {
    Rig rig(PasteTiming{milliseconds{7}, milliseconds{60'000}, milliseconds{13}, milliseconds{17},
                        milliseconds{19}});
    rig.clipboard.content = kOriginal;
    EXPECT_EQ(rig.injector.simulatePaste(u"line"_s, kOriginal), Delivery::Delivered);
    const Events expected = {"main{", "write line",    "}main", "pause", "keys-wait 17",   "arm",
                             "chord", "fetch-wait 19", "pause", "main{", "restore before", "}main",
                             "pause"};
    EXPECT_EQ(rig.log, expected);
    ASSERT_EQ(rig.pauses.size(), 3u);
    EXPECT_EQ(rig.pauses[0], milliseconds{7});
    EXPECT_GT(rig.pauses[1], milliseconds{0});
    EXPECT_LE(rig.pauses[1], milliseconds{60'000});
    EXPECT_EQ(rig.pauses[2], milliseconds{13});
    EXPECT_EQ(rig.clipboard.content, kOriginal);
}

TEST(PasteInjector, DefaultPausesLeaveTheTargetEnoughTime) {
    // The pauses do not sleep here, so the gap between chord and restore is
    // the time really spent plus the pauses asked for in between.
    Rig rig;
    rig.clipboard.fetchTakes = milliseconds{30};
    rig.injector.simulatePaste(u"line"_s, kOriginal);
    ASSERT_GE(rig.pauses.size(), 2u);
    EXPECT_GE(rig.pauses.front(), milliseconds{50});
    EXPECT_GE(rig.pauses.back(), milliseconds{50});
    ASSERT_TRUE(rig.keystroke.postedAt && rig.clipboard.restoredAt);
    const auto spent =
        std::chrono::ceil<milliseconds>(*rig.clipboard.restoredAt - *rig.keystroke.postedAt);
    EXPECT_GE(spent + rig.pausedAfterChord, milliseconds{100});
    EXPECT_LE(rig.pausedAfterChord, milliseconds{100} - rig.clipboard.fetchTakes)
        << "the time the fetch took counts towards the gap";
}

TEST(PasteInjector, ReportsDeliveryAndAlwaysPutsTheClipboardBack) {
    struct Case {
        FetchResult fetch;
        bool chordWorks;
        Delivery expected;
    };
    const std::vector<Case> cases = {
        {FetchResult::Fetched, true, Delivery::Delivered},
        {FetchResult::Unknown, true, Delivery::Delivered},
        {FetchResult::NotFetched, true, Delivery::NotFetched},
        {FetchResult::Fetched, false, Delivery::NoKeystroke},
        {FetchResult::NotFetched, false, Delivery::NoKeystroke},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.expected));
        Rig rig;
        rig.clipboard.content = kOriginal;
        rig.clipboard.fetch = c.fetch;
        rig.keystroke.works = c.chordWorks;
        EXPECT_EQ(rig.injector.simulatePaste(u"x"_s, kOriginal), c.expected);
        EXPECT_EQ(rig.clipboard.content, kOriginal);
        const auto has = [&](const std::string& prefix) {
            return std::any_of(rig.log.begin(), rig.log.end(),
                               [&](const std::string& e) { return e.starts_with(prefix); });
        };
        EXPECT_TRUE(has("restore"));
        EXPECT_EQ(has("fetch-wait"), c.chordWorks) << "nothing to wait for without a chord";
    }
}

TEST(PasteInjector, ShutdownInterruptsWithoutPastingAStaleClipboard) {
    {
        SCOPED_TRACE("refused before the line is written");
        Rig rig;
        rig.queue.syncAllowed = 0;
        EXPECT_EQ(rig.injector.simulatePaste(u"x"_s, kOriginal), Delivery::Interrupted);
        EXPECT_EQ(rig.log, Events{"refused"}) << "no chord may paste what the clipboard holds";
    }
    {
        SCOPED_TRACE("refused at the restore");
        Rig rig;
        rig.queue.syncAllowed = 1;
        EXPECT_EQ(rig.injector.simulatePaste(u"x"_s, kOriginal), Delivery::Interrupted);
        EXPECT_EQ(rig.log.back(), "refused");
    }
}

}  // namespace
}  // namespace quillet
