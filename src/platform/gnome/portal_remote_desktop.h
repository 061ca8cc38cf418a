#pragma once

#include "core/handoff.h"
#include "platform/gnome/remote_desktop.h"
#include "platform/portal/portal_request.h"

#include <QPointer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>

namespace quillet::gnome {

// Catches the Response of portal requests on a thread of its own, so that a
// worker without an event loop can wait for one.
class ResponseCatcher final : public QObject {
    Q_OBJECT

public:
    std::optional<portal::PortalResponse> waitFor(const QString& path,
                                                  std::chrono::milliseconds deadline);

    // The last change of the clipboard's owner, heard before anybody listened.
    std::optional<QDBusMessage> lastOwner();

public Q_SLOTS:
    void onResponse(const QDBusMessage& message);
    void onOwnerChanged(const QDBusMessage& message);

private:
    Handoff<std::map<QString, portal::PortalResponse>> responses_;
    std::mutex ownerMutex_;
    std::optional<QDBusMessage> lastOwner_;
};

// The RemoteDesktop portal (version 2, GNOME 45 and later) with its
// Clipboard: one session for the keyboard and the clipboard, started when
// made. The first start asks the user; the restore token it hands out spares
// the question next time.
class PortalRemoteDesktop final : public RemoteDesktop {
public:
    // Blocks until the session runs or the deadline (the user's answer) passes.
    PortalRemoteDesktop(QDBusConnection connection, const QString& restoreToken,
                        std::chrono::milliseconds deadline);
    ~PortalRemoteDesktop() override;
    PortalRemoteDesktop(const PortalRemoteDesktop&) = delete;
    PortalRemoteDesktop& operator=(const PortalRemoteDesktop&) = delete;

    // Whether the portal lists a Clipboard beside a RemoteDesktop that can
    // lend it (version 2): worth asking. Only a session tells whether it works.
    static bool offered(const QDBusConnection& connection);

    // The session runs with the clipboard granted.
    bool clipboardWorks() const { return clipboard_; }
    // The token the portal handed out for the next start; empty without one.
    QString restoreToken() const { return restoreToken_; }
    // Sends the session's signals to the relay from now on.
    void listen(SignalRelay* relay);
    bool listensTo(const SignalRelay* relay);

    bool open() const override;
    bool start() override { return open(); }
    void stop() override {}
    bool notifyKeyboardKeysym(std::uint32_t keysym, bool pressed) override;
    bool enableClipboard() override { return clipboard_; }
    bool setSelection(const QStringList& mimeTypes) override;
    std::optional<QDBusUnixFileDescriptor> selectionRead(const QString& mimeType,
                                                         QString* error) override;
    std::optional<QDBusUnixFileDescriptor> selectionWrite(uint serial) override;
    bool selectionWriteDone(uint serial, bool success) override;
    bool roundTrip() override;

private:
    std::optional<portal::PortalResponse> request(const QString& method, QVariantList arguments,
                                                  QVariantMap options,
                                                  std::chrono::milliseconds deadline);
    // Marks the session failed where the answer says it is gone.
    QDBusMessage call(const QString& interface, const QString& method,
                      const QVariantList& arguments);
    void linkSignals(bool on);
    void watchOwner(bool on);

    QDBusConnection connection_;
    QThread thread_;
    std::unique_ptr<ResponseCatcher> catcher_;  // lives on thread_
    QString handle_;
    bool clipboard_ = false;
    std::atomic<bool> gone_{false};
    QString restoreToken_;
    std::mutex relayMutex_;
    QPointer<SignalRelay> relay_;  // the relay may go first
};

// Hands out one portal session to the clipboard and the keys alike, made
// anew once the desktop ended it; every new token goes to keepToken.
RemoteDesktopFactory portalSessions(std::shared_ptr<PortalRemoteDesktop> first,
                                    QDBusConnection connection,
                                    std::function<void(const QString&)> keepToken);

}  // namespace quillet::gnome
