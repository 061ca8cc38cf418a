#pragma once

#include "platform/global_hotkey.h"
#include "platform/press_relay.h"

#include <QDBusConnection>
#include <QObject>
#include <QThread>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace quillet {

namespace portal {
class ShortcutsConversation;
}

// The shortcuts through the portal's GlobalShortcuts interface: the desktop
// binds them, all in one session, and tells the program when one is pressed.
// Each trigger is a shortcut of its own in the desktop's settings, under the
// group "quillet"; a change to one action's shortcut binds them all anew.
// On Plasma its shortcut daemon is asked too, since Plasma 5.27's portal
// reports keys it could not give, and keeps every earlier shortcut bound.
//
// The conversation with the portal runs on a thread of its own, and grab()
// waits for its answer up to a deadline, without running events. The program must
// know at once whether its shortcut works (it says so, and a new shortcut that
// fails gives way to the old one), and waiting in a local event loop instead
// would run the UI thread's other work, dialogs included, in the middle of a
// grab. KDE answers within tens of milliseconds; a desktop that asks the user
// first (GNOME's dialog) answers later, and a grab still unanswered at the
// deadline counts as held.
class GlobalHotkeyPortal final : public GlobalHotkey {
public:
    explicit GlobalHotkeyPortal(
        QDBusConnection connection = QDBusConnection::sessionBus(),
        std::chrono::milliseconds answerDeadline = std::chrono::milliseconds(400));
    ~GlobalHotkeyPortal() override;

    void setHandler(std::function<void(ShortcutAction)> onPress) override;
    bool grab(ShortcutAction action, Shortcut shortcut) override;
    void release(ShortcutAction action) override;
    void releaseAll() override;

private:
    std::chrono::milliseconds answerDeadline_;
    std::map<ShortcutAction, QString> triggers_;  // asked for, so no two actions share one
    PressRelay presses_;
    QThread thread_;
    std::unique_ptr<portal::ShortcutsConversation> conversation_;  // lives on thread_
};

}  // namespace quillet
