#pragma once

#include "app/localized_strings.h"
#include "app/notifier.h"
#include "app/link_alert.h"
#include "app/status_menu.h"
#include "hotkey/hotkey_registration.h"
#include "hotkey/hotkey_settings_delegate.h"
#include "paste/app_state.h"
#include "paste/paste_injector.h"
#include "paste/paste_run.h"
#include "platform/platform_services.h"
#include "platform/serial_queue.h"

#include <iosfwd>

namespace quillet {

// The one application object: it owns every long-lived resource and names
// the program's operations. Each operation is a short call into the
// subsystem that owns its logic.
class AppDelegate final : public HotkeySettingsDelegate {
public:
    explicit AppDelegate(PlatformServices services, std::ostream& console);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    void applicationDidFinishLaunching();
    void checkAccessibilityPermissions();
    // Lets the paste in flight finish (it needs the UI thread to put the
    // clipboard back and then stores the run); presses not yet started are
    // dropped and no notice opens any more.
    void applicationWillTerminate();

    // The run (UI thread: handleHotkeyPress; paste worker: the rest).
    void handleHotkeyPress();
    void executePasteLogic();
    Delivery simulatePaste(const QString& line, const ClipboardContent& originalClipboardContent);
    AppState loadState() const;
    bool saveState(const AppState& state);

    // The shortcut (UI thread).
    bool registerGlobalHotkey(std::uint32_t keyCode, ModifierFlags modifiers) override;
    bool registerDefaultHotkey() override;
    bool registerHotkeyFromUserDefaults() override;

    // The tray item and its menu (UI thread; updateHotkeyDisplay any thread).
    void setupStatusBarItem();
    void rebuildMenu();
    void switchLanguage(const QString& code);
    void updateHotkeyDisplay();
    void showAboutWindow();
    void setHotkeyMenuItemClicked();
    bool trayAvailable() const { return services_.statusItem->isTrayAvailable(); }

    // Notices (any thread).
    void showNotification(const QString& title, const QString& message) const;
    const LocalizedStrings& strings() const { return strings_; }

    bool hotkeyRegistered() const { return hotkeys_.registered(); }
    const SettingsStore& settings() const { return *services_.settings; }

    // Blocks until every press so far has been handled; for tests and shutdown.
    void waitForPendingPastes();

private:
    void menuCommand(const MenuEntry& chosen);

    PlatformServices services_;
    LocalizedStrings strings_;
    Notifier notifier_;
    HotkeyRegistration hotkeys_;
    PasteInjector injector_;
    PasteRun pasteRun_;
    LinkAlerts linkAlerts_;
    StatusMenuController statusMenu_;
    // Last: destroyed first, while everything its tasks use still exists.
    SerialQueue pasteQueue_{"com.tarnwick.pasteQueue"};
};

}  // namespace quillet
