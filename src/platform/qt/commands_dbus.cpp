#include "platform/qt/commands_dbus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>

namespace quillet {

namespace {

QString noBus(const QDBusConnection& bus) {
    return QStringLiteral("there is no D-Bus session bus (%1)").arg(bus.lastError().message());
}

QString methodOf(Command command) {
    switch (command) {
        case Command::PasteNext:
            return QStringLiteral("PasteNext");
    }
    return {};
}

}  // namespace

CommandsDBus::~CommandsDBus() {
    if (listening_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(QString::fromUtf16(kDBusService));
        bus.unregisterObject(QString::fromUtf16(kDBusPath));
    }
}

void CommandsDBus::setHandler(std::function<void(Command)> onCommand) {
    onCommand_ = std::move(onCommand);
}

QString CommandsDBus::listen() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return noBus(bus);
    }
    if (!bus.registerObject(QString::fromUtf16(kDBusPath), this,
                            QDBusConnection::ExportScriptableSlots)) {
        return QStringLiteral("the object %1 is taken").arg(QString::fromUtf16(kDBusPath));
    }
    // Another copy (with other settings) keeps the name: commands go to it.
    const auto reply = bus.interface()->registerService(
        QString::fromUtf16(kDBusService), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus.unregisterObject(QString::fromUtf16(kDBusPath));
        return QStringLiteral("another program holds the name %1")
            .arg(QString::fromUtf16(kDBusService));
    }
    listening_ = true;
    return {};
}

void CommandsDBus::PasteNext() {
    if (onCommand_) {
        onCommand_(Command::PasteNext);
    }
}

QString sendCommand(Command command) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return noBus(bus);
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromUtf16(kDBusService), QString::fromUtf16(kDBusPath),
        QString::fromUtf16(kDBusInterface), methodOf(command));
    // Answered before the paste runs; only a stuck program takes this long.
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return {};
    }
    if (reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
        reply.errorName() == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        return QStringLiteral("Quillet is not running");
    }
    return reply.errorMessage();
}

}  // namespace quillet
