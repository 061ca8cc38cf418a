#include "paste/paste_run.h"

#include "app/localized_strings.h"
#include "app/notifier.h"
#include "paste/app_state.h"
#include "paste/paste_injector.h"
#include "platform/fakes/fake_clipboard.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/manual_main_queue.h"
#include "platform/fakes/recording_paste_keystroke.h"
#include "platform/fakes/scripted_alerts.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;
using std::chrono::milliseconds;

const QString kStateKey = u"appState"_s;
const QString kAllPasted = u"All lines pasted!"_s;
const QString kEmpty = u"Clipboard empty. Please copy multi-line text."_s;

// Forwards to the manual queue but refuses synchronous hops once `syncAllowed`
// of them have run: a shutdown arriving in the middle of a step.
class CutOffMainQueue final : public MainQueue {
public:
    explicit CutOffMainQueue(ManualMainQueue& inner) : inner_(inner) {}
    void post(Task task) override { inner_.post(std::move(task)); }
    bool runSync(Task task) override {
        if (syncAllowed == 0) {
            return false;
        }
        --syncAllowed;
        return inner_.runSync(std::move(task));
    }
    void shutDown() override { inner_.shutDown(); }

    int syncAllowed = -1;  // negative: no limit

private:
    ManualMainQueue& inner_;
};

// The whole step wired to in-memory doubles; pauses cost nothing.
struct Harness {
    InMemorySettingsStore settings;
    ManualMainQueue mainQueue;
    CutOffMainQueue queue{mainQueue};
    FakeClipboard clipboard;
    RecordingPasteKeystroke keystroke;
    ScriptedAlerts alerts;
    FixedUiLanguages languages{{u"en-US"_s}};
    PasteInjector injector{queue, clipboard, keystroke,
                           PasteTiming{milliseconds{0}, milliseconds{0}, milliseconds{0},
                                       milliseconds{0}, milliseconds{0}},
                           [](milliseconds) {}};
    Notifier notifier{queue, alerts, LocalizedStrings{settings, languages}};
    PasteRun run{settings, clipboard, injector, notifier};

    void press() {
        run.executePasteLogic();
        mainQueue.runPending();
    }
    std::optional<AppState> stored() const {
        const auto data = settings.data(kStateKey);
        return data ? decodeAppState(*data) : std::nullopt;
    }
    void store(const AppState& state) { settings.setData(kStateKey, encodeAppState(state)); }
    QStringList notices() const {
        QStringList messages;
        for (const AlertSpec& alert : alerts.shown()) {
            messages.append(alert.informative);
        }
        return messages;
    }
    QString lastPasted() const {
        const QStringList written = clipboard.writtenLines();
        return written.isEmpty() ? QString() : written.back();
    }
};

TEST(PasteRun, PastesLineByLineThenAnnouncesTheEndAndStartsOver) {
    struct Step {
        QString pasted;  // empty: nothing pasted
        AppState stored;
        QString notice;  // empty: none
    };
    struct Scenario {
        QString text;
        std::vector<Step> steps;
    };
    const QString abc = u"a\nb\n\nc"_s;
    const QStringList lines{u"a"_s, u"b"_s, u"c"_s};
    const QString single = u"  only one \n\n"_s;
    const std::vector<Scenario> scenarios = {
        {abc,
         {{u"a"_s, {lines, 1, abc}, {}},
          {u"b"_s, {lines, 2, abc}, {}},
          {u"c"_s, {lines, 3, abc}, {}},
          {{}, AppState{}, kAllPasted},
          {u"a"_s, {lines, 1, abc}, {}},
          {u"b"_s, {lines, 2, abc}, {}}}},
        {single,
         {{u"only one"_s, {{u"only one"_s}, 1, single}, {}},
          {{}, AppState{}, kAllPasted},
          {u"only one"_s, {{u"only one"_s}, 1, single}, {}}}},
    };
    for (const Scenario& scenario : scenarios) {
        Harness h;
        h.clipboard.copy(scenario.text);
        int chords = 0;
        for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
            SCOPED_TRACE(scenario.text.toStdString() + " press " + std::to_string(i + 1));
            const Step& step = scenario.steps[i];
            const qsizetype writtenBefore = h.clipboard.writtenLines().size();
            const qsizetype noticesBefore = h.notices().size();
            h.press();

            const QStringList written = h.clipboard.writtenLines().sliced(writtenBefore);
            EXPECT_EQ(written, step.pasted.isEmpty() ? QStringList{} : QStringList{step.pasted});
            chords += step.pasted.isEmpty() ? 0 : 1;
            EXPECT_EQ(h.keystroke.chords(), chords);
            EXPECT_EQ(h.stored(), step.stored);
            EXPECT_EQ(h.notices().sliced(noticesBefore),
                      step.notice.isEmpty() ? QStringList{} : QStringList{step.notice});
        }
    }
}

TEST(PasteRun, NothingToPasteIsToldEachTimeAndReplacesTheRun) {
    for (const QString& text : {u""_s, u" \t\r\n\u3000\n\u00A0"_s}) {
        SCOPED_TRACE(text.toStdString());
        Harness h;
        h.store({{u"x"_s, u"y"_s}, 1, u"x\ny"_s});
        h.clipboard.copy(text);
        h.press();
        h.press();
        EXPECT_EQ(h.notices(), (QStringList{kEmpty, kEmpty}));
        EXPECT_EQ(h.stored(), (AppState{{}, 0, text}));
        EXPECT_TRUE(h.clipboard.writtenLines().isEmpty());
        EXPECT_EQ(h.keystroke.chords(), 0);
    }
}

TEST(PasteRun, CopyingTheSameTextContinuesAndAnotherTextRestarts) {
    struct Case {
        QString first;
        QString second;
        QString pasted;  // by the press after copying `second`
        AppState stored;
    };
    const QString abc = u"a\nb\nc"_s;
    const std::vector<Case> cases = {
        {abc, abc, u"b"_s, {{u"a"_s, u"b"_s, u"c"_s}, 2, abc}},
        {abc, u"x\n\ny"_s, u"x"_s, {{u"x"_s, u"y"_s}, 1, u"x\n\ny"_s}},
        {abc, u"a\nb"_s, u"a"_s, {{u"a"_s, u"b"_s}, 1, u"a\nb"_s}},
        {abc, u"a\nb\nc "_s, u"a"_s, {{u"a"_s, u"b"_s, u"c"_s}, 1, u"a\nb\nc "_s}},
        // Canonically equivalent: the same run, whichever form came first.
        {u"caf\u00E9\nb"_s,
         u"cafe\u0301\nb"_s,
         u"b"_s,
         {{u"caf\u00E9"_s, u"b"_s}, 2, u"caf\u00E9\nb"_s}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.first + u" -> "_s + c.second).toStdString());
        Harness h;
        h.clipboard.copy(c.first);
        h.press();
        h.clipboard.copy(c.second);
        h.press();
        EXPECT_EQ(h.lastPasted(), c.pasted);
        EXPECT_EQ(h.stored(), c.stored);
        EXPECT_TRUE(h.notices().isEmpty());
    }
}

TEST(PasteRun, UnusableStoredRunCountsAsNone) {
    const QString text = u"a\nb"_s;
    const AppState goodRun{{u"a"_s, u"b"_s}, 1, text};
    const std::vector<std::optional<QVariant>> storedValues = {
        std::nullopt,
        QVariant(QByteArray("garbage")),
        QVariant(QByteArray(
            R"({"lines":["a","b"],"currentIndex":"1","sourceClipboardContent":"a\nb"})")),
        QVariant(QString::fromUtf8(encodeAppState(goodRun))),  // text, not data
        QVariant(qint64{5}),
    };
    for (std::size_t i = 0; i < storedValues.size(); ++i) {
        SCOPED_TRACE(i);
        Harness h;
        if (storedValues[i]) {
            h.settings.setRaw(kStateKey, *storedValues[i]);
        }
        h.clipboard.copy(text);
        h.press();
        EXPECT_EQ(h.clipboard.writtenLines(), QStringList{u"a"_s});
        EXPECT_EQ(h.stored(), goodRun);
    }
}

TEST(PasteRun, StoredCursorPastTheEndAnnouncesTheEnd) {
    Harness h;
    h.store({{u"a"_s, u"b"_s}, 7, u"a\nb"_s});
    h.clipboard.copy(u"a\nb"_s);
    h.press();
    EXPECT_EQ(h.notices(), QStringList{kAllPasted});
    EXPECT_EQ(h.stored(), AppState{});
    EXPECT_TRUE(h.clipboard.writtenLines().isEmpty());
}

TEST(PasteRun, UndeliveredLineIsOfferedAgain) {
    struct Case {
        const char* name;
        FetchResult fetch;
        bool keystrokeWorks;
        std::int64_t index;  // stored after the press
        bool notice;
    };
    const std::vector<Case> cases = {
        {"fetched", FetchResult::Fetched, true, 1, false},
        {"cannot tell", FetchResult::Unknown, true, 1, false},
        {"not fetched", FetchResult::NotFetched, true, 0, false},
        {"no keystroke", FetchResult::Fetched, false, 0, true},
    };
    const QStringList lines{u"a"_s, u"b"_s};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.clipboard.copy(u"a\nb"_s);
        h.clipboard.setFetchResult(c.fetch);
        h.keystroke.setWorks(c.keystrokeWorks);
        h.press();
        EXPECT_EQ(h.stored(), (AppState{lines, c.index, u"a\nb"_s}));
        EXPECT_EQ(h.keystroke.chords(), c.keystrokeWorks ? 1 : 0);
        ASSERT_EQ(h.alerts.shown().size(), c.notice ? 1u : 0u);
        if (c.notice) {
            EXPECT_EQ(h.alerts.shown().front().message, u"Quillet");
            EXPECT_NE(h.notices().front(), kAllPasted);
            EXPECT_NE(h.notices().front(), kEmpty);
        }

        h.clipboard.setFetchResult(FetchResult::Fetched);
        h.keystroke.setWorks(true);
        h.press();
        EXPECT_EQ(h.lastPasted(), lines[c.index]);
        EXPECT_EQ(h.stored(), (AppState{lines, c.index + 1, u"a\nb"_s}));
    }
}

// The run's own outcomes (a line, a line not delivered, the end, nothing to
// paste) all leave the copied content as it was, every format included.
TEST(PasteRun, ClipboardHoldsItsOwnContentAfterEveryStep) {
    const ClipboardContent rich{u"a"_s,
                                {{u"text/plain"_s, "a"_ba},
                                 {u"text/html"_s, "<b>a</b>"_ba},
                                 {u"image/png"_s, QByteArray("\x89PNG\0\x01\xFF", 7)}}};
    const ClipboardContent imageOnly{{}, {{u"image/png"_s, QByteArray("\x89PNG\0", 5)}}};
    Harness h;
    for (const ClipboardContent& content : {rich, imageOnly}) {
        h.clipboard.setContent(content);
        for (const bool works : {false, true, true}) {
            h.keystroke.setWorks(works);
            h.press();
            EXPECT_EQ(h.clipboard.content(), content);
        }
    }
    EXPECT_EQ(h.notices(), (QStringList{h.notices().front(), kAllPasted, kEmpty, kEmpty, kEmpty}));
}

// A clipboard that could not be read is not an empty one: the run stays.
TEST(PasteRun, UnreadableClipboardKeepsTheRunAndSaysWhy) {
    const AppState before{{u"a"_s, u"b"_s}, 1, u"a\nb"_s};
    for (const auto& [failure, told] :
         {std::pair{ClipboardRead::Status::NoAnswer, u"did not answer"_s},
          std::pair{ClipboardRead::Status::TooLarge, u"512 MB"_s}}) {
        Harness h;
        h.store(before);
        h.clipboard.copy(u"x\ny"_s);
        h.clipboard.setReadFailure(failure);
        const int writes = h.settings.writeCount();
        h.press();
        EXPECT_EQ(h.settings.writeCount(), writes);
        EXPECT_TRUE(h.clipboard.writtenLines().isEmpty());
        ASSERT_EQ(h.notices().size(), 1);
        EXPECT_TRUE(h.notices().front().contains(told)) << h.notices().front().toStdString();

        h.clipboard.setReadFailure(std::nullopt);
        h.clipboard.copy(u"a\nb"_s);
        h.press();
        EXPECT_EQ(h.lastPasted(), u"b"_s);
    }
}

TEST(PasteRun, ShutdownDuringAStepStoresNothing) {
    struct Case {
        QString text;
        int syncAllowed;  // before the queue refuses: write, restore
    };
    const std::vector<Case> cases = {{u"a\nb"_s, 0}, {u"a\nb"_s, 1}, {u"x\ny"_s, 1}};
    const AppState before{{u"a"_s, u"b"_s}, 1, u"a\nb"_s};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString() + " after " + std::to_string(c.syncAllowed));
        Harness h;
        h.store(before);
        const int writes = h.settings.writeCount();
        h.clipboard.copy(c.text);
        if (c.syncAllowed == 0) {
            h.mainQueue.shutDown();
        } else {
            h.queue.syncAllowed = c.syncAllowed;
        }
        h.press();
        EXPECT_EQ(h.settings.writeCount(), writes);
        EXPECT_EQ(h.stored(), before);
        EXPECT_TRUE(h.notices().isEmpty());
    }
}

TEST(PasteRun, NoticesSpeakTheLanguageChosenWhenShown) {
    struct Case {
        std::optional<QString> appLanguage;
        QStringList system;
        QString allPasted;
        QString empty;
        QString button;
    };
    const QString zhAll = u"所有内容已粘贴完毕！"_s;
    const QString zhEmpty = u"剪贴板中没有可粘贴的内容。请重新复制多行文本。"_s;
    const std::vector<Case> cases = {
        {u"zh"_s, {u"en-US"_s}, zhAll, zhEmpty, u"好的"_s},
        {u"en"_s, {u"zh-CN"_s}, kAllPasted, kEmpty, u"OK"_s},
        {std::nullopt, {u"zh-Hans-CN"_s}, zhAll, zhEmpty, u"好的"_s},
        {std::nullopt, {u"en-GB"_s}, kAllPasted, kEmpty, u"OK"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button.toStdString());
        Harness h;
        h.languages.set(c.system);
        if (c.appLanguage) {
            h.settings.setString(u"appLanguage"_s, *c.appLanguage);
        }
        h.clipboard.copy(u"a"_s);
        h.press();
        h.press();
        h.clipboard.copy(u"\n"_s);
        h.press();
        ASSERT_EQ(h.alerts.shown().size(), 2u);
        EXPECT_EQ(h.notices(), (QStringList{c.allPasted, c.empty}));
        for (const AlertSpec& alert : h.alerts.shown()) {
            EXPECT_EQ(alert.message, u"Quillet");
            EXPECT_EQ(alert.buttons, QStringList{c.button});
            EXPECT_EQ(alert.style, AlertStyle::Informational);
        }
    }
}

// While the settings cannot be written the run goes on in memory, and the
// user hears about it once.
TEST(PasteRunSaveFailure, TheRunGoesOnAndTheUserIsToldOnce) {
    Harness h;
    h.clipboard.copy(u"a\nb\nc\nd"_s);
    h.press();
    h.settings.setWritable(false);
    h.press();
    h.press();
    EXPECT_EQ(h.clipboard.writtenLines(), (QStringList{u"a"_s, u"b"_s, u"c"_s}));
    ASSERT_EQ(h.notices().size(), 1);
    EXPECT_TRUE(h.notices().front().contains(u"cannot save"_s));
    EXPECT_EQ(h.stored()->currentIndex, 1);  // the file keeps the run as it was

    // Once writes work again the run reaches the file, and no second notice comes.
    h.settings.setWritable(true);
    h.press();
    EXPECT_EQ(h.stored()->currentIndex, 4);
    h.settings.setWritable(false);
    h.press();
    EXPECT_EQ(h.notices().back(), u"All lines pasted!"_s);
    EXPECT_EQ(h.notices().size(), 2);
}

}  // namespace
}  // namespace quillet
