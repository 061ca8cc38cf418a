#include "platform/qt/commands_dbus.h"

#include "platform/bus_autolaunch.h"
#include "platform/command_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>

namespace quillet {

namespace {

QString noBus(const QDBusConnection& session) {
    // The address set where there was none, lest a bus be started.
    const QString why = qgetenv("DBUS_SESSION_BUS_ADDRESS") == bus::kNoBusAddress
                            ? QStringLiteral("DBUS_SESSION_BUS_ADDRESS is not set")
                            : session.lastError().message();
    return QStringLiteral("there is no D-Bus session bus (%1)").arg(why);
}

}  // namespace

CommandsDBus::~CommandsDBus() {
    if (listening_) {
        QDBusConnection session = QDBusConnection::sessionBus();
        session.unregisterService(QString::fromLatin1(bus::kService));
        session.unregisterObject(QString::fromLatin1(bus::kPath));
    }
}

void CommandsDBus::setHandler(std::function<QString(Command)> onCommand) {
    onCommand_ = std::move(onCommand);
}

QString CommandsDBus::listen() {
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        return noBus(session);
    }
    if (!session.registerObject(QString::fromLatin1(bus::kPath), this,
                                QDBusConnection::ExportScriptableSlots)) {
        return QStringLiteral("the object %1 is taken").arg(QString::fromLatin1(bus::kPath));
    }
    // Another copy (with other settings) keeps the name: commands go to it.
    const auto reply = session.interface()->registerService(
        QString::fromLatin1(bus::kService), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        session.unregisterObject(QString::fromLatin1(bus::kPath));
        return QStringLiteral("another program holds the name %1")
            .arg(QString::fromLatin1(bus::kService));
    }
    listening_ = true;
    return {};
}

void CommandsDBus::setStatusHandler(
    std::function<void(std::function<void(const QString&)> answer)> onStatus) {
    onStatus_ = std::move(onStatus);
}

void CommandsDBus::run(Command command) {
    if (!onCommand_) {
        return;
    }
    const QString refused = onCommand_(command);
    if (!refused.isEmpty()) {
        sendErrorReply(QString::fromLatin1(bus::kRefused), refused);
    }
}

QString CommandsDBus::Status() {
    if (!onStatus_) {
        sendErrorReply(QDBusError::Failed, QStringLiteral("Quillet is quitting"));
        return {};
    }
    // Answered later, so that presses asked for just before it count.
    setDelayedReply(true);
    onStatus_([connection = connection(), question = message()](const QString& status) {
        connection.send(question.createReply(status));
    });
    return {};
}

}  // namespace quillet
