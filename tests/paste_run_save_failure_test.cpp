// The run when the settings cannot be written: it goes on in memory and the
// user hears about it once.

#include "app/localized_strings.h"
#include "app/notifier.h"
#include "paste/app_state.h"
#include "paste/paste_injector.h"
#include "paste/paste_run.h"
#include "platform/fakes/fake_clipboard.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/manual_main_queue.h"
#include "platform/fakes/recording_paste_keystroke.h"
#include "platform/fakes/scripted_alerts.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;
using std::chrono::milliseconds;

struct Harness {
    InMemorySettingsStore settings;
    ManualMainQueue queue;
    FakeClipboard clipboard;
    RecordingPasteKeystroke keystroke;
    ScriptedAlerts alerts;
    FixedUiLanguages languages{{u"en-US"_s}};
    PasteInjector injector{queue, clipboard, keystroke,
                           PasteTiming{milliseconds{0}, milliseconds{0}, milliseconds{0},
                                       milliseconds{0}, milliseconds{0}},
                           [](milliseconds) {}};
    Notifier notifier{queue, alerts, LocalizedStrings{settings, languages}};
    PasteRun run{settings, queue, clipboard, injector, notifier};

    void press() {
        run.executePasteLogic();
        queue.runPending();
    }
    std::size_t notices() const { return alerts.shown().size(); }
};

TEST(PasteRunSaveFailure, TheRunGoesOnAndTheUserIsToldOnce) {
    Harness h;
    h.clipboard.copy(u"a\nb\nc\nd"_s);
    h.press();
    EXPECT_EQ(h.notices(), 0U);

    h.settings.setWritable(false);
    h.press();
    h.press();
    EXPECT_EQ(h.clipboard.writtenLines(), (QStringList{u"a"_s, u"b"_s, u"c"_s}));
    ASSERT_EQ(h.notices(), 1U);
    EXPECT_TRUE(h.alerts.shown().front().informative.contains(u"cannot save"_s));
    // The file still holds the run as it was before the failures.
    EXPECT_EQ(loadState(h.settings).currentIndex, 1);

    // Once writes work again the run reaches the file, and no more notices come.
    h.settings.setWritable(true);
    h.press();
    EXPECT_EQ(h.clipboard.writtenLines().back(), u"d"_s);
    EXPECT_EQ(loadState(h.settings).currentIndex, 4);
    h.settings.setWritable(false);
    h.press();
    EXPECT_EQ(h.notices(), 2U);  // "All lines pasted!", not a second save notice
    EXPECT_EQ(h.alerts.shown().back().informative, u"All lines pasted!"_s);
}

}  // namespace
}  // namespace quillet
