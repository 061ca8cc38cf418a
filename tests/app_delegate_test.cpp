// The application object wired to in-memory doubles: start-up, the outcome of
// a confirmed shortcut, and the check for synthetic input.

#include "app/app_delegate.h"
#include "app/permission_notice.h"
#include "platform/fakes/fake_clipboard.h"
#include "platform/fakes/fake_global_hotkey.h"
#include "platform/fakes/fake_status_item.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/manual_main_queue.h"
#include "platform/fakes/recording_paste_keystroke.h"
#include "platform/fakes/recording_url_opener.h"
#include "platform/fakes/scripted_alerts.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quillet {
namespace {

class AppDelegateTest : public ::testing::Test {
protected:
    AppDelegateTest() {
        PlatformServices services;
        services.settings = std::make_unique<InMemorySettingsStore>();
        services.mainQueue = std::make_unique<ManualMainQueue>();
        services.alerts = std::make_unique<ScriptedAlerts>();
        services.languages = std::make_unique<FixedUiLanguages>();
        services.clipboard = std::make_unique<FakeClipboard>();
        services.keystroke = std::make_unique<RecordingPasteKeystroke>();
        services.hotkey = std::make_unique<FakeGlobalHotkey>();
        services.statusItem = std::make_unique<FakeStatusItem>();
        services.urlOpener = std::make_unique<RecordingUrlOpener>();
        settings = static_cast<InMemorySettingsStore*>(services.settings.get());
        mainQueue = static_cast<ManualMainQueue*>(services.mainQueue.get());
        alerts = static_cast<ScriptedAlerts*>(services.alerts.get());
        keystroke = static_cast<RecordingPasteKeystroke*>(services.keystroke.get());
        hotkey = static_cast<FakeGlobalHotkey*>(services.hotkey.get());
        statusItem = static_cast<FakeStatusItem*>(services.statusItem.get());
        urls = static_cast<RecordingUrlOpener*>(services.urlOpener.get());
        delegate = std::make_unique<AppDelegate>(std::move(services), console);
    }

    void storeShortcut(Shortcut shortcut) { quillet::storeShortcut(*settings, shortcut); }
    QString menuTitle() const { return statusItem->rows().front().title; }

    std::ostringstream console;
    InMemorySettingsStore* settings;
    ManualMainQueue* mainQueue;
    ScriptedAlerts* alerts;
    RecordingPasteKeystroke* keystroke;
    FakeGlobalHotkey* hotkey;
    FakeStatusItem* statusItem;
    RecordingUrlOpener* urls;
    std::unique_ptr<AppDelegate> delegate;
};

constexpr Shortcut kCommandF{3, 0x100000};

TEST_F(AppDelegateTest, ALaterStartTakesTheStoredShortcutAndShowsIt) {
    storeShortcut(kCommandF);
    delegate->applicationDidFinishLaunching();
    mainQueue->runPending();
    EXPECT_EQ(hotkey->held(), FakeGlobalHotkey::Combination(3, 0x100000));
    EXPECT_EQ(menuTitle(), QStringLiteral("Set Shortcut (Current: ⌘F)"));
    EXPECT_TRUE(alerts->shown().empty());
}

TEST_F(AppDelegateTest, AFirstStartStoresTheDefaultAndQueuesTheDialog) {
    delegate->applicationDidFinishLaunching();
    EXPECT_EQ(readStoredShortcut(*settings), kDefaultShortcut);
    EXPECT_EQ(hotkey->held(), FakeGlobalHotkey::Combination(9, 0x1C0000));
    // The dialog waits on the main queue until start-up has returned.
    EXPECT_GE(mainQueue->pendingCount(), 1U);
}

TEST_F(AppDelegateTest, AConfirmedShortcutIsAnnouncedOnlyWhenTaken) {
    storeShortcut(kDefaultShortcut);
    delegate->applicationDidFinishLaunching();
    mainQueue->runPending();

    storeShortcut(kCommandF);
    EXPECT_TRUE(delegate->registerHotkeyFromUserDefaults());
    mainQueue->runPending();
    ASSERT_EQ(alerts->shown().size(), 1U);
    EXPECT_EQ(alerts->shown().back().informative, QStringLiteral("Shortcut set successfully!"));
    EXPECT_EQ(menuTitle(), QStringLiteral("Set Shortcut (Current: ⌘F)"));

    // Another program holds ⌃⇧K: no success claimed, the menu keeps ⌘F.
    hotkey->taken.insert({40, 0x60000});
    storeShortcut({40, 0x60000});
    EXPECT_FALSE(delegate->registerHotkeyFromUserDefaults());
    mainQueue->runPending();
    ASSERT_EQ(alerts->shown().size(), 2U);
    EXPECT_EQ(alerts->shown().back().informative,
              QStringLiteral("Failed to set shortcut. Please try again."));
    EXPECT_EQ(menuTitle(), QStringLiteral("Set Shortcut (Current: ⌘F)"));
    EXPECT_NE(console.str().find("Hotkey registration failed\n"), std::string::npos);
}

TEST_F(AppDelegateTest, WithoutSyntheticInputItSaysSoOnceInTheUsersLanguage) {
    storeShortcut(kDefaultShortcut);
    settings->setString(QStringLiteral("appLanguage"), QStringLiteral("zh"));
    keystroke->setWorks(false);
    alerts->answer(kFirstButtonResponse);
    delegate->applicationDidFinishLaunching();
    mainQueue->runPending();

    ASSERT_EQ(alerts->shown().size(), 1U);
    const AlertSpec& notice = alerts->shown().front();
    EXPECT_EQ(notice.message, QStringLiteral("需要辅助功能权限"));
    EXPECT_EQ(notice.style, AlertStyle::Critical);
    EXPECT_EQ(notice.buttons,
              QStringList({QStringLiteral("打开系统设置"), QStringLiteral("取消")}));
    ASSERT_EQ(urls->opened().size(), 1U);
    EXPECT_EQ(urls->opened().front(), QUrl(QString::fromUtf16(kInputHelpUrl)));
    // The shortcut is still taken: the menu and About keep working.
    EXPECT_TRUE(hotkey->held().has_value());
}

}  // namespace
}  // namespace quillet
