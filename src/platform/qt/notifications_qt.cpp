#include "platform/qt/notifications_qt.h"

#include "platform/app_id.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <iostream>

namespace quillet {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
constexpr int kExpireMs = 6000;
constexpr int kWindowWidth = 360;
constexpr int kScreenMargin = 16;

}  // namespace

// Frameless and outside the window manager's care, as notification popups
// are: it is placed where we say, and neither showing it nor a click on it
// moves the keyboard focus. A click closes it before its time.
class NoticeWindow final : public QFrame {
public:
    NoticeWindow()
        : QFrame(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                              Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_X11NetWmWindowTypeNotification);
        setFocusPolicy(Qt::NoFocus);
        setFrameShape(QFrame::Box);
        setFixedWidth(kWindowWidth);
        auto* icon = new QLabel(this);
        icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32));
        icon->setAlignment(Qt::AlignTop);
        QFont bold = title_->font();
        bold.setBold(true);
        title_->setFont(bold);
        text_->setWordWrap(true);
        auto* texts = new QVBoxLayout;
        texts->addWidget(title_);
        texts->addWidget(text_);
        auto* layout = new QHBoxLayout(this);
        layout->addWidget(icon);
        layout->addLayout(texts, 1);
        expiry_.setSingleShot(true);
        connect(&expiry_, &QTimer::timeout, this, &QWidget::hide);
    }

    void showNotice(const QString& title, const QString& text) {
        setWindowTitle(title);
        title_->setText(title);
        text_->setText(text);
        adjustSize();
        const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (screen == nullptr) {
            screen = QGuiApplication::primaryScreen();
        }
        if (screen != nullptr) {
            const QRect area = screen->availableGeometry();
            move(area.right() - width() - kScreenMargin, area.bottom() - height() - kScreenMargin);
        }
        show();
        raise();
        expiry_.start(kExpireMs);
    }

protected:
    void mousePressEvent(QMouseEvent* /*event*/) override {
        expiry_.stop();
        hide();
    }

private:
    QLabel* title_ = new QLabel(this);
    QLabel* text_ = new QLabel(this);
    QTimer expiry_;
};

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

void NotificationsQt::show(const QString& title, const QString& text) {
    if (!serviceAvailable()) {
        showWindow(title, text);
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
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, title, text] {
        const QDBusPendingReply<uint> reply = *call;
        if (reply.isError()) {
            showWindow(title, text);
        } else {
            lastId_ = reply.value();
        }
        call->deleteLater();
    });
}

void NotificationsQt::showWindow(const QString& title, const QString& text) {
    if (fallback_ == Fallback::StandardError) {
        std::cerr << title.toStdString() << ": " << text.toStdString() << std::endl;
        return;
    }
    if (!window_) {
        window_ = std::make_unique<NoticeWindow>();
    }
    window_->showNotice(title, text);
}

}  // namespace quillet
