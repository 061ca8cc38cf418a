#include "platform/portal/portal_request.h"

#include <QDBusPendingCallWatcher>
#include <QRandomGenerator>

#include <utility>

namespace quillet::portal {

namespace {

constexpr auto kRequestInterface = u"org.freedesktop.portal.Request";

}  // namespace

QString service() {
    return QStringLiteral("org.freedesktop.portal.Desktop");
}

QString path() {
    return QStringLiteral("/org/freedesktop/portal/desktop");
}

QString PortalRequest::requestPath(const QDBusConnection& connection, const QString& token) {
    // ":1.42" becomes "1_42".
    QString sender = connection.baseService().mid(1);
    sender.replace(u'.', u'_');
    return path() + QStringLiteral("/request/") + sender + u'/' + token;
}

PortalRequest::PortalRequest(QDBusConnection connection, QString path, Done done, QObject* owner)
    : QObject(owner),
      connection_(std::move(connection)),
      path_(std::move(path)),
      done_(std::move(done)) {}

void PortalRequest::send(QDBusConnection connection, const QDBusMessage& call, const QString& token,
                         QObject* owner, Done done) {
    auto* request =
        new PortalRequest(connection, requestPath(connection, token), std::move(done), owner);
    const bool subscribed = connection.connect(
        service(), request->path_, QString::fromUtf16(kRequestInterface),
        QStringLiteral("Response"), request, SLOT(onResponse(uint, QVariantMap)));
    if (!subscribed) {
        request->finish(std::nullopt);
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(call), request);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, request,
                     [request](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (finished->isError()) {
                             request->finish(std::nullopt);
                         }
                     });
}

void PortalRequest::onResponse(uint code, const QVariantMap& results) {
    finish(PortalResponse{code, results});
}

void PortalRequest::finish(std::optional<PortalResponse> response) {
    if (!done_) {
        return;
    }
    connection_.disconnect(service(), path_, QString::fromUtf16(kRequestInterface),
                           QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    // Moved out first: the callback may start the next request, or drop the owner.
    const Done done = std::exchange(done_, {});
    deleteLater();
    done(std::move(response));
}

QString newToken(QStringView prefix) {
    return prefix.toString() + u'_' + QString::number(QRandomGenerator::global()->generate(), 16);
}

}  // namespace quillet::portal
