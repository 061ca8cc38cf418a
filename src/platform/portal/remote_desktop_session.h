#pragma once

#include "core/handoff.h"
#include "platform/portal/portal_session.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace quillet::portal {

// A keyboard-only session of the portal's RemoteDesktop interface: the one
// way a Wayland client may press keys on KDE Plasma and GNOME. It is started
// on the UI thread, where a consent dialog may be shown; once it runs, keys
// may be sent from any thread.
class RemoteDesktopSession final : public QObject {
    Q_OBJECT

public:
    // Closes the session when it goes.
    explicit RemoteDesktopSession(QDBusConnection connection, QObject* parent = nullptr);
    RemoteDesktopSession(const RemoteDesktopSession&) = delete;
    RemoteDesktopSession& operator=(const RemoteDesktopSession&) = delete;

    // UI thread; returns at once. A restore token of an earlier session lets
    // the desktop skip its consent dialog; `onToken` gets the token of this
    // one once it runs, where the desktop hands one out.
    void start(const QString& restoreToken, std::function<void(const QString&)> onToken);

    // Any thread: waits up to the deadline for the session to run; false
    // when it does not (yet), or never will.
    bool waitUntilRunning(std::chrono::milliseconds deadline) const;
    // Any thread: the same, but a session the desktop closed is started
    // anew first, with the latest restore token, so no question is asked
    // again where the desktop keeps its consent.
    bool ensureRunning(std::chrono::milliseconds deadline);
    // Any thread: the session could not be had (no portal, no keyboard, no consent).
    bool failed() const;

    // Any thread, once running: one key going down or up, by its evdev code
    // or by keysym (the desktop finds a key for it). False when the portal
    // did not take it.
    bool key(int evdevCode, bool pressed);
    bool keysym(std::uint32_t keysym, bool pressed);

private:
    enum class State { Idle, Starting, Running, Failed, Closed };

    void selectDevices(const QString& restoreToken);
    void startSession();
    void primeKeysyms();
    // Whether the state was `from` (any, without one); it is `to` now if so.
    bool shift(State to, std::optional<State> from = std::nullopt);
    bool is(State wanted) const;
    bool notify(const QString& method, const QVariant& key, bool pressed);

    PortalSession session_;
    std::function<void(const QString&)> onToken_;
    QString restoreToken_;  // UI thread
    Handoff<State> state_{State::Idle};
};

}  // namespace quillet::portal
