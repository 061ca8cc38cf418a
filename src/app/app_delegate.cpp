#include "app/app_delegate.h"

#include "app/about_window.h"
#include "app/permission_notice.h"
#include "hotkey/capture_dialog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace quillet {

AppDelegate::AppDelegate(PlatformServices services, std::ostream& console)
    : services_(std::move(services)),
      strings_(*services_.settings, *services_.languages),
      notifier_(*services_.mainQueue, *services_.alerts, strings_),
      hotkeys_(*services_.hotkey, *services_.settings, console),
      injector_(*services_.mainQueue, *services_.clipboard, *services_.keystroke),
      pasteRun_(*services_.settings, *services_.clipboard, injector_, notifier_),
      linkAlerts_(*services_.alerts, *services_.urlOpener),
      statusMenu_(*services_.statusItem, *services_.settings, *services_.mainQueue, strings_,
                  [this](const MenuEntry& chosen) { menuCommand(chosen); }) {
    services_.hotkey->setHandler([this] { handleHotkeyPress(); });
}

AppDelegate::~AppDelegate() {
    services_.hotkey->unregisterHotkey();
    // A step waiting for the UI thread is released and stores nothing.
    services_.mainQueue->shutDown();
}

void AppDelegate::applicationDidFinishLaunching() {
    // A first run asks for a shortcut right after start-up, once the default is in place.
    if (!readStoredShortcut(*services_.settings)) {
        services_.mainQueue->post([this] { setHotkeyMenuItemClicked(); });
    }
    checkAccessibilityPermissions();
    setupStatusBarItem();
    hotkeys_.registerStoredOrDefault();
    updateHotkeyDisplay();
}

void AppDelegate::checkAccessibilityPermissions() {
    if (!services_.keystroke->available()) {
        services_.mainQueue->post([this] { linkAlerts_.show(permissionAlert(strings_)); });
    }
}

void AppDelegate::applicationWillTerminate() {
    hotkeys_.releaseHotkey();
    notifier_.mute();
    pasteQueue_.discardPending();
    // One step takes well under this; past it, quitting wins.
    QDeadlineTimer deadline(3000);
    while (!pasteQueue_.idle() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        QThread::msleep(2);
    }
    // A step still in flight lets go at once: its read ends and its hops to
    // this thread are refused, so it stores nothing.
    services_.clipboard->cancelReads();
    services_.mainQueue->shutDown();
}

void AppDelegate::handleHotkeyPress() {
    pasteQueue_.async([this] { executePasteLogic(); });
}

void AppDelegate::executePasteLogic() {
    pasteRun_.executePasteLogic();
}

Delivery AppDelegate::simulatePaste(const QString& line,
                                    const ClipboardContent& originalClipboardContent) {
    return injector_.simulatePaste(line, originalClipboardContent);
}

AppState AppDelegate::loadState() const {
    return quillet::loadState(*services_.settings);
}

bool AppDelegate::saveState(const AppState& state) {
    return quillet::saveState(*services_.settings, state);
}

bool AppDelegate::registerGlobalHotkey(std::uint32_t keyCode, ModifierFlags modifiers) {
    return hotkeys_.registerGlobalHotkey(keyCode, modifiers);
}

bool AppDelegate::registerDefaultHotkey() {
    return hotkeys_.registerDefaultHotkey();
}

void AppDelegate::setupStatusBarItem() {
    statusMenu_.setupStatusBarItem();
}

void AppDelegate::rebuildMenu() {
    statusMenu_.rebuildMenu();
}

void AppDelegate::switchLanguage(const QString& code) {
    statusMenu_.switchLanguage(code);
}

void AppDelegate::updateHotkeyDisplay() {
    statusMenu_.updateHotkeyDisplay();
}

void AppDelegate::showAboutWindow() {
    linkAlerts_.show(aboutAlert(strings_));
}

void AppDelegate::setHotkeyMenuItemClicked() {
    // Released first: while the dialog is open, pressing the old shortcut pastes nothing.
    hotkeys_.releaseHotkey();
    showHotkeySettingsAlert(*this, strings_, *services_.settings, *services_.keyTranslator);
}

bool AppDelegate::registerHotkeyFromUserDefaults() {
    const bool taken = hotkeys_.registerStored();
    if (taken) {
        notifier_.notify(u"Shortcut set successfully!", u"快捷键已设置成功！");
        updateHotkeyDisplay();
    } else {
        // The dialog puts the previous shortcut back; the menu still shows it.
        notifier_.notify(u"Failed to set shortcut. Please try again.", u"快捷键设置失败。请重试。");
    }
    return taken;
}

void AppDelegate::menuCommand(const MenuEntry& chosen) {
    switch (chosen.command) {
        case MenuCommand::SetShortcut:
            setHotkeyMenuItemClicked();
            break;
        case MenuCommand::About:
            showAboutWindow();
            break;
        case MenuCommand::Quit:
            QCoreApplication::quit();
            break;
        case MenuCommand::Language:
            switchLanguage(chosen.languageCode);
            break;
        case MenuCommand::None:
            break;
    }
}

void AppDelegate::showNotification(const QString& title, const QString& message) const {
    notifier_.showNotification(title, message);
}

void AppDelegate::waitForPendingPastes() {
    pasteQueue_.drain();
}

}  // namespace quillet
