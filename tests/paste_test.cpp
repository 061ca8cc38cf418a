// A press on in-memory doubles, the order of a delivery, and the worker queue.

#include "paste/paste_injector.h"
#include "paste/paste_run.h"
#include "paste/serial_queue.h"

#include "doubles.h"
#include "in_memory_settings_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;
using std::chrono::milliseconds;
using R = StepResult;

// The whole step wired to doubles; pauses cost nothing.
struct Rig {
    Rig() = default;
    // Pauses that take their time.
    explicit Rig(PasteTiming timing)
        : injector(clipboard, keystroke, activeWindow, settings, timing,
                   [](milliseconds pause) { std::this_thread::sleep_for(pause); }) {}

    InMemorySettingsStore settings;
    InMemoryStateFile file;
    FakeClipboard clipboard;
    RecordingPasteKeystroke keystroke;
    FixedActiveWindow activeWindow;
    PasteInjector injector{
        clipboard,          keystroke, activeWindow, settings, PasteTiming{{}, {}, {}, {}},
        [](milliseconds) {}};
    RunStore runStore{file, settings};
    PasteRun run{runStore, clipboard, injector, settings};

    std::optional<AppState> stored() {
        const auto data = file.read();
        return data ? decodeAppState(*data) : std::nullopt;
    }
    void store(const AppState& state) { file.setContents(encodeAppState(state).json); }
    QString lastPasted() const {
        const QStringList written = clipboard.writtenLines();
        return written.isEmpty() ? QString() : written.back();
    }
};

TEST(PasteRun, PastesLineByLineThenAnnouncesTheEndAndStartsOver) {
    const QString abc = u"a\nb\n\nc"_s;
    const QStringList lines{u"a"_s, u"b"_s, u"c"_s};
    struct Step {
        QString pasted;  // empty: nothing pasted
        StepResult result;
        AppState stored;
    };
    const std::vector<Step> steps = {
        {u"a"_s, R::Pasted, {lines, 1, abc}}, {u"b"_s, R::Pasted, {lines, 2, abc}},
        {u"c"_s, R::Pasted, {lines, 3, abc}}, {{}, R::AllPasted, AppState{}},
        {u"a"_s, R::Pasted, {lines, 1, abc}},
    };
    Rig rig;
    rig.clipboard.copy(abc);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        const qsizetype before = rig.clipboard.writtenLines().size();
        EXPECT_EQ(rig.run.step(), StepOutcome{steps[i].result});
        EXPECT_EQ(rig.clipboard.writtenLines().sliced(before),
                  steps[i].pasted.isEmpty() ? QStringList{} : QStringList{steps[i].pasted});
        EXPECT_EQ(rig.stored(), steps[i].stored);
    }
    EXPECT_EQ(rig.keystroke.chords(), 4);
}

TEST(PasteRun, CopyingTheSameTextContinuesAndAnotherTextRestarts) {
    const QString abc = u"a\nb\nc"_s;
    const std::tuple<QString, QString, AppState> cases[] = {
        {abc, u"b"_s, {{u"a"_s, u"b"_s, u"c"_s}, 2, abc}},
        {u"x\n\ny"_s, u"x"_s, {{u"x"_s, u"y"_s}, 1, u"x\n\ny"_s}},
        {u"a\nb\nc "_s, u"a"_s, {{u"a"_s, u"b"_s, u"c"_s}, 1, u"a\nb\nc "_s}},
        // A combining accent makes another text; the café case below is the same one.
        {u"a\nb\u0301\nc"_s, u"a"_s, {{u"a"_s, u"b\u0301"_s, u"c"_s}, 1, u"a\nb\u0301\nc"_s}},
    };
    for (const auto& [second, pasted, stored] : cases) {
        SCOPED_TRACE(second.toStdString());
        Rig rig;
        rig.clipboard.copy(abc);
        rig.run.step();
        rig.clipboard.copy(second);
        EXPECT_EQ(rig.run.step(), StepOutcome{R::Pasted});
        EXPECT_EQ(rig.lastPasted(), pasted);
        EXPECT_EQ(rig.stored(), stored);
    }
    Rig rig;
    rig.clipboard.copy(u"caf\u00E9\nb"_s);
    rig.run.step();
    rig.clipboard.copy(u"cafe\u0301\nb"_s);
    rig.run.step();
    EXPECT_EQ(rig.lastPasted(), u"b"_s);
}

TEST(PasteRun, NothingToPasteReplacesTheRunAndAnUnusableRunCountsAsNone) {
    Rig rig;
    rig.store({{u"x"_s, u"y"_s}, 1, u"x\ny"_s});
    rig.clipboard.setContent({{}, {{u"image/png"_s, "\x89PNG"_ba}}});
    EXPECT_EQ(rig.run.step(), StepOutcome{R::ClipboardEmpty});
    EXPECT_EQ(rig.run.step(), StepOutcome{R::ClipboardEmpty});
    EXPECT_EQ(rig.stored(), (AppState{{}, 0, {}}));
    EXPECT_EQ(rig.keystroke.chords(), 0);

    // Damaged, or past its end: the step starts afresh or ends the run.
    for (const QByteArray& damaged :
         {"garbage"_ba,
          R"({"lines":["a"],"currentIndex":-1,"sourceClipboardContent":"a\nb"})"_ba}) {
        Rig fresh;
        fresh.file.setContents(damaged);
        fresh.clipboard.copy(u"a\nb"_s);
        EXPECT_EQ(fresh.run.step(), StepOutcome{R::Pasted});
        EXPECT_EQ(fresh.stored(), (AppState{{u"a"_s, u"b"_s}, 1, u"a\nb"_s}));
    }
    Rig ended;
    ended.store({{u"a"_s, u"b"_s}, 7, u"a\nb"_s});
    ended.clipboard.copy(u"a\nb"_s);
    EXPECT_EQ(ended.run.step(), StepOutcome{R::AllPasted});
    EXPECT_EQ(ended.stored(), AppState{});
}

// The run moves from the settings of older versions to its file, once; after
// that a press that only moves the cursor rewrites the index alone.
TEST(PasteRun, TheRunMovesToItsFileAndAPressRewritesOnlyTheIndex) {
    Rig rig;
    const AppState old{{u"a"_s, u"b"_s, u"c"_s}, 1, u"a\nb\nc"_s};
    rig.settings.setData(u"appState"_s, encodeAppState(old).json);
    rig.clipboard.copy(u"a\nb\nc"_s);
    EXPECT_EQ(rig.run.step(), StepOutcome{R::Pasted});
    EXPECT_EQ(rig.lastPasted(), u"b"_s);
    EXPECT_FALSE(rig.settings.contains(u"appState"_s));
    EXPECT_EQ(rig.stored(), (AppState{old.lines, 2, old.sourceClipboardContent}));
    EXPECT_EQ(rig.file.writes(), 1) << "moved once";
    rig.run.step();
    EXPECT_EQ(rig.file.writes(), 1);
    EXPECT_EQ(rig.file.overwrites(), 2);
    EXPECT_EQ(rig.stored(), (AppState{old.lines, 3, old.sourceClipboardContent}));
}

TEST(PasteRun, ALineThatDidNotArriveIsOfferedAgain) {
    const std::tuple<FetchResult, bool, StepResult, std::int64_t> cases[] = {
        {FetchResult::Unknown, true, R::Pasted, 1},
        {FetchResult::NotFetched, true, R::NotFetched, 0},
        {FetchResult::Fetched, false, R::NoKeystroke, 0},
    };
    const QStringList lines{u"a"_s, u"b"_s};
    for (const auto& [fetch, works, result, index] : cases) {
        SCOPED_TRACE(static_cast<int>(result));
        Rig rig;
        rig.clipboard.copy(u"a\nb"_s);
        rig.clipboard.setFetchResult(fetch);
        rig.keystroke.setWorks(works);
        EXPECT_EQ(rig.run.step(), StepOutcome{result});
        EXPECT_EQ(rig.stored(), (AppState{lines, index, u"a\nb"_s}));
        EXPECT_EQ(rig.clipboard.content().text, u"a\nb"_s) << "the copied text is put back";

        rig.clipboard.setFetchResult(FetchResult::Fetched);
        rig.keystroke.setWorks(true);
        rig.run.step();
        EXPECT_EQ(rig.lastPasted(), lines[index]);
    }
}

// A clipboard that could not be read is not an empty one: the run stays.
TEST(PasteRun, UnreadableClipboardOrShutdownKeepsTheRun) {
    const AppState before{{u"a"_s, u"b"_s}, 1, u"a\nb"_s};
    for (const auto& [failure, result] :
         {std::pair{ClipboardRead::Status::NoAnswer, R::ClipboardNoAnswer},
          std::pair{ClipboardRead::Status::TooLarge, R::ClipboardTooLarge}}) {
        Rig rig;
        rig.store(before);
        rig.clipboard.setReadFailure(failure);
        EXPECT_EQ(rig.run.step(), StepOutcome{result});
        EXPECT_EQ(rig.stored(), before);
        EXPECT_TRUE(rig.clipboard.writtenLines().isEmpty());
    }
    // Refused before the line is written, or at the restore.
    for (const int writesAllowed : {0, 1}) {
        Rig rig;
        rig.store(before);
        rig.clipboard.copy(u"x\ny"_s);
        rig.clipboard.writesAllowed = writesAllowed;
        EXPECT_EQ(rig.run.step(), StepOutcome{R::Interrupted});
        EXPECT_EQ(rig.file.writes() + rig.file.overwrites(), 0);
        EXPECT_EQ(rig.keystroke.chords(), writesAllowed) << "no chord may paste a stale clipboard";
    }
    // Not quitting, but the clipboard cannot be taken: said, and the place kept.
    Rig rig;
    rig.store(before);
    rig.clipboard.copy(u"a\nb"_s);
    rig.clipboard.refuseLines = true;
    EXPECT_EQ(rig.run.step(), StepOutcome{R::ClipboardRefused});
    EXPECT_EQ(rig.stored(), before);
    EXPECT_EQ(rig.keystroke.chords(), 0);
    // The line went out, but what it replaced could not come back.
    rig.clipboard.refuseLines = false;
    rig.clipboard.refuseRestores = true;
    EXPECT_EQ(rig.run.step(), (StepOutcome{R::Pasted, false, PutBack::Lost}));
    EXPECT_EQ(rig.stored()->currentIndex, 2);
    // Read without the formats that missed the deadline: the line goes, and
    // what was read comes back.
    rig.clipboard.refuseRestores = false;
    rig.clipboard.partialReads = true;
    rig.clipboard.copy(u"c\nd"_s);
    EXPECT_EQ(rig.run.step(), (StepOutcome{R::Pasted, false, PutBack::Partial}));
    EXPECT_EQ(rig.clipboard.content().text, u"c\nd"_s);
}

TEST(PasteRun, TheRunGoesOnWhenItCannotBeSaved) {
    Rig rig;
    rig.clipboard.copy(u"a\nb\nc\nd"_s);
    rig.run.step();
    rig.file.setWritable(false);
    EXPECT_EQ(rig.run.step(), (StepOutcome{R::Pasted, true}));
    EXPECT_EQ(rig.run.step(), (StepOutcome{R::Pasted, true}));
    rig.file.setWritable(true);
    EXPECT_EQ(rig.run.step(), StepOutcome{R::Pasted});
    EXPECT_EQ(rig.stored()->currentIndex, 4);
}

// Each move's stored index and the press after it: TrayTest, ProgramMovesTest
// and SwayTest drive them; RunMoves has the edges.
TEST(PasteRun, MovesAreStoredLikePressesAndTheNextPressFollowsThem) {
    const QString abcd = u"a\nb\nc\nd"_s;
    const QStringList lines{u"a"_s, u"b"_s, u"c"_s, u"d"_s};
    Rig rig;
    rig.store({lines, 3, abcd});
    // The stored run counts before any press.
    EXPECT_EQ(rig.run.run().currentIndex, 3);
    // Skipping the last line leads to the end; a press there ends the run.
    EXPECT_EQ(rig.run.move(RunMove::Skip), StepOutcome{R::Moved});
    EXPECT_EQ(rig.stored(), (AppState{lines, 4, abcd}));
    rig.clipboard.copy(abcd);
    EXPECT_EQ(rig.run.step(), StepOutcome{R::AllPasted});
    EXPECT_EQ(rig.run.move(RunMove::Back), StepOutcome{R::Moved});
    EXPECT_EQ(rig.stored(), AppState{});
    EXPECT_EQ(rig.keystroke.chords(), 0);

    // Unwritable: the move holds in memory and says so.
    rig.run.step();
    rig.file.setWritable(false);
    EXPECT_EQ(rig.run.move(RunMove::Back), (StepOutcome{R::Moved, true}));
    EXPECT_EQ(rig.run.run().currentIndex, 0);
}

// Tab between the cells of a row, the user's key after its last; an empty
// cell is only its key, and counts as done even where no line would arrive.
TEST(PasteRun, CellsGoOneAPressAndSwitchingToLinesStartsOver) {
    const QString range = u"a\t\tc\n\"x\ty\"\tz\n"_s;
    Rig rig;
    rig.settings.setString(u"pasteCells"_s, u"true"_s);
    rig.settings.setString(u"afterEachLine"_s, u"enter"_s);
    rig.clipboard.copy(range);
    for (int press = 0; press < 5; ++press) {
        rig.clipboard.setFetchResult(press == 1 ? FetchResult::NotFetched : FetchResult::Fetched);
        EXPECT_EQ(rig.run.step(), StepOutcome{R::Pasted}) << press;
    }
    EXPECT_EQ(rig.run.step(), StepOutcome{R::AllPasted});
    EXPECT_EQ(rig.clipboard.writtenLines(), (QStringList{u"a"_s, u"c"_s, u"x\ty"_s, u"z"_s}));
    EXPECT_EQ(rig.keystroke.chords(), 4);
    using F = FollowKey;
    EXPECT_EQ(rig.keystroke.followKeys(),
              (std::vector{F::Tab, F::Tab, F::Enter, F::Tab, F::Enter}));

    rig.clipboard.copy(range);
    rig.run.step();
    EXPECT_EQ(rig.stored(), (AppState{{u"a"_s, {}, u"c"_s, u"x\ty"_s, u"z"_s}, 1, range, {0, 3}}));
    rig.settings.setString(u"pasteCells"_s, u"false"_s);
    EXPECT_EQ(rig.run.remake(), StepOutcome{R::Moved});
    EXPECT_EQ(rig.stored(), (AppState{{u"a\t\tc"_s, u"\"x\ty\"\tz"_s}, 0, range}));
    // Set elsewhere, the mode still starts the run over at the next press.
    rig.settings.setString(u"pasteCells"_s, u"true"_s);
    rig.run.step();
    EXPECT_EQ(rig.lastPasted(), u"a"_s);
    EXPECT_EQ(rig.stored()->rowStarts, (QList<qsizetype>{0, 3}));
}

TEST(PasteInjector, TheKeyAfterEachLineGoesOnlyAfterALineThatArrived) {
    const struct {
        QString stored;  // "afterEachLine"
        FetchResult fetch;
        QString appId;
        std::vector<FollowKey> sent;
    } cases[] = {
        {u"tab"_s, FetchResult::Fetched, {}, {FollowKey::Tab}},
        {u"enter"_s, FetchResult::Unknown, {}, {FollowKey::Enter}},
        {u"enter"_s, FetchResult::Fetched, u"xterm"_s, {FollowKey::Enter}},  // typed
        {u"tab"_s, FetchResult::NotFetched, {}, {}},
        {u"none"_s, FetchResult::Fetched, {}, {}},
        {u"Tab "_s, FetchResult::Fetched, {}, {}},  // not a stored value
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toStdString() + " " + c.appId.toStdString());
        Rig rig;
        rig.settings.setString(u"afterEachLine"_s, c.stored);
        rig.clipboard.setFetchResult(c.fetch);
        rig.activeWindow.set(c.appId);
        int restoresBefore = -1;
        rig.keystroke.onFollowKey = [&] { restoresBefore = rig.clipboard.restoreCount(); };
        rig.clipboard.copy(u"line"_s);
        rig.run.step();
        EXPECT_EQ(rig.keystroke.followKeys(), c.sent);
        if (!c.sent.empty() && c.appId.isEmpty()) {
            EXPECT_EQ(restoresBefore, 1) << "the key went before the clipboard was back";
        }
    }
    // A failed paste sends no key either.
    Rig rig;
    rig.settings.setString(u"afterEachLine"_s, u"tab"_s);
    rig.keystroke.setWorks(false);
    rig.clipboard.copy(u"line"_s);
    rig.run.step();
    EXPECT_TRUE(rig.keystroke.followKeys().empty());
}

TEST(PasteInjector, LeavesTheTargetTimeBeforeAndAfterTheChord) {
    std::vector<std::string> log;
    std::vector<milliseconds> pauses;
    InMemorySettingsStore settings;
    FakeClipboard clipboard;
    RecordingPasteKeystroke keystroke;
    FixedActiveWindow activeWindow;
    clipboard.settle = milliseconds{50};
    clipboard.fetchesPerLine = 2;  // as LibreOffice reads it
    const PasteTiming timing{milliseconds{60'000}, milliseconds{40}, {}, milliseconds{60'000}};
    PasteInjector injector(clipboard, keystroke, activeWindow, settings, timing,
                           [&](milliseconds pause) {
                               pauses.push_back(pause);
                               log.push_back("pause " + std::to_string(keystroke.chords()) + ' ' +
                                             std::to_string(clipboard.restoreCount()));
                           });
    const ClipboardContent original{u"before"_s, {{u"image/png"_s, "\x89PNG"_ba}}};
    EXPECT_EQ(injector.paste(u"line"_s, original), PasteResult{Delivery::Delivered});
    EXPECT_EQ(clipboard.writtenLines(), QStringList{u"line"_s});
    EXPECT_EQ(clipboard.content(), original);
    EXPECT_EQ(keystroke.waits(), 1) << "the chord waits until the shortcut's keys are up";
    EXPECT_EQ(clipboard.armCount(), 3) << "armed anew until a wait sees no fetch";
    // Before the chord, between chord and restore (the fetch counts), after the restore.
    EXPECT_EQ(log, (std::vector<std::string>{"pause 0 0", "pause 1 0", "pause 1 1"}));
    EXPECT_EQ(pauses.front(), milliseconds{50});
    EXPECT_LE(pauses[1], milliseconds{60'000});
    EXPECT_GT(pauses[1], milliseconds{50'000});
    EXPECT_EQ(pauses.back(), milliseconds{40});
}

// GNOME: a chord sent while the user still holds the shortcut's modifiers
// runs the shortcut again; that press is its echo, and the chord goes again.
TEST(PasteInjector, AnEchoedChordGoesAgainUntilItsLineIsFetchedOrTheKeysWereHeldTooLong) {
    PasteTiming timing{{}, {}, {}, milliseconds{20}};
    timing.echoWait = milliseconds{5};
    timing.resendPause = milliseconds{1};
    timing.heldKeysGrace = milliseconds{30};
    // With a long repeat gap, the second press is the desktop's key repeat.
    for (const auto& [echoes, held, gap] : {std::tuple{false, 2, 0},
                                            {false, 1'000'000, 60'000},
                                            {true, 2, 0},
                                            {true, 1'000'000, 0},
                                            {true, 2, 60'000}}) {  // held: chords that echo
        SCOPED_TRACE(std::to_string(echoes) + " " + std::to_string(held) + " " +
                     std::to_string(gap));
        timing.repeatGap = milliseconds{gap};
        Rig rig(timing);
        rig.keystroke.echoes = echoes;
        rig.clipboard.setFetchResult(echoes ? FetchResult::NotFetched : FetchResult::Fetched);
        std::vector<bool> taken;  // the echo, then a press of the user's
        std::optional<bool> takenOnceFetched;
        rig.keystroke.onChord = [&] {
            if (rig.keystroke.chords() > held) {
                rig.clipboard.fetchesPerLine = rig.keystroke.chords();
                rig.clipboard.setFetchResult(FetchResult::Fetched);
                // The user's next press may come while the line is still
                // watched for a second fetch.
                rig.clipboard.onWaitForFetch = [&, waits = 0]() mutable {
                    if (++waits == 2) {
                        takenOnceFetched = rig.injector.echoes().takeEcho();
                    }
                };
                return;
            }
            taken.push_back(rig.injector.echoes().takeEcho());
            taken.push_back(rig.injector.echoes().takeEcho());
        };
        rig.clipboard.copy(u"a\nb"_s);
        const bool fetched = !echoes || held == 2;
        EXPECT_EQ(rig.run.step().result, fetched ? R::Pasted : R::NotFetched);
        EXPECT_EQ(rig.stored()->currentIndex, fetched ? 1 : 0);
        EXPECT_EQ(rig.clipboard.writtenLines(), QStringList{u"a"_s});
        EXPECT_EQ(rig.clipboard.content().text, u"a\nb");
        const int chords = rig.keystroke.chords();
        EXPECT_EQ(chords, !echoes ? 1 : held == 2 ? 3 : chords);
        EXPECT_GT(chords, echoes ? 2 : 0);
        for (std::size_t i = 0; i < taken.size(); ++i) {
            EXPECT_EQ(taken[i], echoes && (i % 2 == 0 || gap > 0)) << i;
        }
        EXPECT_EQ(takenOnceFetched, echoes && fetched ? std::optional{false} : std::nullopt);
        EXPECT_FALSE(rig.injector.echoes().takeEcho()) << "the paste is over";
    }
}

TEST(SerialQueue, RunsSubmissionsOnceEachInOrderOnOneNamedWorker) {
    std::vector<std::pair<int, int>> ran;  // written by the worker, read after drain()
    std::atomic<int> inside = 0;
    std::atomic<bool> overlapped = false;
    char name[16] = {};
    {
        SerialQueue queue("paste-worker-thread");
        queue.async([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
        std::vector<std::thread> submitters;
        for (int s = 0; s < 4; ++s) {
            submitters.emplace_back([&, s] {
                for (int i = 0; i < 250; ++i) {
                    queue.async([&, s, i] {
                        overlapped = overlapped || inside.fetch_add(1) != 0;
                        ran.emplace_back(s, i);
                        inside.fetch_sub(1);
                    });
                }
            });
        }
        for (std::thread& thread : submitters) {
            thread.join();
        }
        queue.drain();
        ASSERT_EQ(ran.size(), 1000u);
        // The running task completes before the queue is gone.
        std::atomic<bool> started = false;
        queue.async([&] {
            started = true;
            std::this_thread::sleep_for(milliseconds(20));
            ran.emplace_back(-1, 0);
        });
        while (!started) {
            std::this_thread::yield();
        }
    }
    EXPECT_EQ(ran.back().first, -1);
    std::map<int, int> next;
    for (std::size_t i = 0; i + 1 < ran.size(); ++i) {
        EXPECT_EQ(ran[i].second, next[ran[i].first]++);
    }
    EXPECT_FALSE(overlapped);
    EXPECT_STREQ(name, "paste-worker-th");
}

}  // namespace
}  // namespace quillet
