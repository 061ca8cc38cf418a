#include "platform/portal/portal_session.h"

#include <QDBusObjectPath>

#include <utility>

namespace quillet::portal {

namespace {

const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");

}  // namespace

PortalSession::PortalSession(QDBusConnection connection, QString interface, QString tokenPrefix,
                             QObject* parent)
    : QObject(parent),
      connection_(std::move(connection)),
      interface_(std::move(interface)),
      tokenPrefix_(std::move(tokenPrefix)) {}

PortalSession::~PortalSession() {
    close();
}

void PortalSession::setClosedHandler(std::function<void()> onClosed) {
    onClosed_ = std::move(onClosed);
}

void PortalSession::create(QVariantMap options, std::function<void(bool)> done) {
    close(QDBus::Block);
    const unsigned generation = generation_;
    const QString token = newToken(tokenPrefix_);
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = QDBusMessage::createMethodCall(service(), path(), interface_,
                                                       QStringLiteral("CreateSession"));
    call << options;
    PortalRequest::send(
        connection_, call, token, this,
        [this, generation, done = std::move(done)](std::optional<PortalResponse> response) {
            const QString handle =
                response && response->granted()
                    ? response->results.value(QStringLiteral("session_handle")).toString()
                    : QString();
            if (generation != generation_ || handle.isEmpty()) {
                // A session no longer wanted would keep its token taken.
                closeHandle(handle, QDBus::NoBlock);
                done(false);
                return;
            }
            {
                std::lock_guard lock(mutex_);
                handle_ = handle;
            }
            connection_.connect(service(), handle, kSessionInterface, QStringLiteral("Closed"),
                                this, SLOT(onClosed(QDBusMessage)));
            done(true);
        });
}

void PortalSession::request(const QString& method, const QVariantList& arguments,
                            QVariantMap options, PortalRequest::Done done) {
    const QString handle = this->handle();
    if (handle.isEmpty()) {
        done(std::nullopt);
        return;
    }
    const QString token = newToken(tokenPrefix_);
    options.insert(QStringLiteral("handle_token"), token);
    QDBusMessage call = sessionCall(method, handle, arguments);
    call << options;
    PortalRequest::send(connection_, call, token, this, std::move(done));
}

bool PortalSession::call(const QString& method, const QVariantList& arguments,
                         int timeoutMs) const {
    const QString handle = this->handle();
    return !handle.isEmpty() &&
           connection_.call(sessionCall(method, handle, arguments), QDBus::Block, timeoutMs)
                   .type() == QDBusMessage::ReplyMessage;
}

QString PortalSession::handle() const {
    std::lock_guard lock(mutex_);
    return handle_;
}

void PortalSession::close(QDBus::CallMode mode) {
    ++generation_;
    closeHandle(forget(), mode);
}

void PortalSession::closeHandle(const QString& handle, QDBus::CallMode mode) const {
    if (!handle.isEmpty()) {
        connection_.call(QDBusMessage::createMethodCall(service(), handle, kSessionInterface,
                                                        QStringLiteral("Close")),
                         mode);
    }
}

void PortalSession::onClosed(const QDBusMessage& message) {
    if (message.path() != handle()) {
        return;
    }
    forget();
    if (onClosed_) {
        onClosed_();
    }
}

QString PortalSession::forget() {
    QString handle;
    {
        std::lock_guard lock(mutex_);
        handle = std::exchange(handle_, {});
    }
    if (!handle.isEmpty()) {
        connection_.disconnect(service(), handle, kSessionInterface, QStringLiteral("Closed"), this,
                               SLOT(onClosed(QDBusMessage)));
    }
    return handle;
}

QDBusMessage PortalSession::sessionCall(const QString& method, const QString& handle,
                                        const QVariantList& arguments) const {
    QDBusMessage call = QDBusMessage::createMethodCall(service(), path(), interface_, method);
    call << QVariant::fromValue(QDBusObjectPath(handle));
    for (const QVariant& argument : arguments) {
        call << argument;
    }
    return call;
}

}  // namespace quillet::portal
