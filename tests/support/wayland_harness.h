#pragma once

// A Wayland session for end-to-end tests and benchmarks, on the headless sway
// the test script started.

#include "platform/clipboard.h"
#include "wait.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace quillet {
class ActiveWindowWayland;
class ClipboardWayland;
namespace wayland {
class Session;
}
}  // namespace quillet

namespace quillet::wlharness {

using harness::Clock;
using namespace std::chrono_literals;

// Whether a headless sway answers on $WAYLAND_DISPLAY: a session of the
// test script's. The tests bind keys and take the clipboard; they leave a
// desktop with a screen alone. $DISPLAY names its Xwayland.
bool haveCompositor();

#define QUILLET_REQUIRE_COMPOSITOR()                                                      \
    do {                                                                                  \
        if (!::quillet::wlharness::haveCompositor()) {                                    \
            GTEST_SKIP() << "needs a headless sway ($WAYLAND_DISPLAY), see scripts/test"; \
        }                                                                                 \
    } while (false)

using harness::waitUntil;

// Runs a command of sway's (swaymsg); false when sway refused it.
bool sway(const QString& command);

// The combination the tests bind, as sway spells it and as keysym names.
inline constexpr auto kBinding = "Ctrl+Mod1+Mod4+v";
inline const std::vector<std::string> kBindingKeys{"Control_L", "Alt_L", "Super_L", "v"};

// Binds kBinding to `quillet --paste-next` for as long as it lives.
class PasteNextBinding {
public:
    PasteNextBinding();
    ~PasteNextBinding();
    PasteNextBinding(const PasteNextBinding&) = delete;
    PasteNextBinding& operator=(const PasteNextBinding&) = delete;
    bool bound() const { return bound_; }

private:
    bool bound_ = false;
};

// A virtual keyboard of the test's own, with the keymap of these XKB names,
// pressing keys like a user would.
class KeyDriver {
public:
    explicit KeyDriver(const std::string& layout = "us", const std::string& variant = {});
    ~KeyDriver();
    KeyDriver(const KeyDriver&) = delete;
    KeyDriver& operator=(const KeyDriver&) = delete;

    bool ready() const;
    // When the presses, and then the releases, went out to the compositor.
    struct Keystroke {
        Clock::time_point pressed;
        Clock::time_point released;
    };
    // Presses the keys (keysym names) in order, holds them, lets go in reverse.
    Keystroke chord(const std::vector<std::string>& keys, Clock::duration hold = 30ms);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// This process as another program on the desktop: it copies (through the
// program's own data-control code, for several types at once), reads the
// clipboard with wl-paste, and knows the activated window.
class Desktop {
public:
    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Owns the clipboard with these formats until something else copies.
    bool copy(const ClipboardContent& content);
    // What another program gets for this type ("" when none).
    QByteArray paste(const QString& type);
    QString activeAppId();

private:
    std::shared_ptr<wayland::Session> session_;
    std::unique_ptr<ClipboardWayland> clipboard_;
    std::unique_ptr<ActiveWindowWayland> activeWindow_;
};

// A Qt text field in a process of its own, under this app id (the class of
// an X11 window); it mirrors its text to a file after every change. A
// terminal pastes with Control+Shift+V only, Emacs with Shift+Insert only.
// With form fields it is a form of that many, whose text is the rows sent
// ("a|b\n").
class TargetWindow {
public:
    enum class Paste { ControlV, Terminal, ShiftInsert };
    enum class Shell { Wayland, Xwayland };
    explicit TargetWindow(Desktop& desktop, const QString& appId = QStringLiteral("quillet-target"),
                          Paste paste = Paste::ControlV, Shell shell = Shell::Wayland,
                          int formFields = 0);
    ~TargetWindow();
    TargetWindow(const TargetWindow&) = delete;
    TargetWindow& operator=(const TargetWindow&) = delete;

    bool started() const { return started_; }  // and shown and focused
    QString text() const;
    bool waitForText(const QString& expected, Clock::duration timeout = 5s) const;
    // Gives it (a Wayland window) the focus and waits until the compositor
    // says it has it.
    bool focus();
    // When the text last changed, as the window saw it.
    Clock::time_point changedAt();

private:
    // Focused by the compositor, and the window says it got the keyboard
    // more often than before.
    bool hasKeyboard(qsizetype focusedBefore);

    Desktop& desktop_;
    QString appId_;
    QTemporaryDir dir_;
    QProcess process_;
    QByteArray output_;
    bool started_ = false;
};

// Another program's window, started with this command ("%file" in it
// becomes a file of the window's, which it writes what it gets to), that
// the compositor lists under this app id.
class AppWindow {
public:
    AppWindow(Desktop& desktop, const QString& appId, QStringList command,
              const QStringList& environment = {});
    ~AppWindow();
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    bool started() const { return started_; }  // and shown and focused
    QByteArray file() const;

private:
    Desktop& desktop_;
    QString appId_;
    QTemporaryDir dir_;
    QProcess process_;
    bool started_ = false;
};

// The program under test, with settings of its own ("key=value" lines of
// its settings file) on the session's compositor and bus, and what the
// environment should hold besides ("NAME=value").
class QuilletProcess {
public:
    explicit QuilletProcess(const QStringList& settings = {}, const QStringList& environment = {});
    ~QuilletProcess();
    QuilletProcess(const QuilletProcess&) = delete;
    QuilletProcess& operator=(const QuilletProcess&) = delete;

    bool start();  // and waits until it says it runs
    // SIGTERM, then waits; the exit code (-1 when it did not end cleanly).
    int stop();
    QByteArray standardError();
    QString settingsFile() const;
    // Where the run is kept; rewritten after every press.
    QString stateFile() const;
    qint64 pid() const { return process_.processId(); }

private:
    QTemporaryDir config_;
    QProcess process_;
    QByteArray errors_;
};

// Runs the program as a command line does; its exit code and what it said.
struct Ran {
    int exitCode = -1;
    QByteArray output;
};
Ran runCommand(const QString& program, const QStringList& arguments,
               const QStringList& environment = {});

}  // namespace quillet::wlharness
