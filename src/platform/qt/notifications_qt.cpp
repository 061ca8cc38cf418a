#include "platform/qt/notifications_qt.h"

#include "platform/app_id.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QMessageBox>

#include <iostream>

namespace quillet {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
constexpr int kExpireMs = 6000;

}  // namespace

NotificationsQt::NotificationsQt(Fallback fallback) : fallback_(fallback) {}
NotificationsQt::~NotificationsQt() = default;

bool NotificationsQt::serviceAvailable() const {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    const QDBusConnectionInterface* names = bus.interface();
    // A service the bus starts on demand counts as running.
    return names->isServiceRegistered(kService) ||
           names->activatableServiceNames().value().contains(kService);
}

void NotificationsQt::show(const QString& title, const QString& text, const QString& button) {
    if (!serviceAvailable()) {
        showWindow(title, text, button);
        return;
    }
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/Notifications"),
                                       kService, QStringLiteral("Notify"));
    notify << QStringLiteral("Quillet") << lastId_ << QString::fromLatin1(kAppId) << title << text
           << QStringList()
           << QVariantMap{{QStringLiteral("desktop-entry"), QString::fromLatin1(kAppId)}}
           << kExpireMs;
    // Answered later: the UI thread never waits for the service.
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notify), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, title, text, button] {
        const QDBusPendingReply<uint> reply = *call;
        if (reply.isError()) {
            showWindow(title, text, button);
        } else {
            lastId_ = reply.value();
        }
        call->deleteLater();
    });
}

void NotificationsQt::showWindow(const QString& title, const QString& text, const QString& button) {
    if (fallback_ == Fallback::StandardError) {
        std::cerr << title.toStdString() << ": " << text.toStdString() << std::endl;
        return;
    }
    if (!window_) {
        window_ = std::make_unique<QMessageBox>();
        window_->setIcon(QMessageBox::Information);
        window_->setWindowModality(Qt::NonModal);
        // Shown without the keyboard focus: the user goes on typing where they were.
        window_->setAttribute(Qt::WA_ShowWithoutActivating);
        window_->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    }
    window_->setWindowTitle(title);
    window_->setText(title);
    window_->setInformativeText(text);
    window_->setStandardButtons(QMessageBox::NoButton);
    window_->addButton(button, QMessageBox::AcceptRole);
    window_->show();
}

}  // namespace quillet
