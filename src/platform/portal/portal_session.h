#pragma once

#include "platform/portal/portal_request.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <mutex>

namespace quillet::portal {

// One session at a time of a portal interface that has them (RemoteDesktop,
// GlobalShortcuts): made through CreateSession, watched for the desktop
// ending it, closed with the object. It lives on one thread, where its
// answers arrive; handle() and call() may be used from any.
class PortalSession final : public QObject {
    Q_OBJECT

public:
    // Request tokens start with `tokenPrefix`.
    PortalSession(QDBusConnection connection, QString interface, QString tokenPrefix,
                  QObject* parent);
    ~PortalSession() override;

    // Called once the desktop has ended the session by itself (its portal
    // restarted, the user revoked it); the handle is gone by then.
    void setClosedHandler(std::function<void()> onClosed);

    // CreateSession with `options` (a handle_token is added). A session still
    // open is closed first, and waited for: the new one may take its token.
    // Also how a session the desktop ended is made anew. `done` gets whether
    // the session is open; a create that a later create or close overtook
    // gets false, and its session is closed at once.
    void create(QVariantMap options, std::function<void(bool)> done);

    // A method of the interface that answers through a Request: the session's
    // handle, `arguments`, then `options` with a handle_token.
    void request(const QString& method, const QVariantList& arguments, QVariantMap options,
                 PortalRequest::Done done);

    // Any thread: a method that answers at once, called with the session's
    // handle and `arguments`, waited for up to the timeout. False without a
    // session or an answer.
    bool call(const QString& method, const QVariantList& arguments, int timeoutMs) const;

    // Any thread: the session's object path; empty when none is open.
    QString handle() const;

    void close(QDBus::CallMode mode = QDBus::NoBlock);

private Q_SLOTS:
    void onClosed(const QDBusMessage& message);

private:
    QDBusMessage sessionCall(const QString& method, const QString& handle,
                             const QVariantList& arguments) const;
    void closeHandle(const QString& handle, QDBus::CallMode mode) const;
    // Stops watching the session and returns its handle.
    QString forget();

    QDBusConnection connection_;
    QString interface_;
    QString tokenPrefix_;
    std::function<void()> onClosed_;
    unsigned generation_ = 0;  // a later create or close turns earlier answers away
    mutable std::mutex mutex_;
    QString handle_;
};

}  // namespace quillet::portal
