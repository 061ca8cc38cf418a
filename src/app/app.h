#pragma once

#include "app/language.h"
#include "app/notices.h"
#include "app/tray_menu.h"
#include "hotkey/hotkey_registration.h"
#include "paste/paste_injector.h"
#include "paste/paste_run.h"
#include "paste/serial_queue.h"
#include "platform/services.h"

#include <iosfwd>
#include <memory>

namespace quillet {

class RunWindow;

// The program: owns every long-lived resource and wires a press of the
// shortcut to a paste step on the worker, the tray menu to its commands and
// every outcome to its notice.
class App {
public:
    App(PlatformServices services, std::ostream& console);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // UI thread, once the event loop is about to run: takes the shortcut,
    // starts taking commands and shows the tray item; on a first run the
    // shortcut dialog follows, where the desktop lets a program take one.
    void start();

    // Before the event loop's thread stops. Lets the paste in flight finish
    // (it needs the UI thread to put the clipboard back, then stores the
    // run); presses not yet started are dropped and no notice opens any more.
    void prepareToQuit();

    // UI thread: queues one paste step, for the shortcut or a PasteNext
    // command. Presses are neither dropped nor merged.
    void onShortcutPressed();
    // UI thread: queues a move behind the presses before it.
    void move(RunMove move);
    void moveTo(std::int64_t index);

    // The run as the UI thread last heard of it: lines and cursor, not the text.
    const AppState& shownRun() const { return shownRun_; }

    // Blocks until every press so far has been handled; for tests.
    void waitForPendingPastes() { pasteQueue_.drain(); }

    bool shortcutHeld() const { return hotkeys_.held(); }
    Shortcut shortcut() const { return hotkeys_.current(); }
    bool trayAvailable() const { return services_.tray->isAvailable(); }
    // Why commands from other processes cannot arrive; "" when they can.
    const QString& commandsProblem() const { return commandsProblem_; }

private:
    // A shortcut pressed or a command received.
    void onAction(ShortcutAction action);
    // Paste worker: one step of the run, then its notice and the new position.
    void queueStep(std::function<StepOutcome()> step);
    void changeShortcut(ShortcutAction action);
    // Paste worker: tells the UI thread where the run stands now.
    void publishRun();
    void showRun(AppState run);
    void setStartAtLogin(bool wanted);
    // Opens the run's window, made the first time it is asked for.
    void showList();

    PlatformServices services_;
    std::ostream& console_;
    LanguageChoice language_;
    Notices notices_;
    HotkeyRegistration hotkeys_;
    PasteInjector injector_;
    RunStore runStore_;
    PasteRun pasteRun_;
    TrayMenu menu_;
    QString commandsProblem_;
    AppState shownRun_;
    std::unique_ptr<RunWindow> runWindow_;
    // Last: destroyed first, while everything its tasks use still exists.
    SerialQueue pasteQueue_{"paste"};
};

}  // namespace quillet
