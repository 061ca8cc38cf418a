#include "app/app_delegate.h"

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
      pasteRun_(*services_.settings, *services_.mainQueue, *services_.clipboard, injector_,
                notifier_) {
    services_.hotkey->setHandler([this] { handleHotkeyPress(); });
}

AppDelegate::~AppDelegate() {
    services_.hotkey->unregisterHotkey();
    // A step waiting for the UI thread is released and stores nothing.
    services_.mainQueue->shutDown();
}

void AppDelegate::applicationDidFinishLaunching() {
    hotkeys_.registerStoredOrDefault();
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

void AppDelegate::showNotification(const QString& title, const QString& message) const {
    notifier_.showNotification(title, message);
}

void AppDelegate::waitForPendingPastes() {
    pasteQueue_.drain();
}

}  // namespace quillet
