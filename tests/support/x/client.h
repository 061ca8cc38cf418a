#pragma once

// A client of the X server that acts as the user and as other programs do.

#include "wait.h"

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillet::harness {

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

}  // namespace quillet::harness
