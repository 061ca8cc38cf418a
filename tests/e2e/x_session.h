#pragma once

// Support for tests against a real X server: the target window, a key
// driver of our own on XTest, and waiting on conditions with deadlines.

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillet::e2e {

using namespace std::chrono_literals;

// Whether $DISPLAY names a server we can open.
bool haveDisplay();

#define QUILLET_REQUIRE_DISPLAY()                            \
    do {                                                     \
        if (!::quillet::e2e::haveDisplay()) {                \
            GTEST_SKIP() << "needs an X display ($DISPLAY)"; \
        }                                                    \
    } while (false)

// Polls pred (processing Qt events in between) until it holds or the
// deadline passes; returns its last answer.
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline);

// The window that receives pastes, in a process of its own.
class TargetWindow {
public:
    TargetWindow();
    ~TargetWindow();
    TargetWindow(const TargetWindow&) = delete;
    TargetWindow& operator=(const TargetWindow&) = delete;

    bool started() const { return started_; }
    QString text() const;
    // Waits until the window's text equals expected.
    bool waitForText(const QString& expected, std::chrono::milliseconds deadline = 5s) const;
    // Gives it the keyboard focus again (xdotool windowfocus).
    void focus() const;

private:
    QTemporaryDir dir_;
    QString outPath_;
    QProcess process_;
    bool started_ = false;
};

// Presses keys on the X server with XTest, like a user would.
class KeyDriver {
public:
    KeyDriver();
    ~KeyDriver();
    KeyDriver(const KeyDriver&) = delete;
    KeyDriver& operator=(const KeyDriver&) = delete;

    // Keysym names as X knows them: "Control_L", "Alt_L", "Super_L", "v", "Num_Lock".
    // Presses them in order, holds them for `hold`, releases them in reverse.
    void chord(const std::vector<std::string>& keys, std::chrono::milliseconds hold = 30ms);
    void down(const std::string& key);
    void up(const std::string& key);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The real program in a process of its own, with a settings folder of its
// own so tests never touch the user's.
class QuilletProcess {
public:
    // First: nothing stored, as on a new installation (the shortcut dialog
    // opens at start-up). Later: a shortcut is already stored.
    enum class Launch { First, Later };

    // configHome: an XDG_CONFIG_HOME to share between runs; a fresh one when empty.
    explicit QuilletProcess(const QString& configHome = {}, Launch launch = Launch::Later);
    ~QuilletProcess();
    QuilletProcess(const QuilletProcess&) = delete;
    QuilletProcess& operator=(const QuilletProcess&) = delete;

    // Starts it and waits until it holds the default shortcut.
    bool start();
    // SIGTERM, then waits; returns the exit code (-1 when it did not end cleanly).
    int stop();
    QString configHome() const { return configHome_; }
    QString settingsFile() const;
    // What the settings file holds under key now.
    QVariant stored(const QString& key) const;
    qint64 pid() const { return process_.processId(); }
    QByteArray standardOutput();
    QByteArray standardError();
    QProcess& process() { return process_; }

private:
    QTemporaryDir ownConfig_;
    QString configHome_;
    QProcess process_;
    QByteArray output_;
    QByteArray errors_;
};

// Whether another client holds a grab on this combination (X modifier mask
// and keysym name), found by trying to grab it ourselves: only for checks
// after the fact, as our own brief grab would collide with a new one.
bool comboGrabbedElsewhere(std::uint16_t modifiers, const std::string& key);

// A grab of a key combination by another X client, for as long as it lives.
class OtherClientGrab {
public:
    OtherClientGrab(std::uint16_t modifiers, const std::string& key);
    ~OtherClientGrab();
    OtherClientGrab(const OtherClientGrab&) = delete;
    OtherClientGrab& operator=(const OtherClientGrab&) = delete;
    bool held() const { return held_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool held_ = false;
};

// Takes the keyboard focus away from every window.
void focusNothing();

// The default shortcut, Control+Alt+Super+V, as the key driver presses it.
inline const std::vector<std::string> kDefaultChord{"Control_L", "Alt_L", "Super_L", "v"};
inline constexpr std::uint16_t kDefaultChordMask = (1U << 2) | (1U << 3) | (1U << 6);

// Runs xdotool to its end and returns what it printed; display: another
// than $DISPLAY.
QByteArray xdotool(const QStringList& args, const QString& display = {});

struct XWindow {
    QString id;
    QRect geometry;
    QString name;
};

// The first mapped window of a process that satisfies pred.
std::optional<XWindow> findWindow(qint64 pid, const std::function<bool(const XWindow&)>& pred,
                                  const QString& display = {});
std::optional<XWindow> windowNamed(qint64 pid, const QString& name);
// The tray icon: a small window docked at the top, where the tray host sits.
std::optional<XWindow> trayIcon(qint64 pid, const QString& display = {});
// A notice: titled with the program's name like the icon, but larger.
std::optional<XWindow> notice(qint64 pid);

// Clicks the icon; the menu, named after the tray item, must then hold the keyboard.
testing::AssertionResult openTrayMenu(qint64 pid, const QString& title);

// Whether some client holds the keyboard grab, as an open menu does.
bool keyboardGrabbed();
QString focusedWindow();
void clickAt(QPoint point);
// What the screen shows of the window.
QImage windowImage(const XWindow& window);

// A client that takes the clipboard and then never answers a request for
// it; the clipboard has no owner once it is gone.
class SilentClipboardOwner {
public:
    SilentClipboardOwner();
    ~SilentClipboardOwner();
    SilentClipboardOwner(const SilentClipboardOwner&) = delete;
    SilentClipboardOwner& operator=(const SilentClipboardOwner&) = delete;
    bool owning() const { return owning_; }
    // Whether a client asked for the clipboard and is still waiting: the
    // window it asked from still exists.
    bool requestPending();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool owning_ = false;
};

// Answers the program's notice with its default button once it shows; the
// target gets the keyboard focus back.
testing::AssertionResult closeNotice(qint64 pid, KeyDriver& keys, const TargetWindow& target,
                                     std::chrono::milliseconds deadline = 10s);

// Where the shortcut dialog's buttons sit from its bottom-right corner,
// from the same dialog shown in this process with the program's code, style
// and fonts: another process's widgets cannot be read.
struct CaptureDialogButtons {
    QPoint confirm;
    QPoint cancel;
};
CaptureDialogButtons captureDialogButtons();

// Reads and writes the CLIPBOARD selection through xclip, as another program.
QByteArray xclipRead(const QString& mimeType = QStringLiteral("UTF8_STRING"));
void xclipWrite(const QByteArray& data, const QString& mimeType = QStringLiteral("UTF8_STRING"));

}  // namespace quillet::e2e
