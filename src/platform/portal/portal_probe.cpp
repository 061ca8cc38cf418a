#include "platform/portal/portal_probe.h"

#include "platform/portal/portal_request.h"

#include <QDBusMessage>
#include <QDBusVariant>

namespace quillet {

namespace {

// Asked in main, before the program shows anything: which backend to make
// depends on the answer. The portal normally runs since login and answers at
// once; a question that has to start it waits for that.
constexpr int kProbeTimeoutMs = 1500;

uint property(const QDBusConnection& connection, const QString& interface, const QString& name) {
    if (!connection.isConnected()) {
        return 0;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        portal::service(), portal::path(), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << interface << name;
    const QDBusMessage reply = connection.call(get, QDBus::Block, kProbeTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        return 0;
    }
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toUInt();
}

}  // namespace

bool portalShortcutsAvailable(const QDBusConnection& connection) {
    return property(connection, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
                    QStringLiteral("version")) >= 1;
}

bool portalKeyboardAvailable(const QDBusConnection& connection) {
    constexpr uint kKeyboard = 1;
    return (property(connection, QStringLiteral("org.freedesktop.portal.RemoteDesktop"),
                     QStringLiteral("AvailableDeviceTypes")) &
            kKeyboard) != 0;
}

}  // namespace quillet
