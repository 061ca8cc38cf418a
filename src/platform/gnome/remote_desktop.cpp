#include "platform/gnome/remote_desktop.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace quillet::gnome {

namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");
// Mutter answers at once; a call that takes this long went nowhere.
constexpr int kCallTimeoutMs = 3000;

// mutter 43 sends the types as a structure holding the list, (as); a plain
// list is what its documentation names.
QStringList mimeTypes(const QVariant& value) {
    if (value.canConvert<QStringList>() &&
        value.metaType() != QMetaType::fromType<QDBusArgument>()) {
        return value.toStringList();
    }
    QStringList types;
    if (!value.canConvert<QDBusArgument>()) {
        return types;
    }
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentType() == QDBusArgument::StructureType) {
        argument.beginStructure();
        argument >> types;
        argument.endStructure();
    } else if (argument.currentType() == QDBusArgument::ArrayType) {
        argument >> types;
    }
    return types;
}

}  // namespace

void SignalRelay::onClosed(const QDBusMessage& /*message*/) {
    if (events_.closed) {
        events_.closed();
    }
}

void SignalRelay::onOwnerChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.isEmpty() || !events_.ownerChanged) {
        return;
    }
    const auto options = qdbus_cast<QVariantMap>(arguments.constLast());
    // Mutter spells the keys with dashes, the portal with underscores.
    const auto value = [&](const char* dashed) {
        const QString key = QLatin1StringView(dashed);
        return options.contains(key) ? options.value(key)
                                     : options.value(QString(key).replace(u'-', u'_'));
    };
    events_.ownerChanged(mimeTypes(value("mime-types")), value("session-is-owner").toBool());
}

void SignalRelay::onTransfer(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() >= 2 && events_.transfer) {
        events_.transfer(arguments.at(arguments.size() - 2).toString(),
                         arguments.constLast().toUInt());
    }
}

MutterRemoteDesktop::MutterRemoteDesktop(QDBusConnection connection, SignalRelay* relay)
    : connection_(std::move(connection)), relay_(relay) {
    const QDBusMessage reply = connection_.call(
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("CreateSession")),
        QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        path_ = reply.arguments().constFirst().value<QDBusObjectPath>().path();
    }
    connectSignals(true);
}

MutterRemoteDesktop::~MutterRemoteDesktop() {
    connectSignals(false);
    // A session never started cannot be stopped: it ends with the connection.
    if (started_) {
        stop();
    }
}

bool MutterRemoteDesktop::offered(const QDBusConnection& connection) {
    return connection.isConnected() &&
           connection.interface()->isServiceRegistered(kService).value();
}

void MutterRemoteDesktop::connectSignals(bool on) {
    if (relay_ == nullptr || path_.isEmpty()) {
        return;
    }
    const auto link = [&](const char* name, const char* slot) {
        if (on) {
            connection_.connect(kService, path_, kSessionInterface, QLatin1StringView(name), relay_,
                                slot);
        } else {
            connection_.disconnect(kService, path_, kSessionInterface, QLatin1StringView(name),
                                   relay_, slot);
        }
    };
    link("Closed", SLOT(onClosed(QDBusMessage)));
    link("SelectionOwnerChanged", SLOT(onOwnerChanged(QDBusMessage)));
    link("SelectionTransfer", SLOT(onTransfer(QDBusMessage)));
}

bool MutterRemoteDesktop::open() const {
    return !path_.isEmpty();
}

QDBusMessage MutterRemoteDesktop::call(const QString& method, const QVariantList& arguments) const {
    if (path_.isEmpty()) {
        return QDBusMessage::createError(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                                         QStringLiteral("no session"));
    }
    QDBusMessage message =
        QDBusMessage::createMethodCall(kService, path_, kSessionInterface, method);
    message.setArguments(arguments);
    return connection_.call(message, QDBus::Block, kCallTimeoutMs);
}

bool MutterRemoteDesktop::succeeds(const QString& method, const QVariantList& arguments) const {
    return call(method, arguments).type() == QDBusMessage::ReplyMessage;
}

bool MutterRemoteDesktop::start() {
    started_ = succeeds(QStringLiteral("Start"), {});
    return started_;
}

void MutterRemoteDesktop::stop() {
    started_ = started_ && !succeeds(QStringLiteral("Stop"), {});
}

bool MutterRemoteDesktop::notifyKeyboardKeysym(std::uint32_t keysym, bool pressed) {
    return succeeds(QStringLiteral("NotifyKeyboardKeysym"), {uint{keysym}, pressed});
}

bool MutterRemoteDesktop::enableClipboard() {
    return succeeds(QStringLiteral("EnableClipboard"), {QVariantMap()});
}

bool MutterRemoteDesktop::setSelection(const QStringList& mimeTypes) {
    return succeeds(QStringLiteral("SetSelection"),
                    {QVariantMap{{QStringLiteral("mime-types"), mimeTypes}}});
}

std::optional<QDBusUnixFileDescriptor> MutterRemoteDesktop::selectionRead(const QString& mimeType,
                                                                          QString* error) {
    const QDBusMessage reply = call(QStringLiteral("SelectionRead"), {mimeType});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        *error = reply.errorName() + u' ' + reply.errorMessage();
        return std::nullopt;
    }
    return reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
}

std::optional<QDBusUnixFileDescriptor> MutterRemoteDesktop::selectionWrite(uint serial) {
    const QDBusMessage reply = call(QStringLiteral("SelectionWrite"), {serial});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    return reply.arguments().constFirst().value<QDBusUnixFileDescriptor>();
}

bool MutterRemoteDesktop::selectionWriteDone(uint serial, bool success) {
    return succeeds(QStringLiteral("SelectionWriteDone"), {serial, success});
}

bool MutterRemoteDesktop::roundTrip() {
    return connection_
               .call(QDBusMessage::createMethodCall(kService, kPath,
                                                    QStringLiteral("org.freedesktop.DBus.Peer"),
                                                    QStringLiteral("Ping")),
                     QDBus::Block, kCallTimeoutMs)
               .type() == QDBusMessage::ReplyMessage;
}

}  // namespace quillet::gnome
