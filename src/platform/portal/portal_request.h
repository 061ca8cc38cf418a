#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace quillet::portal {

// The portal's bus name and the object every portal interface is on.
QString service();
QString path();

// What a portal request came to: 0 granted, 1 cancelled by the user, 2
// refused or failed otherwise.
struct PortalResponse {
    uint code = 2;
    QVariantMap results;
    bool granted() const { return code == 0; }
};

// A method call of the portal that answers through a Request object. The
// Response signal is subscribed to before the call goes out, on the path the
// portal is bound to use for the token, so a quick answer is never missed.
class PortalRequest final : public QObject {
    Q_OBJECT

public:
    // Called once, on the thread of `owner`: the response, or none when the
    // call itself failed (no portal, bad arguments).
    using Done = std::function<void(std::optional<PortalResponse>)>;

    // `call`'s options (its last argument) must carry `token` as handle_token.
    // The request lives as a child of `owner` until it is answered, so an
    // owner that goes away takes its pending requests, and their callbacks,
    // with it.
    static void send(QDBusConnection connection, const QDBusMessage& call, const QString& token,
                     QObject* owner, Done done);

    // Where the portal publishes the Request object for a token of this connection.
    static QString requestPath(const QDBusConnection& connection, const QString& token);

private Q_SLOTS:
    void onResponse(uint code, const QVariantMap& results);

private:
    PortalRequest(QDBusConnection connection, QString path, Done done, QObject* owner);
    void finish(std::optional<PortalResponse> response);

    QDBusConnection connection_;
    QString path_;
    Done done_;
};

// A fresh handle_token: the portal refuses one that names a request still open.
QString newToken(QStringView prefix);

}  // namespace quillet::portal
