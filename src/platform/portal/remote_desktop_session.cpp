#include "platform/portal/remote_desktop_session.h"

#include <xkbcommon/xkbcommon-keysyms.h>

namespace quillet::portal {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint kKeyboard = 1;
// Kept until revoked: the restore token spares the user the question next time.
constexpr uint kPersistUntilRevoked = 2;
// Key events are small and answered by the portal at once; one that takes
// this long went nowhere.
constexpr int kKeyCallTimeoutMs = 2000;
// Asked on the UI thread, once; the answer is not needed.
constexpr int kPrimeTimeoutMs = 300;

}  // namespace

RemoteDesktopSession::RemoteDesktopSession(QDBusConnection connection, QObject* parent)
    : QObject(parent),
      session_(std::move(connection), kInterface, QStringLiteral("quillet_rd"), this) {
    // The desktop may end the session at any time (its portal restarted, the
    // user revoked it): keys would then go nowhere.
    session_.setClosedHandler([this] { shift(State::Closed); });
}

void RemoteDesktopSession::start(const QString& restoreToken,
                                 std::function<void(const QString&)> onToken) {
    if (!shift(State::Starting, State::Idle)) {
        return;
    }
    onToken_ = std::move(onToken);
    restoreToken_ = restoreToken;
    session_.create({{QStringLiteral("session_handle_token"), newToken(u"quillet_keys")}},
                    [this, restoreToken](bool open) {
                        if (open) {
                            selectDevices(restoreToken);
                        } else {
                            shift(State::Failed);
                        }
                    });
}

void RemoteDesktopSession::selectDevices(const QString& restoreToken) {
    QVariantMap options{{QStringLiteral("types"), kKeyboard},
                        {QStringLiteral("persist_mode"), kPersistUntilRevoked}};
    if (!restoreToken.isEmpty()) {
        options.insert(QStringLiteral("restore_token"), restoreToken);
    }
    session_.request(QStringLiteral("SelectDevices"), {}, options,
                     [this](std::optional<PortalResponse> response) {
                         if (response && response->granted()) {
                             startSession();
                         } else {
                             shift(State::Failed);
                         }
                     });
}

void RemoteDesktopSession::startSession() {
    session_.request(
        QStringLiteral("Start"), {QString()}, {}, [this](std::optional<PortalResponse> response) {
            const uint devices =
                response ? response->results.value(QStringLiteral("devices")).toUInt() : 0;
            if (!response || !response->granted() || (devices & kKeyboard) == 0) {
                shift(State::Failed);
                return;
            }
            primeKeysyms();
            if (const QString kept =
                    response->results.value(QStringLiteral("restore_token")).toString();
                !kept.isEmpty()) {
                restoreToken_ = kept;
            }
            shift(State::Running);
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
    session_.call(QStringLiteral("NotifyKeyboardKeysym"),
                  {QVariantMap(), static_cast<int>(XKB_KEY_VoidSymbol), 0U}, kPrimeTimeoutMs);
}

bool RemoteDesktopSession::shift(State to, std::optional<State> from) {
    return state_.change([from, to](State& state) {
        if (from && state != *from) {
            return false;
        }
        state = to;
        return true;
    });
}

bool RemoteDesktopSession::is(State wanted) const {
    return state_.read([wanted](State state) { return state == wanted; });
}

bool RemoteDesktopSession::waitUntilRunning(std::chrono::milliseconds deadline) const {
    state_.waitFor(deadline, [](State state) {
        return state == State::Running || state == State::Failed || state == State::Closed;
    });
    return is(State::Running);
}

bool RemoteDesktopSession::ensureRunning(std::chrono::milliseconds deadline) {
    if (shift(State::Idle, State::Closed)) {
        QMetaObject::invokeMethod(
            this, [this] { start(restoreToken_, onToken_); }, Qt::QueuedConnection);
    }
    return waitUntilRunning(deadline);
}

bool RemoteDesktopSession::failed() const {
    return is(State::Failed);
}

bool RemoteDesktopSession::key(int evdevCode, bool pressed) {
    return notify(QStringLiteral("NotifyKeyboardKeycode"), evdevCode, pressed);
}

bool RemoteDesktopSession::keysym(std::uint32_t keysym, bool pressed) {
    return notify(QStringLiteral("NotifyKeyboardKeysym"), static_cast<int>(keysym), pressed);
}

bool RemoteDesktopSession::notify(const QString& method, const QVariant& key, bool pressed) {
    if (!is(State::Running)) {
        return false;
    }
    // Waits for the answer: the next key must not overtake this one.
    return session_.call(method, {QVariantMap(), key, static_cast<uint>(pressed ? 1 : 0)},
                         kKeyCallTimeoutMs);
}

}  // namespace quillet::portal
