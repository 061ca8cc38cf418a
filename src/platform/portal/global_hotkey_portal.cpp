#include "platform/portal/global_hotkey_portal.h"

#include "core/handoff.h"
#include "platform/portal/portal_request.h"
#include "platform/portal/portal_session.h"
#include "platform/portal/shortcut_trigger.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QTimer>

#include <algorithm>
#include <map>
#include <optional>

namespace quillet::portal {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
// KDE names the shortcut group in its settings after the session token, so
// it never changes.
const QString kSessionToken = QStringLiteral("quillet");
const QString kPlasmaDaemon = QStringLiteral("org.kde.kglobalaccel");
// A session the desktop closed is made anew, but no sooner than this after
// the last time: a desktop that keeps closing it is not asked in a loop.
constexpr std::chrono::milliseconds kRecreateGap{10'000};

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

// Whether the portal bound a shortcut; set once, from the conversation's thread.
using Outcome = Handoff<std::optional<bool>>;

// The portal's id and description of an action's shortcut. KDE keeps the
// keys it first bound for an id and ignores a new preferred trigger, so each
// trigger gets an id of its own.
PortalShortcut portalShortcut(ShortcutAction action, const QString& trigger) {
    const char* id = "paste-next ";
    const char* description = "Paste the next line";
    switch (action) {
        case ShortcutAction::PasteNext:
            break;
        case ShortcutAction::Back:
            id = "back ";
            description = "Back: the line before comes next again";
            break;
        case ShortcutAction::Skip:
            id = "skip ";
            description = "Skip: pass over the next line";
            break;
        case ShortcutAction::StartOver:
            id = "start-over ";
            description = "Start over: the first line comes next";
            break;
    }
    return {QLatin1String(id) + trigger,
            {{QStringLiteral("description"), QLatin1String(description)},
             {QStringLiteral("preferred_trigger"), trigger}}};
}

// The portal's side of the shortcuts, on a thread of its own: one session at
// a time, holding every action's shortcut, whose presses it passes on.
class ShortcutsConversation final : public QObject {
    Q_OBJECT

public:
    ShortcutsConversation(QDBusConnection connection,
                          std::function<void(ShortcutAction)> onActivated)
        : connection_(std::move(connection)),
          session_(connection_, kInterface, QStringLiteral("quillet_gs"), this),
          onActivated_(std::move(onActivated)) {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        session_.setClosedHandler([this] { onClosed(); });
    }

    // Replaces the session with one that holds the action's new shortcut
    // beside the others; the outcome tells whether the action's one has keys.
    void bind(ShortcutAction action, const QString& trigger,
              const std::shared_ptr<Outcome>& outcome) {
        wanted_[action] = trigger;
        rebind(action, outcome);
    }

    // The others stay, in a session of their own.
    void release(ShortcutAction action) {
        if (wanted_.erase(action) == 0) {
            return;
        }
        if (wanted_.empty()) {
            close();
        } else {
            rebind(std::nullopt, nullptr);
        }
    }

    void close() {
        endSession();
        wanted_.clear();
    }

private Q_SLOTS:
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong /*timestamp*/,
                     const QVariantMap& /*options*/) {
        // Ids of earlier shortcuts stay in the desktop's settings, and may still fire.
        if (session.path() != session_.handle()) {
            return;
        }
        for (const auto& [action, held] : ids_) {
            if (held == id) {
                onActivated_(action);
            }
        }
    }

private:
    // The desktop ended the session (its portal restarted, say): the
    // shortcuts went with it, so the session is made anew with them.
    void onClosed() {
        endSession();
        const auto since = std::chrono::steady_clock::now() - recreated_;
        const auto wait = recreatedOnce_ && since < kRecreateGap
                              ? std::chrono::ceil<std::chrono::milliseconds>(kRecreateGap - since)
                              : std::chrono::milliseconds{0};
        QTimer::singleShot(wait, this, [this, generation = generation_] {
            if (generation != generation_ || wanted_.empty()) {
                return;
            }
            recreated_ = std::chrono::steady_clock::now();
            recreatedOnce_ = true;
            rebind(std::nullopt, nullptr);
        });
    }

    // Nothing is held until the next bind; what is wanted stays.
    void endSession() {
        ++generation_;
        session_.close();
        ids_.clear();
    }

    static void settle(const std::shared_ptr<Outcome>& outcome, bool bound) {
        if (outcome) {
            outcome->change([bound](std::optional<bool>& settled) {
                if (!settled) {
                    settled = bound;
                }
            });
        }
    }

    // The action whose shortcut is new, if any, did not get keys: it holds nothing.
    void drop(std::optional<ShortcutAction> changed, const std::shared_ptr<Outcome>& outcome) {
        if (changed) {
            wanted_.erase(*changed);
            ids_.erase(*changed);
        }
        settle(outcome, false);
    }

    void rebind(std::optional<ShortcutAction> changed, const std::shared_ptr<Outcome>& outcome) {
        // The new session has the old one's token, and Plasma names the
        // shortcuts' group after it: an old session closing late took the
        // new shortcuts with it. So creating waits for the old one to go.
        ids_.clear();
        if (!listening_) {
            listening_ = connection_.connect(
                service(), path(), kInterface, QStringLiteral("Activated"), this,
                SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        }
        QList<PortalShortcut> shortcuts;
        for (const auto& [action, trigger] : wanted_) {
            shortcuts.append(portalShortcut(action, trigger));
        }
        const unsigned generation = ++generation_;
        // Plasma 5.27 binds only the shortcuts named here, and ignores those of BindShortcuts.
        session_.create({{QStringLiteral("session_handle_token"), kSessionToken},
                         {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}},
                        [this, generation, changed, shortcuts, outcome](bool open) {
                            if (generation != generation_) {
                                settle(outcome, false);
                            } else if (!open) {
                                drop(changed, outcome);
                            } else {
                                bindShortcuts(changed, shortcuts, outcome);
                            }
                        });
    }

    void bindShortcuts(std::optional<ShortcutAction> changed,
                       const QList<PortalShortcut>& shortcuts,
                       const std::shared_ptr<Outcome>& outcome) {
        const unsigned generation = generation_;
        session_.request(
            QStringLiteral("BindShortcuts"), {QVariant::fromValue(shortcuts), QString()}, {},
            [this, generation, changed, outcome](std::optional<PortalResponse> response) {
                if (generation != generation_) {
                    settle(outcome, false);
                    return;
                }
                if (!response || !response->granted()) {
                    endSession();
                    drop(changed, outcome);
                    return;
                }
                for (const auto& [action, trigger] : wanted_) {
                    const QString id = portalShortcut(action, trigger).id;
                    if (boundHasKeys(*response, id)) {
                        ids_[action] = id;
                    }
                }
                if (changed && !ids_.contains(*changed)) {
                    drop(changed, outcome);
                    return;
                }
                checkPlasmaKeys(changed, outcome);
            });
    }

    // Plasma 5.27's portal answers with the keys it asked for, even when its
    // shortcut daemon gave them to nobody because KWin or another program
    // holds them; and it keeps every shortcut the program ever bound, keys
    // and all. Its daemon tells the truth, and forgets the earlier ones on
    // request. Elsewhere the portal's word stands.
    void checkPlasmaKeys(std::optional<ShortcutAction> changed,
                         const std::shared_ptr<Outcome>& outcome) {
        if (!connection_.interface()->isServiceRegistered(kPlasmaDaemon)) {
            settle(outcome, true);
            return;
        }
        const QDBusMessage call = QDBusMessage::createMethodCall(
            kPlasmaDaemon, QStringLiteral("/component/") + kSessionToken,
            QStringLiteral("org.kde.kglobalaccel.Component"), QStringLiteral("allShortcutInfos"));
        auto* watcher = new QDBusPendingCallWatcher(connection_.asyncCall(call), this);
        const unsigned generation = generation_;
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                         [this, generation, changed, outcome](QDBusPendingCallWatcher* finished) {
                             finished->deleteLater();
                             if (generation != generation_) {
                                 settle(outcome, false);
                                 return;
                             }
                             // Without an answer the portal's word stands.
                             const auto listed = finished->isError()
                                                     ? std::nullopt
                                                     : plasmaShortcuts(finished->reply());
                             if (changed && listed && !listed->keyed.contains(ids_[*changed])) {
                                 drop(changed, outcome);
                             } else {
                                 settle(outcome, true);
                             }
                             if (listed) {
                                 forgetEarlier(listed->all);
                             }
                         });
    }

    struct PlasmaShortcuts {
        QStringList all;
        QStringList keyed;  // those with keys
    };

    // The daemon lists, per shortcut, its id, five names, its keys and its
    // default keys; a key of 0 is none. None for a reply without a list.
    static std::optional<PlasmaShortcuts> plasmaShortcuts(const QDBusMessage& reply) {
        if (reply.arguments().isEmpty()) {
            return std::nullopt;
        }
        PlasmaShortcuts shortcuts;
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
            shortcuts.all.append(id);
            if (std::any_of(bound.begin(), bound.end(), [](int key) { return key != 0; })) {
                shortcuts.keyed.append(id);
            }
        }
        infos.endArray();
        return shortcuts;
    }

    // Asks the daemon to forget every shortcut the session does not hold.
    void forgetEarlier(const QStringList& listed) {
        for (const QString& id : listed) {
            const bool held = std::any_of(ids_.begin(), ids_.end(),
                                          [&id](const auto& entry) { return entry.second == id; });
            if (!held) {
                connection_.call(
                    QDBusMessage::createMethodCall(kPlasmaDaemon, QStringLiteral("/kglobalaccel"),
                                                   QStringLiteral("org.kde.KGlobalAccel"),
                                                   QStringLiteral("unregister"))
                        << kSessionToken << id,
                    QDBus::NoBlock);
            }
        }
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
    PortalSession session_;
    std::function<void(ShortcutAction)> onActivated_;
    bool listening_ = false;
    unsigned generation_ = 0;  // a later bind or close turns earlier answers away
    std::chrono::steady_clock::time_point recreated_;
    bool recreatedOnce_ = false;
    std::map<ShortcutAction, QString> wanted_;  // the trigger asked for, per action
    std::map<ShortcutAction, QString> ids_;     // the shortcuts held; with keys each
};

}  // namespace quillet::portal

namespace quillet {

GlobalHotkeyPortal::GlobalHotkeyPortal(QDBusConnection connection,
                                       std::chrono::milliseconds answerDeadline)
    : answerDeadline_(answerDeadline),
      conversation_(std::make_unique<portal::ShortcutsConversation>(
          std::move(connection), [this](ShortcutAction action) { presses_.post(action); })) {
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

void GlobalHotkeyPortal::setHandler(std::function<void(ShortcutAction)> onPress) {
    presses_.setHandler(std::move(onPress));
}

bool GlobalHotkeyPortal::grab(ShortcutAction action, Shortcut shortcut) {
    const auto trigger = portal::shortcutTrigger(shortcut);
    const bool another = std::any_of(triggers_.begin(), triggers_.end(), [&](const auto& entry) {
        return entry.first != action && entry.second == trigger;
    });
    if (!trigger || another) {
        release(action);
        return false;
    }
    triggers_[action] = *trigger;
    auto outcome = std::make_shared<portal::Outcome>();
    QMetaObject::invokeMethod(conversation_.get(),
                              [conversation = conversation_.get(), action, trigger = *trigger,
                               outcome] { conversation->bind(action, trigger, outcome); });
    // A grab still unanswered at the deadline counts as held.
    const auto settled = [](const std::optional<bool>& bound) { return bound.has_value(); };
    const bool bound = !outcome->waitFor(answerDeadline_, settled) ||
                       outcome->read([](const std::optional<bool>& held) { return *held; });
    if (!bound) {
        triggers_.erase(action);
    }
    return bound;
}

void GlobalHotkeyPortal::release(ShortcutAction action) {
    triggers_.erase(action);
    QMetaObject::invokeMethod(conversation_.get(), [conversation = conversation_.get(), action] {
        conversation->release(action);
    });
}

void GlobalHotkeyPortal::releaseAll() {
    triggers_.clear();
    QMetaObject::invokeMethod(conversation_.get(),
                              [conversation = conversation_.get()] { conversation->close(); });
}

}  // namespace quillet

#include "global_hotkey_portal.moc"
