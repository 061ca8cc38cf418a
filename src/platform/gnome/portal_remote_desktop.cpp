#include "platform/gnome/portal_remote_desktop.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace quillet::gnome {

namespace {

const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kClipboard = QStringLiteral("org.freedesktop.portal.Clipboard");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
constexpr uint kKeyboard = 1;
constexpr uint kPersistUntilRevoked = 2;
constexpr int kCallTimeoutMs = 3000;
// Requests other than Start answer without asking anybody.
constexpr std::chrono::seconds kRequestDeadline{5};

uint version(const QDBusConnection& connection, const QString& interface) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        portal::service(), portal::path(), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    const QDBusMessage reply = connection.call(get, QDBus::Block, kCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().constFirst().value<QDBusVariant>().variant().toUInt()
               : 0;
}

}  // namespace

std::optional<portal::PortalResponse> ResponseCatcher::waitFor(const QString& path,
                                                               std::chrono::milliseconds deadline) {
    std::optional<portal::PortalResponse> response;
    responses_.waitFor(deadline, [&](const auto& responses) { return responses.contains(path); });
    responses_.change([&](auto& responses) {
        if (const auto at = responses.find(path); at != responses.end()) {
            response = at->second;
            responses.erase(at);
        }
    });
    return response;
}

std::optional<QDBusMessage> ResponseCatcher::lastOwner() {
    std::lock_guard lock(ownerMutex_);
    return lastOwner_;
}

void ResponseCatcher::onOwnerChanged(const QDBusMessage& message) {
    std::lock_guard lock(ownerMutex_);
    lastOwner_ = message;
}

void ResponseCatcher::onResponse(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    portal::PortalResponse response;
    response.code = arguments.value(0).toUInt();
    if (arguments.size() > 1) {
        response.results = qdbus_cast<QVariantMap>(arguments.at(1));
    }
    responses_.change([&](auto& responses) { responses[message.path()] = response; });
}

PortalRemoteDesktop::PortalRemoteDesktop(QDBusConnection connection, const QString& restoreToken,
                                         std::chrono::milliseconds deadline)
    : connection_(std::move(connection)), catcher_(std::make_unique<ResponseCatcher>()) {
    thread_.setObjectName(QStringLiteral("gnome-portal"));
    catcher_->moveToThread(&thread_);
    thread_.start();
    const auto created =
        request(QStringLiteral("CreateSession"), {},
                {{QStringLiteral("session_handle_token"), portal::newToken(u"quillet_gnome")}},
                kRequestDeadline);
    if (!created || !created->granted()) {
        return;
    }
    const QString handle = created->results.value(QStringLiteral("session_handle")).toString();
    QVariantMap devices{{QStringLiteral("types"), kKeyboard},
                        {QStringLiteral("persist_mode"), kPersistUntilRevoked}};
    if (!restoreToken.isEmpty()) {
        devices.insert(QStringLiteral("restore_token"), restoreToken);
    }
    const QVariantList session{QVariant::fromValue(QDBusObjectPath(handle))};
    const auto selected =
        request(QStringLiteral("SelectDevices"), session, devices, kRequestDeadline);
    // The clipboard is asked for before the start, and granted with it; the
    // owner it has then is told once it starts, before anybody listens.
    handle_ = handle;
    watchOwner(true);
    handle_.clear();
    QDBusMessage clipboard = QDBusMessage::createMethodCall(
        portal::service(), portal::path(), kClipboard, QStringLiteral("RequestClipboard"));
    clipboard.setArguments({session.constFirst(), QVariantMap()});
    const bool asked = connection_.call(clipboard, QDBus::Block, kCallTimeoutMs).type() ==
                       QDBusMessage::ReplyMessage;
    const auto started =
        selected && selected->granted()
            ? request(QStringLiteral("Start"), {session.constFirst(), QString()}, {}, deadline)
            : std::nullopt;
    if (!started || !started->granted() ||
        (started->results.value(QStringLiteral("devices")).toUInt() & kKeyboard) == 0) {
        handle_ = handle;
        watchOwner(false);
        handle_.clear();
        connection_.call(QDBusMessage::createMethodCall(portal::service(), handle, kSession,
                                                        QStringLiteral("Close")),
                         QDBus::NoBlock);
        return;
    }
    handle_ = handle;
    clipboard_ = asked && started->results.value(QStringLiteral("clipboard_enabled")).toBool();
    restoreToken_ = started->results.value(QStringLiteral("restore_token")).toString();
}

PortalRemoteDesktop::~PortalRemoteDesktop() {
    {
        std::lock_guard lock(relayMutex_);
        linkSignals(false);
    }
    watchOwner(false);
    if (!handle_.isEmpty()) {
        connection_.call(QDBusMessage::createMethodCall(portal::service(), handle_, kSession,
                                                        QStringLiteral("Close")),
                         QDBus::NoBlock);
    }
    thread_.quit();
    thread_.wait();
}

bool PortalRemoteDesktop::offered(const QDBusConnection& connection) {
    return connection.isConnected() && version(connection, kClipboard) >= 1 &&
           version(connection, kRemoteDesktop) >= 2;
}

void PortalRemoteDesktop::listen(SignalRelay* relay) {
    std::lock_guard lock(relayMutex_);
    if (relay_ == nullptr && relay != nullptr) {
        relay_ = relay;
        linkSignals(true);
        const std::optional<QDBusMessage> owner = catcher_->lastOwner();
        if (owner && owner->arguments().value(0).value<QDBusObjectPath>().path() == handle_) {
            QMetaObject::invokeMethod(
                relay, [relay, message = *owner] { relay->onOwnerChanged(message); },
                Qt::QueuedConnection);
        }
    }
}

void PortalRemoteDesktop::watchOwner(bool on) {
    if (handle_.isEmpty()) {
        return;
    }
    const char* slot = SLOT(onOwnerChanged(QDBusMessage));
    const QString name = QStringLiteral("SelectionOwnerChanged");
    if (on) {
        connection_.connect(portal::service(), portal::path(), kClipboard, name, catcher_.get(),
                            slot);
    } else {
        connection_.disconnect(portal::service(), portal::path(), kClipboard, name, catcher_.get(),
                               slot);
    }
}

void PortalRemoteDesktop::linkSignals(bool on) {
    if (relay_ == nullptr || handle_.isEmpty()) {
        return;
    }
    const auto link = [&](const QString& path, const QString& interface, const char* name,
                          const char* slot) {
        if (on) {
            connection_.connect(portal::service(), path, interface, QLatin1StringView(name), relay_,
                                slot);
        } else {
            connection_.disconnect(portal::service(), path, interface, QLatin1StringView(name),
                                   relay_, slot);
        }
    };
    link(handle_, kSession, "Closed", SLOT(onClosed(QDBusMessage)));
    link(portal::path(), kClipboard, "SelectionOwnerChanged", SLOT(onOwnerChanged(QDBusMessage)));
    link(portal::path(), kClipboard, "SelectionTransfer", SLOT(onTransfer(QDBusMessage)));
}

std::optional<portal::PortalResponse> PortalRemoteDesktop::request(
    const QString& method, QVariantList arguments, QVariantMap options,
    std::chrono::milliseconds deadline) {
    const QString token = portal::newToken(u"quillet_gnome");
    const QString path = portal::PortalRequest::requestPath(connection_, token);
    const char* slot = SLOT(onResponse(QDBusMessage));
    // Listening before the call: a quick answer is never missed.
    connection_.connect(portal::service(), path, kRequest, QStringLiteral("Response"),
                        catcher_.get(), slot);
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage message =
        QDBusMessage::createMethodCall(portal::service(), portal::path(), kRemoteDesktop, method);
    message.setArguments(arguments);
    const bool sent = connection_.call(message, QDBus::Block, kCallTimeoutMs).type() ==
                      QDBusMessage::ReplyMessage;
    auto response = sent ? catcher_->waitFor(path, deadline) : std::nullopt;
    connection_.disconnect(portal::service(), path, kRequest, QStringLiteral("Response"),
                           catcher_.get(), slot);
    return response;
}

QDBusMessage PortalRemoteDesktop::call(const QString& interface, const QString& method,
                                       const QVariantList& arguments) {
    if (handle_.isEmpty()) {
        return QDBusMessage::createError(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                         QStringLiteral("no session"));
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(portal::service(), portal::path(), interface, method);
    message << QVariant::fromValue(QDBusObjectPath(handle_));
    for (const QVariant& argument : arguments) {
        message << argument;
    }
    QDBusMessage reply = connection_.call(message, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        const QString error = reply.errorName();
        for (const char* gone :
             {"AccessDenied", "UnknownObject", "ServiceUnknown", "NoReply", "Disconnected"}) {
            gone_ = gone_ || error.contains(QLatin1StringView(gone));
        }
    }
    return reply;
}

bool PortalRemoteDesktop::open() const {
    return !handle_.isEmpty() && !gone_;
}

bool PortalRemoteDesktop::listensTo(const SignalRelay* relay) {
    std::lock_guard lock(relayMutex_);
    return relay != nullptr && relay_ == relay;
}

bool PortalRemoteDesktop::notifyKeyboardKeysym(std::uint32_t keysym, bool pressed) {
    return call(kRemoteDesktop, QStringLiteral("NotifyKeyboardKeysym"),
                {QVariantMap(), static_cast<int>(keysym), uint{pressed}})
               .type() == QDBusMessage::ReplyMessage;
}

bool PortalRemoteDesktop::setSelection(const QStringList& mimeTypes) {
    return call(kClipboard, QStringLiteral("SetSelection"),
                {QVariantMap{{QStringLiteral("mime_types"), mimeTypes}}})
               .type() == QDBusMessage::ReplyMessage;
}

std::optional<QDBusUnixFileDescriptor> PortalRemoteDesktop::selectionRead(const QString& mimeType,
                                                                          QString* error) {
    const QDBusMessage reply = call(kClipboard, QStringLiteral("SelectionRead"), {mimeType});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *error = reply.errorName() + u' ' + reply.errorMessage();
        return std::nullopt;
    }
    return reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
}

std::optional<QDBusUnixFileDescriptor> PortalRemoteDesktop::selectionWrite(uint serial) {
    const QDBusMessage reply = call(kClipboard, QStringLiteral("SelectionWrite"), {serial});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    return reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
}

bool PortalRemoteDesktop::selectionWriteDone(uint serial, bool success) {
    return call(kClipboard, QStringLiteral("SelectionWriteDone"), {serial, success}).type() ==
           QDBusMessage::ReplyMessage;
}

bool PortalRemoteDesktop::roundTrip() {
    return connection_
               .call(QDBusMessage::createMethodCall(portal::service(), portal::path(),
                                                    QStringLiteral("org.freedesktop.DBus.Peer"),
                                                    QStringLiteral("Ping")),
                     QDBus::Block, kCallTimeoutMs)
               .type() == QDBusMessage::ReplyMessage;
}

namespace {

// The shared session, lent: stopping it is the owner's business.
class Lent final : public RemoteDesktop {
public:
    explicit Lent(std::shared_ptr<PortalRemoteDesktop> session) : session_(std::move(session)) {}

    bool open() const override { return session_->open(); }
    bool start() override { return session_->start(); }
    void stop() override {}
    bool notifyKeyboardKeysym(std::uint32_t keysym, bool pressed) override {
        return session_->notifyKeyboardKeysym(keysym, pressed);
    }
    bool enableClipboard() override { return session_->enableClipboard(); }
    bool setSelection(const QStringList& mimeTypes) override {
        return session_->setSelection(mimeTypes);
    }
    std::optional<QDBusUnixFileDescriptor> selectionRead(const QString& mimeType,
                                                         QString* error) override {
        return session_->selectionRead(mimeType, error);
    }
    std::optional<QDBusUnixFileDescriptor> selectionWrite(uint serial) override {
        return session_->selectionWrite(serial);
    }
    bool selectionWriteDone(uint serial, bool success) override {
        return session_->selectionWriteDone(serial, success);
    }
    bool roundTrip() override { return session_->roundTrip(); }

private:
    std::shared_ptr<PortalRemoteDesktop> session_;
};

// How long a new session may wait for the user's answer.
constexpr std::chrono::seconds kStartDeadline{30};

}  // namespace

RemoteDesktopFactory portalSessions(std::shared_ptr<PortalRemoteDesktop> first,
                                    QDBusConnection connection,
                                    std::function<void(const QString&)> keepToken) {
    struct Shared {
        std::mutex mutex;
        std::shared_ptr<PortalRemoteDesktop> session;
        QString token;
    };
    auto shared = std::make_shared<Shared>();
    shared->token = first->restoreToken();
    shared->session = std::move(first);
    return [shared, connection, keepToken](SignalRelay* relay) -> std::unique_ptr<RemoteDesktop> {
        std::lock_guard lock(shared->mutex);
        // The clipboard asks again once the session ended or failed; the
        // keys see it fail.
        if (!shared->session->open() || shared->session->listensTo(relay)) {
            shared->session =
                std::make_shared<PortalRemoteDesktop>(connection, shared->token, kStartDeadline);
            if (const QString token = shared->session->restoreToken(); !token.isEmpty()) {
                shared->token = token;
                keepToken(token);
            }
        }
        shared->session->listen(relay);
        return std::make_unique<Lent>(shared->session);
    };
}

}  // namespace quillet::gnome
