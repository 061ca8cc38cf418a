#pragma once

// The user's side of the headless GNOME of tests/support/gnome_session.sh:
// a keyboard and another program's clipboard through a mutter RemoteDesktop
// session of the test's own, and GTK windows to paste into.

#include "platform/clipboard.h"
#include "wait.h"

#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <xkbcommon/xkbcommon-keysyms.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace quillet::wlharness {
class QuilletProcess;
}

namespace quillet::gnometest {

using harness::Clock;
using harness::waitUntil;
using namespace std::chrono_literals;

class RemoteDesktop : public QObject {
    Q_OBJECT
public:
    RemoteDesktop();
    ~RemoteDesktop() override;

    bool ready() const { return ready_; }
    bool keysym(std::uint32_t keysym, bool down);
    bool keycode(int evdev, bool down);
    // Presses the keys in order; lets go of the last, holds the others that
    // much longer, then lets go of them too.
    void chord(const std::vector<std::uint32_t>& keysyms, Clock::duration modifiersHeld = 30ms);

    // Owns the clipboard with these formats, as a program that copied, until
    // another program takes it.
    bool copy(const ClipboardContent& content);
    // What a program reading the clipboard gets for this type (empty when none).
    QByteArray paste(const QString& type);

private Q_SLOTS:
    void serve(const QString& type, uint serial);

private:
    QString path_;
    bool ready_ = false;
    ClipboardContent offered_;
};

// The program's default shortcut, ⌃⌥⌘V.
inline const std::vector<std::uint32_t> kShortcut{XKB_KEY_Control_L, XKB_KEY_Alt_L, XKB_KEY_Super_L,
                                                  XKB_KEY_v};

// Starts the program, reading GNOME's settings where the session keeps them;
// it writes its custom keybinding there, running `quillet --paste-next`.
bool start(wlharness::QuilletProcess& quillet);

// A GTK window (tests/support/gnome/target.py) with a text field, focused.
class GtkWindow {
public:
    GtkWindow(RemoteDesktop& keys, int gtkVersion);
    ~GtkWindow();

    bool started() const { return started_; }
    QString text() const;
    bool waitForText(const QString& expected, Clock::duration timeout = 10s) const;
    // Rewritten on every change of the text.
    QString textFile() const { return dir_.filePath(QStringLiteral("text")); }
    void clear();
    // Every type on the clipboard and its bytes, as the window reads them.
    std::vector<std::pair<QString, QByteArray>> readClipboard();

private:
    QByteArray file(const QString& name) const;

    RemoteDesktop& keys_;
    QTemporaryDir dir_;
    QProcess process_;
    bool started_ = false;
};

}  // namespace quillet::gnometest
