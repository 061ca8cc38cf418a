#pragma once

#include "app/language.h"
#include "app/notices.h"
#include "app/tray_menu.h"
#include "hotkey/hotkey_registration.h"
#include "paste/paste_injector.h"
#include "paste/paste_run.h"
#include "paste/serial_queue.h"
#include "platform/services.h"

#include <QObject>

#include <chrono>
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

    // Ends the program's event loops, with whatever window is open: what
    // Quit and SIGTERM do.
    static void quitNow();

    // Before the event loop's thread stops. Lets the paste in flight finish
    // (it needs the UI thread to put the clipboard back, then stores the
    // run); presses not yet started are dropped and no notice opens any more.
    void prepareToQuit();

    // A press or move that waited longer than this for the ones before it is
    // dropped: a paste that long after the press could land anywhere.
    static constexpr std::chrono::milliseconds kLongestWait{10'000};
    // --status waits this long for the presses and moves before it, then
    // answers with where the run stands at that moment.
    static constexpr std::chrono::milliseconds kStatusPatience{500};

    // UI thread: queues one paste step, for the shortcut or a PasteNext
    // command. Presses are not merged; one that waited too long is dropped.
    void onShortcutPressed();
    // UI thread: queues a move behind the presses before it.
    void move(RunMove move);
    void moveTo(std::int64_t index);

    // The run as the UI thread last heard of it: lines and cursor, not the text.
    const AppState& shownRun() const { return shownRun_; }

    // Blocks until every press so far has been handled; for tests.
    void waitForPendingPastes() { pasteQueue_.drain(); }
    // For tests, before the first press.
    void setLongestWait(std::chrono::milliseconds wait) { longestWait_ = wait; }

    bool shortcutHeld() const { return hotkeys_.held(); }
    Shortcut shortcut() const { return hotkeys_.current(); }
    bool trayAvailable() const { return services_.tray->isAvailable(); }
    // Why commands from other processes cannot arrive; "" when they can.
    const QString& commandsProblem() const { return commandsProblem_; }

private:
    // A shortcut pressed or a command received: why it cannot act now, when it cannot.
    std::optional<Text> onAction(ShortcutAction action);
    void answerStatus(std::function<void(const QString&)> answer);
    // Paste worker: one step of the run, then its notice and the new position.
    void queueStep(std::function<StepOutcome()> step);
    void changeShortcut(ShortcutAction action);
    // Where a grab writes the desktop's own settings: whether the user agreed,
    // asking first when they have not said so yet (or, with `again`, said no).
    bool desktopSettingsAllowed(bool ask, bool again = false);
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
    int shortcutDialogs_ = 0;  // open now; UI thread
    std::chrono::milliseconds longestWait_ = kLongestWait;
    int droppedInARow_ = 0;    // paste worker
    QObject statusDeadlines_;  // ends the timers of answers still pending
    // Last: destroyed first, while everything its tasks use still exists.
    SerialQueue pasteQueue_{"paste"};
};

}  // namespace quillet
