#include "platform/portal/global_hotkey_portal.h"

#include "platform/portal/portal_request.h"
#include "platform/portal/shortcut_trigger.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusMetaType>
#include <QDBusObjectPath>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace quillet::portal {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
// KDE names the shortcut group in its settings after the session token, so
// it never changes.
const QString kSessionToken = QStringLiteral("quillet");
const QString kPlasmaDaemon = QStringLiteral("org.kde.kglobalaccel");

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

}  // namespace

}  // namespace quillet::portal

Q_DECLARE_METATYPE(quillet::portal::PortalShortcut)

namespace quillet::portal {

namespace {

// Whether the portal bound a shortcut; set once, from the conversation's thread.
class Outcome {
public:
    void set(bool bound) {
        {
            std::lock_guard lock(mutex_);
            if (bound_) {
                return;
            }
            bound_ = bound;
        }
        changed_.notify_all();
    }
    // None when no answer came by the deadline.
    std::optional<bool> wait(std::chrono::milliseconds deadline) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, deadline, [this] { return bound_.has_value(); });
        return bound_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<bool> bound_;
};

}  // namespace

// The portal's side of the shortcut, on a thread of its own: one session at
// a time, holding one shortcut, whose presses it passes on.
class ShortcutsConversation final : public QObject {
    Q_OBJECT

public:
    ShortcutsConversation(QDBusConnection connection, std::function<void()> onActivated)
        : connection_(std::move(connection)), onActivated_(std::move(onActivated)) {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
    }

    // Replaces the session with one that holds the shortcut.
    void bind(const QString& trigger, const std::shared_ptr<Outcome>& outcome) {
        // The new session has the old one's token, and Plasma names the
        // shortcuts' group after it: an old session closing late took the
        // new shortcut with it. So the old one is gone first.
        ++generation_;
        closeSession(session_, QDBus::Block);
        session_.clear();
        id_.clear();
        if (!listening_) {
            listening_ = connection_.connect(
                service(), path(), kInterface, QStringLiteral("Activated"), this,
                SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        }
        // KDE keeps the keys it first bound for an id and ignores a new
        // preferred trigger, so each trigger gets an id of its own.
        const QString id = QStringLiteral("paste-next ") + trigger;
        const QList<PortalShortcut> shortcuts{
            {id,
             {{QStringLiteral("description"), QStringLiteral("Paste the next line")},
              {QStringLiteral("preferred_trigger"), trigger}}}};
        const unsigned generation = ++generation_;
        const QString token = newToken(u"quillet_gs");
        QDBusMessage call = portalCall(QStringLiteral("CreateSession"));
        // Plasma 5.27 binds only the shortcuts named here, and ignores those of BindShortcuts.
        call << QVariantMap{{QStringLiteral("handle_token"), token},
                            {QStringLiteral("session_handle_token"), kSessionToken},
                            {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}};
        PortalRequest::send(
            connection_, call, token, this,
            [this, generation, id, shortcuts, outcome](std::optional<PortalResponse> response) {
                const QString handle =
                    response && response->granted()
                        ? response->results.value(QStringLiteral("session_handle")).toString()
                        : QString();
                if (generation != generation_ || handle.isEmpty()) {
                    // A session no longer wanted would keep the token taken.
                    closeSession(handle);
                    outcome->set(false);
                    return;
                }
                session_ = handle;
                bindShortcuts(id, shortcuts, outcome);
            });
    }

    void close() {
        ++generation_;
        closeSession(session_);
        session_.clear();
        id_.clear();
    }

private Q_SLOTS:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong /*timestamp*/,
                     const QVariantMap& /*options*/) {
        // Ids of earlier shortcuts stay in the desktop's settings, and may still fire.
        if (!id_.isEmpty() && session.path() == session_ && id == id_) {
            onActivated_();
        }
    }

private:
    void closeSession(const QString& handle, QDBus::CallMode mode = QDBus::NoBlock) {
        if (!handle.isEmpty()) {
            connection_.call(
                QDBusMessage::createMethodCall(service(), handle,
                                               QStringLiteral("org.freedesktop.portal.Session"),
                                               QStringLiteral("Close")),
                mode);
        }
    }

    QDBusMessage portalCall(const QString& method) const {
        return QDBusMessage::createMethodCall(service(), path(), kInterface, method);
    }

    void bindShortcuts(const QString& id, const QList<PortalShortcut>& shortcuts,
                       const std::shared_ptr<Outcome>& outcome) {
        const unsigned generation = generation_;
        const QString token = newToken(u"quillet_gs");
        QDBusMessage call = portalCall(QStringLiteral("BindShortcuts"));
        call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(shortcuts)
             << QString() << QVariantMap{{QStringLiteral("handle_token"), token}};
        PortalRequest::send(
            connection_, call, token, this,
            [this, generation, id, outcome](std::optional<PortalResponse> response) {
                if (generation != generation_) {
                    outcome->set(false);
                    return;
                }
                if (!response || !response->granted() || !boundHasKeys(*response, id)) {
                    close();
                    outcome->set(false);
                    return;
                }
                id_ = id;
                checkPlasmaKeys(outcome);
            });
    }

    // Plasma 5.27's portal answers with the keys it asked for, even when its
    // shortcut daemon gave them to nobody because KWin or another program
    // holds them; and it keeps every shortcut the program ever bound, keys
    // and all. Its daemon tells the truth, and forgets the earlier ones on
    // request. Elsewhere the portal's word stands.
    void checkPlasmaKeys(const std::shared_ptr<Outcome>& outcome) {
        if (!connection_.interface()->isServiceRegistered(kPlasmaDaemon)) {
            outcome->set(true);
            return;
        }
        const QDBusMessage call = QDBusMessage::createMethodCall(
            kPlasmaDaemon, QStringLiteral("/component/") + kSessionToken,
            QStringLiteral("org.kde.kglobalaccel.Component"), QStringLiteral("allShortcutInfos"));
        auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
        const unsigned generation = generation_;
        QObject::connect(
            watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation, outcome](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const PlasmaKeys keys =
                    finished->isError() ? PlasmaKeys{true, {}} : plasmaKeys(finished->reply());
                if (generation != generation_) {
                    outcome->set(false);
                    return;
                }
                if (!keys.held) {
                    close();
                    outcome->set(false);
                    return;
                }
                for (const QString& earlier : keys.earlier) {
                    connection_.call(
                        QDBusMessage::createMethodCall(
                            kPlasmaDaemon, QStringLiteral("/kglobalaccel"),
                            QStringLiteral("org.kde.KGlobalAccel"), QStringLiteral("unregister"))
                            << kSessionToken << earlier,
                        QDBus::NoBlock);
                }
                outcome->set(true);
            });
    }

    struct PlasmaKeys {
        bool held = false;    // the shortcut held has keys
        QStringList earlier;  // ids of the shortcuts bound before it
    };

    // The daemon lists, per shortcut, its id, five names, its keys and its
    // default keys; a key of 0 is none.
    PlasmaKeys plasmaKeys(const QDBusMessage& reply) const {
        PlasmaKeys keys;
        if (reply.arguments().isEmpty()) {
            keys.held = true;
            return keys;
        }
        const auto infos = reply.arguments().constFirst().value<QDBusArgument>();
        infos.beginArray();
        while (!infos.atEnd()) {
            QString id;
            QString name;
            QList<int> bound;
            QList<int> defaults;
            infos.beginStructure();
            infos >> id;
            for (int i = 0; i < 5; ++i) {
                infos >> name;
            }
            infos >> bound >> defaults;
            infos.endStructure();
            if (id != id_) {
                keys.earlier.append(id);
            } else if (std::any_of(bound.begin(), bound.end(), [](int key) { return key != 0; })) {
                keys.held = true;
            }
        }
        infos.endArray();
        return keys;
    }

    // The desktop answers with what it bound; a shortcut it could not give
    // keys to (taken by another program) has no trigger.
    static bool boundHasKeys(const PortalResponse& response, const QString& id) {
        const auto bound = qdbus_cast<QList<PortalShortcut>>(
            response.results.value(QStringLiteral("shortcuts")).value<QDBusArgument>());
        return std::any_of(bound.begin(), bound.end(), [&id](const PortalShortcut& shortcut) {
            return shortcut.id == id &&
                   !shortcut.properties.value(QStringLiteral("trigger_description"))
                        .toString()
                        .isEmpty();
        });
    }

    QDBusConnection connection_;
    std::function<void()> onActivated_;
    bool listening_ = false;
    unsigned generation_ = 0;  // a later bind or close turns earlier answers away
    QString session_;
    QString id_;  // the shortcut held; "" while none is
};

}  // namespace quillet::portal

namespace quillet {

GlobalHotkeyPortal::GlobalHotkeyPortal(QDBusConnection connection,
                                       std::chrono::milliseconds answerDeadline)
    : answerDeadline_(answerDeadline),
      conversation_(std::make_unique<portal::ShortcutsConversation>(std::move(connection), [this] {
          QMetaObject::invokeMethod(
              &callContext_,
              [this] {
                  if (onPress_) {
                      onPress_();
                  }
              },
              Qt::QueuedConnection);
      })) {
    thread_.setObjectName(QStringLiteral("quillet-shortcuts"));
    conversation_->moveToThread(&thread_);
    thread_.start();
}

GlobalHotkeyPortal::~GlobalHotkeyPortal() {
    QMetaObject::invokeMethod(
        conversation_.get(), [conversation = conversation_.get()] { conversation->close(); },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void GlobalHotkeyPortal::setHandler(std::function<void()> onPress) {
    onPress_ = std::move(onPress);
}

bool GlobalHotkeyPortal::grab(Shortcut shortcut) {
    const auto trigger = portal::shortcutTrigger(shortcut);
    if (!trigger) {
        release();
        return false;
    }
    auto outcome = std::make_shared<portal::Outcome>();
    QMetaObject::invokeMethod(conversation_.get(),
                              [conversation = conversation_.get(), trigger = *trigger, outcome] {
                                  conversation->bind(trigger, outcome);
                              });
    return outcome->wait(answerDeadline_).value_or(true);
}

void GlobalHotkeyPortal::release() {
    QMetaObject::invokeMethod(conversation_.get(),
                              [conversation = conversation_.get()] { conversation->close(); });
}

}  // namespace quillet

#include "global_hotkey_portal.moc"
