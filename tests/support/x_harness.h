#pragma once

// The X session shared by the end-to-end tests and the benchmarks.

#include "core/app_state.h"
#include "platform/clipboard.h"
#include "wait.h"

#include <QByteArray>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QPlainTextEdit;

namespace quillet::harness {

using namespace std::chrono_literals;

bool haveDisplay();

// Puts back what a test changed on the shared server, even when it fails.
struct OnExit {
    std::function<void()> undo;
    ~OnExit() { undo(); }
};

// The default shortcut, Control+Alt+Super+V, as keysym names and X modifiers.
inline const std::vector<std::string> kDefaultChord{"Control_L", "Alt_L", "Super_L", "v"};
inline constexpr std::uint16_t kDefaultChordMask = (1U << 2) | (1U << 3) | (1U << 6);

struct XWindow {
    std::uint32_t id = 0;
    QRect geometry;  // on the screen
    QString name;
};

// A client of an X server ($DISPLAY unless named): presses keys and the mouse
// with XTest, looks at windows, grabs keys and owns the clipboard like
// another program would. Its grabs and its clipboard end with it.
class XClient {
public:
    explicit XClient(const QString& display = {});
    ~XClient();
    XClient(const XClient&) = delete;
    XClient& operator=(const XClient&) = delete;

    bool connected() const;

    // Keysym names as X knows them: "Control_L", "Super_L", "v", "Num_Lock".
    // down() presses in order, up() lets go in reverse; a chord is both,
    // with the keys held in between.
    void down(const std::vector<std::string>& keys);
    void up(const std::vector<std::string>& keys);
    void chord(const std::vector<std::string>& keys, Clock::duration hold = 30ms);
    // Lets go of a key and presses it again in one batch: the server stamps
    // both with one time, as it stamps an auto-repeat's pair.
    void pressAgain(const std::string& key);
    void click(QPoint point);

    // Mapped ones only.
    std::vector<XWindow> windows(qint64 pid);
    std::optional<XWindow> windowNamed(qint64 pid, const QString& name);
    // Waits until it shows, and with `focused` until it has the focus too.
    std::optional<XWindow> waitForWindow(qint64 pid, const QString& name, bool focused = false,
                                         Clock::duration timeout = 10s);
    // Its tray icon: a small window at the top, where the tray host sits.
    std::optional<XWindow> trayIcon(qint64 pid);
    // A notice: titled with the program's name like the icon, but larger.
    std::optional<XWindow> notice(qint64 pid);

    // Clicks the tray icon; then the menu, named after the tray item, must
    // hold the keyboard.
    bool openTrayMenu(qint64 pid, const QString& title);
    // Clicks the notice away once it shows, before it goes by itself.
    bool closeNotice(qint64 pid, Clock::duration timeout = 10s);

    // Asks the window to close, as a window manager's close button does.
    void close(std::uint32_t window);
    std::uint32_t focusedWindow();
    // Gives the window (0: none) the keyboard focus and waits until it has it.
    bool focus(std::uint32_t window);
    // The root window: focused, the keys reach no application.
    std::uint32_t root() const;
    // Whether some client holds the keyboard, as an open menu does.
    bool keyboardGrabbed();
    // Whether the server answers a request within the timeout: not while
    // another client holds it grabbed.
    bool answers(Clock::duration timeout);
    // Counts the key presses that reach the window (or a window in it), and
    // apart those the server made after it answered the last answers().
    void watchKeys(std::uint32_t window);
    struct KeyCount {
        int all = 0;
        int afterAnswer = 0;
    };
    KeyCount keys();
    // The server's keysym table, every keycode's keysyms in a row.
    std::vector<std::uint32_t> keyboardMapping();
    // Whether a tray host holds the screen's system tray selection.
    bool trayPresent();

    // Grabs the combination on the root window until the end of this
    // client; false when another client holds it.
    bool grabKey(std::uint16_t modifiers, const std::string& key);
    // Found by grabbing it for a moment: only for checks after the fact.
    bool grabbedElsewhere(std::uint16_t modifiers, const std::string& key);

    std::uint32_t clipboardOwner();
    // Takes the clipboard and never answers a request for it.
    bool takeClipboard();
    // Whether a client asked for our clipboard and still waits: the window
    // it asked from still exists.
    bool clipboardRequested();
    // Asks the clipboard's owner for a target naming this time (0: now), as
    // a program acting on an earlier event does; nullopt when refused.
    std::optional<QByteArray> convertClipboard(const std::string& target, std::uint32_t time = 0);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The client on $DISPLAY, opened on first use.
XClient& x();

// The CLIPBOARD selection as another program uses it, through xclip. copy()
// returns once xclip owns the selection; a child of it keeps serving it.
// Several formats at once, as a browser copies, are served from this
// process until the next copy.
bool copy(const QByteArray& data, const QString& mimeType = QStringLiteral("UTF8_STRING"));
bool copy(const ClipboardContent& content);
QByteArray clipboardData(const QString& mimeType = QStringLiteral("UTF8_STRING"));

class SessionBus;

// A program under test in a process of its own, with settings and runtime
// folders of its own, so that nothing of the user's is touched.
class Program {
public:
    struct Options {
        QString executable;           // Quillet when empty
        QString configHome;           // shared with other runs (the state too); fresh when empty
        bool storeShortcut = true;    // false: nothing stored, as on a first run
        std::optional<AppState> run;  // stored before the start
    };

    Program() : Program(Options{}) {}
    explicit Program(Options options);
    // Another run in the settings folder of an earlier one.
    explicit Program(const QString& configHome, bool storeShortcut = true)
        : Program(Options{{}, configHome, storeShortcut, {}}) {}
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void setEnvironment(const QString& name, const QString& value);
    // No session bus at all: no address, and none where libdbus would look.
    void withoutBus() { busless_ = true; }
    bool launch();
    // Launches it; Quillet is ready once it says it runs with its shortcut.
    bool start();
    // SIGTERM, then waits: true when it ended cleanly (Quillet with status 0).
    bool stop();
    void kill();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    bool waitForExit(Clock::duration timeout = 10s);
    int exitCode() const;  // -1 when it did not exit by itself

    const QByteArray& output();  // stdout and stderr so far
    // Every thread's stack while it runs, for a program that hangs; says why
    // when there is none.
    std::string stacks() const;
    bool waitForOutput(const QByteArray& text, Clock::duration timeout = 10s);
    // Runs the `quillet` command with these arguments where the program runs
    // (its bus, its folders); it is killed at the deadline.
    struct CommandResult {
        QByteArray output;  // stdout
        QByteArray errors;  // stderr
        int exitCode = -1;  // -1 when it did not end by itself in time
    };
    CommandResult command(const QStringList& arguments, Clock::duration deadline = 10s);
    const std::string& error() const { return error_; }
    // Keeps the first reason it is not usable, with what it said; false.
    bool fail(const std::string& message);

    qint64 pid() const { return process_.processId(); }
    QString configHome() const { return configHome_; }
    QString busAddress() const {
        return process_.processEnvironment().value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    }
    QString settingsFile() const;
    // The run's file, in a state folder beside the settings folder.
    QString stateFile() const;
    QVariant stored(const QString& key) const;
    // Stores settings as the user would before a start.
    void store(const QVariantMap& values) const;
    // The stored run, when there is one that decodes, and its cursor (-1 without).
    std::optional<AppState> storedRun() const;
    std::int64_t storedIndex() const;
    // Until the cursor is here: the press that moved it is done.
    bool waitForIndex(std::int64_t index, Clock::duration timeout = 10s) const;

    Clock::time_point startedAt() const { return startedAt_; }
    std::optional<Clock::time_point> armedAt() const { return armedAt_; }

private:
    bool isQuillet() const { return executable_.isEmpty(); }
    void readOutput();

    std::unique_ptr<SessionBus> ownBus_;  // outlives the process
    bool busless_ = false;
    QString executable_;
    QTemporaryDir ownConfig_;
    QTemporaryDir runtimeDir_;
    QString configHome_;
    QProcess process_;
    QByteArray output_;
    std::string error_;
    Clock::time_point startedAt_;
    std::optional<Clock::time_point> armedAt_;
};

// A D-Bus session bus of the test's own, ended with this object.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    const QString& address() const { return address_; }  // empty when it did not start

private:
    QProcess daemon_;
    QString address_;
};

// A text field that receives the pastes and reports each text it holds
// with the moment it changed.
class TargetWindow {
public:
    // In a process of its own, or in this one (which must run a
    // QApplication), where the benchmarks keep it so as to add no process
    // beside the one they measure; there it shows at the first focus().
    enum class Home { OwnProcess, ThisProcess };

    // Starts it; in a process of its own it is then shown and focused. With
    // form fields, a form of that many whose text is the rows sent ("a|b\n").
    explicit TargetWindow(Home home = Home::OwnProcess, int formFields = 0);
    ~TargetWindow();
    TargetWindow(const TargetWindow&) = delete;
    TargetWindow& operator=(const TargetWindow&) = delete;

    bool started() const { return started_; }
    const QString& text() const { return text_; }
    bool waitForText(const QString& expected, Clock::duration timeout = 5s);
    bool focus();
    std::uint32_t window() const { return window_; }
    qint64 pid() const { return process_.processId(); }
    // Empties the field, without a call of onChange.
    bool clear();
    // Waits until the field (in its own process) has handled every key sent
    // before: a paste from an owner that died holds it for seconds.
    bool drain();

    // Called for each new text with the moment the field changed.
    std::function<void(const QString& text, Clock::time_point at)> onChange;

private:
    void read();

    std::unique_ptr<QPlainTextEdit> field_;  // in this process
    QProcess process_;                       // or in that one
    QByteArray pending_;
    QString text_;
    int marks_ = 0;
    std::uint32_t window_ = 0;
    bool started_ = false;
};

}  // namespace quillet::harness
