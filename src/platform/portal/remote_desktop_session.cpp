#include "platform/portal/remote_desktop_session.h"

#include "platform/portal/portal_request.h"

#include <QDBusMessage>
#include <QDBusObjectPath>

#include <xkbcommon/xkbcommon-keysyms.h>

namespace quillet::portal {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
constexpr uint kKeyboard = 1;
// Kept until revoked: the restore token spares the user the question next time.
constexpr uint kPersistUntilRevoked = 2;
// Key events are small and answered by the portal at once; one that takes
// this long went nowhere.
constexpr int kKeyCallTimeoutMs = 2000;
// Asked on the UI thread, once; the answer is not needed.
constexpr int kPrimeTimeoutMs = 300;

QDBusMessage portalCall(const QString& method) {
    return QDBusMessage::createMethodCall(service(), path(), kInterface, method);
}

}  // namespace

RemoteDesktopSession::RemoteDesktopSession(QDBusConnection connection, QObject* parent)
    : QObject(parent), connection_(std::move(connection)) {}

RemoteDesktopSession::~RemoteDesktopSession() {
    std::lock_guard lock(mutex_);
    if (!handle_.isEmpty()) {
        connection_.call(QDBusMessage::createMethodCall(
                             service(), handle_, QStringLiteral("org.freedesktop.portal.Session"),
                             QStringLiteral("Close")),
                         QDBus::NoBlock);
    }
}

void RemoteDesktopSession::start(const QString& restoreToken,
                                 std::function<void(const QString&)> onToken) {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Idle) {
            return;
        }
        state_ = State::Starting;
    }
    onToken_ = std::move(onToken);
    restoreToken_ = restoreToken;
    const QString token = newToken(u"quillet_rd");
    QDBusMessage call = portalCall(QStringLiteral("CreateSession"));
    call << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), newToken(u"quillet_keys")}};
    PortalRequest::send(
        connection_, call, token, this,
        [this, restoreToken](std::optional<PortalResponse> response) {
            const QString handle =
                response && response->granted()
                    ? response->results.value(QStringLiteral("session_handle")).toString()
                    : QString();
            if (handle.isEmpty()) {
                fail();
                return;
            }
            {
                std::lock_guard lock(mutex_);
                handle_ = handle;
            }
            // The desktop may end the session at any time (its portal
            // restarted, the user revoked it): keys would then go nowhere.
            connection_.connect(service(), handle, kSessionInterface, QStringLiteral("Closed"),
                                this, SLOT(onClosed(QDBusMessage)));
            selectDevices(restoreToken);
        });
}

void RemoteDesktopSession::selectDevices(const QString& restoreToken) {
    const QString token = newToken(u"quillet_rd");
    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("types"), kKeyboard},
                        {QStringLiteral("persist_mode"), kPersistUntilRevoked}};
    if (!restoreToken.isEmpty()) {
        options.insert(QStringLiteral("restore_token"), restoreToken);
    }
    QDBusMessage call = portalCall(QStringLiteral("SelectDevices"));
    call << QVariant::fromValue(QDBusObjectPath(handle_)) << options;
    PortalRequest::send(connection_, call, token, this,
                        [this](std::optional<PortalResponse> response) {
                            if (response && response->granted()) {
                                startSession();
                            } else {
                                fail();
                            }
                        });
}

void RemoteDesktopSession::startSession() {
    const QString token = newToken(u"quillet_rd");
    QDBusMessage call = portalCall(QStringLiteral("Start"));
    call << QVariant::fromValue(QDBusObjectPath(handle_)) << QString()
         << QVariantMap{{QStringLiteral("handle_token"), token}};
    PortalRequest::send(
        connection_, call, token, this, [this](std::optional<PortalResponse> response) {
            const uint devices =
                response ? response->results.value(QStringLiteral("devices")).toUInt() : 0;
            if (!response || !response->granted() || (devices & kKeyboard) == 0) {
                fail();
                return;
            }
            primeKeysyms();
            if (const QString kept =
                    response->results.value(QStringLiteral("restore_token")).toString();
                !kept.isEmpty()) {
                restoreToken_ = kept;
            }
            {
                std::lock_guard lock(mutex_);
                state_ = State::Running;
            }
            changed_.notify_all();
            if (onToken_) {
                onToken_(response->results.value(QStringLiteral("restore_token")).toString());
            }
        });
}

void RemoteDesktopSession::primeKeysyms() {
    // xdg-desktop-portal-kde 5.27 reads the compositor's keymap only once it
    // is first asked for a keysym, and looks that first one up in a US
    // keymap: an É that starts a line would be lost. A keysym that no key
    // gives gets it reading, and types nothing.
    QDBusMessage call = portalCall(QStringLiteral("NotifyKeyboardKeysym"));
    call << QVariant::fromValue(QDBusObjectPath(handle_)) << QVariantMap()
         << static_cast<int>(XKB_KEY_VoidSymbol) << 0U;
    connection_.call(call, QDBus::Block, kPrimeTimeoutMs);
}

void RemoteDesktopSession::fail() {
    {
        std::lock_guard lock(mutex_);
        state_ = State::Failed;
    }
    changed_.notify_all();
}

bool RemoteDesktopSession::waitUntilRunning(std::chrono::milliseconds deadline) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, deadline, [this] {
        return state_ == State::Running || state_ == State::Failed || state_ == State::Closed;
    });
    return state_ == State::Running;
}

bool RemoteDesktopSession::ensureRunning(std::chrono::milliseconds deadline) {
    bool restart = false;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Closed) {
            state_ = State::Idle;
            restart = true;
        }
    }
    if (restart) {
        QMetaObject::invokeMethod(
            this, [this] { start(restoreToken_, onToken_); }, Qt::QueuedConnection);
    }
    return waitUntilRunning(deadline);
}

void RemoteDesktopSession::onClosed(const QDBusMessage& message) {
    {
        std::lock_guard lock(mutex_);
        if (message.path() != handle_) {
            return;
        }
        connection_.disconnect(service(), handle_, kSessionInterface, QStringLiteral("Closed"),
                               this, SLOT(onClosed(QDBusMessage)));
        handle_.clear();
        state_ = State::Closed;
    }
    changed_.notify_all();
}

bool RemoteDesktopSession::failed() const {
    std::lock_guard lock(mutex_);
    return state_ == State::Failed;
}

bool RemoteDesktopSession::key(int evdevCode, bool pressed) {
    return notify(QStringLiteral("NotifyKeyboardKeycode"), evdevCode, pressed);
}

bool RemoteDesktopSession::keysym(std::uint32_t keysym, bool pressed) {
    return notify(QStringLiteral("NotifyKeyboardKeysym"), static_cast<int>(keysym), pressed);
}

bool RemoteDesktopSession::notify(const QString& method, const QVariant& key, bool pressed) {
    QString handle;
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Running) {
            return false;
        }
        handle = handle_;
    }
    QDBusMessage call = portalCall(method);
    call << QVariant::fromValue(QDBusObjectPath(handle)) << QVariantMap() << key
         << static_cast<uint>(pressed ? 1 : 0);
    // Waits for the answer: the next key must not overtake this one.
    return connection_.call(call, QDBus::Block, kKeyCallTimeoutMs).type() ==
           QDBusMessage::ReplyMessage;
}

}  // namespace quillet::portal
