// The portal backend without a desktop.

#include "in_memory_settings_store.h"
#include "platform/portal/global_hotkey_portal.h"
#include "platform/portal/key_translator_xkb.h"
#include "platform/portal/paste_keystroke_portal.h"
#include "platform/portal/portal_probe.h"
#include "platform/portal/portal_request.h"
#include "platform/portal/shortcut_trigger.h"
#include "platform/portal/xkb_keys.h"
#include "platform/xkb/key_table.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "wait.h"

#include <atomic>
#include <future>

#include <xkbcommon/xkbcommon.h>

namespace quillet {
namespace {

using namespace modifier;
using portal::shortcutTrigger;

TEST(ShortcutTrigger, NamesEveryKeyOfTheVocabularySoThePortalReadsItBack) {
    EXPECT_EQ(shortcutTrigger(kDefaultShortcut), QStringLiteral("CTRL+ALT+LOGO+v"));
    EXPECT_EQ(shortcutTrigger({0x60, kShift}), QStringLiteral("SHIFT+F5"));
    EXPECT_EQ(shortcutTrigger({0x52, kControl | kOption}), QStringLiteral("CTRL+ALT+KP_0"));
    EXPECT_EQ(shortcutTrigger({0x24, kCommand}), QStringLiteral("LOGO+Return"));
    EXPECT_EQ(shortcutTrigger({0x1E, kControl | kOption | kShift | kCommand}),
              QStringLiteral("CTRL+ALT+SHIFT+LOGO+bracketright"));

    // KDE takes the key name as far as word characters go and looks it up
    // without regard to case: "v" and "V" must both come back as the key.
    const QRegularExpression word(QStringLiteral("^\\w+$"));
    int named = 0;
    for (KeyCode code = 0; code < 128; ++code) {
        const auto keysym = xkb::keysymForKeyCode(code);
        const auto trigger = shortcutTrigger({code, 0});
        ASSERT_EQ(trigger.has_value(), keysym.has_value()) << "key code " << code;
        if (!trigger) {
            continue;
        }
        ++named;
        EXPECT_TRUE(word.match(*trigger).hasMatch()) << trigger->toStdString();
        EXPECT_EQ(
            xkb_keysym_from_name(trigger->toLatin1().constData(), XKB_KEYSYM_CASE_INSENSITIVE),
            *keysym)
            << trigger->toStdString();
    }
    EXPECT_GT(named, 100);
}

TEST(XkbKeys, FindsTheVKeyAndTheCharactersOfTheSessionsLayout) {
    constexpr std::uint32_t v = XKB_KEY_v;
    EXPECT_EQ(portal::Keymap({}).evdevKeyFor(v), 47) << "xkbcommon's default is us";
    EXPECT_EQ(portal::Keymap({"", "us,ru", ""}).evdevKeyFor(XKB_KEY_Cyrillic_EF), std::nullopt)
        << "only without Shift";

    const QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    EXPECT_EQ(portal::sessionKeymapNames(config.path()).layout, QByteArray());
    QFile kxkbrc(config.filePath(QStringLiteral("kxkbrc")));
    ASSERT_TRUE(kxkbrc.open(QIODevice::WriteOnly));
    kxkbrc.write(
        "[Layout]\nDisplayNames=,\nLayoutList=fr,de\nModel=pc105\nUse=true\n"
        "VariantList=bepo,\n");
    kxkbrc.close();
    const portal::KeymapNames names = portal::sessionKeymapNames(config.path());
    EXPECT_EQ(names.layout, "fr,de");
    EXPECT_EQ(names.variant, "bepo,");
    EXPECT_EQ(names.model, "pc105");
    const portal::Keymap bepo(names);
    EXPECT_EQ(bepo.evdevKeyFor(v), 22);

    // Plain, with Shift, with AltGr; but not the second layout's ü, nor a
    // character of no layout at all.
    const auto types = [&bepo](const char16_t* text) {
        return bepo.typesOnFirstLayout(*portal::keysymsForText(QString::fromUtf16(text)));
    };
    EXPECT_TRUE(types(u"éÉœ"));
    EXPECT_FALSE(types(u"ü"));
    EXPECT_FALSE(types(u"中"));
}

// On Wayland the dialog reads keys from the keysym Qt hands over, else from
// the key's plain keysym in the session's layouts; A is a key like any other.
TEST(XkbKeys, KeyEventsOfOurWindowsReadInTheProgramsVocabulary) {
    using enum KeyEventType;
    const portal::Keymap usRu({"", "us,ru", ""});
    constexpr std::uint32_t kKey1 = 10, kKeyA = 38;  // evdev plus 8
    EXPECT_EQ(usRu.plainKeysyms(kKeyA),
              (std::vector<std::uint32_t>{XKB_KEY_a, XKB_KEY_Cyrillic_ef}));
    const struct {
        bool press;
        std::uint32_t keysym;
        std::vector<std::uint32_t> plain;
        ModifierFlags held;
        std::optional<KeyEvent> expected;
    } cases[] = {
        {true, XKB_KEY_a, usRu.plainKeysyms(kKeyA), kControl | kOption,
         KeyEvent{KeyDown, 0x00, kControl | kOption}},
        {true, XKB_KEY_exclam, usRu.plainKeysyms(kKey1), kControl | kShift,
         KeyEvent{KeyDown, 0x12, kControl | kShift}},
        {true,
         XKB_KEY_Cyrillic_EF,
         {XKB_KEY_Cyrillic_ef, XKB_KEY_a},
         kCommand,
         KeyEvent{KeyDown, 0x00, kCommand}},
        {true,
         XKB_KEY_Cyrillic_ef,
         {XKB_KEY_Cyrillic_ef},
         kCommand,
         KeyEvent{KeyDown, std::nullopt, kCommand}},
        // A modifier key's own bit counts whether Qt saw it yet or not.
        {true,
         XKB_KEY_Super_L,
         {},
         kControl,
         KeyEvent{FlagsChanged, std::nullopt, kControl | kCommand}},
        {false,
         XKB_KEY_Control_R,
         {},
         kControl | kCommand,
         KeyEvent{FlagsChanged, std::nullopt, kCommand}},
        {false, XKB_KEY_Alt_L, {}, kShift, KeyEvent{FlagsChanged, std::nullopt, kShift}},
        {true, XKB_KEY_ISO_Level3_Shift, {}, kShift, KeyEvent{FlagsChanged, std::nullopt, kShift}},
        {false, XKB_KEY_a, {XKB_KEY_a}, kControl, std::nullopt},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto event = portal::translateXkbKey(c.press, c.keysym, c.plain, c.held);
        ASSERT_EQ(event.has_value(), c.expected.has_value()) << i;
        if (event) {
            EXPECT_EQ(std::tie(event->type, event->keyCode, event->modifierFlags),
                      std::tie(c.expected->type, c.expected->keyCode, c.expected->modifierFlags))
                << i;
        }
    }
}

TEST(XkbKeys, EveryCharacterOfALineHasAKeysym) {
    const auto keysyms = portal::keysymsForText(QStringLiteral("aÉ中\U0001F600"));
    ASSERT_TRUE(keysyms);
    EXPECT_EQ(*keysyms,
              (std::vector<std::uint32_t>{XKB_KEY_a, XKB_KEY_Eacute, 0x1004E2D, 0x101F600}));
}

// A desktop without the portal (or no session bus at all) must be told
// apart at once, not after the wait for a dialog's answer.
TEST(PortalBackend, WithoutAPortalNothingIsHeldAndNoKeyIsSent) {
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent"), QStringLiteral("none"));
    ASSERT_FALSE(none.isConnected());
    EXPECT_FALSE(portalShortcutsAvailable(none));
    EXPECT_FALSE(portalKeyboardAvailable(none));

    // A grab still unanswered at its deadline counts as held: it must fail first.
    GlobalHotkeyPortal hotkey(none, std::chrono::seconds(30));
    EXPECT_FALSE(hotkey.grab(ShortcutAction::PasteNext, kDefaultShortcut));

    InMemorySettingsStore settings;
    PasteKeystrokePortal keystroke(settings, {}, none);
    keystroke.setStartDeadline(std::chrono::seconds(30));
    EXPECT_FALSE(keystroke.available());
    EXPECT_FALSE(keystroke.postPasteChord(PasteMethod::ControlV));
    EXPECT_FALSE(keystroke.typeText(QStringLiteral("v")));
}

// One shortcut as the portal lists it, a(sa{sv}).
struct Bound {
    QString id;
    QVariantMap properties;
};
QDBusArgument& operator<<(QDBusArgument& argument, const Bound& bound) {
    argument.beginStructure();
    argument << bound.id << bound.properties;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, Bound& bound) {
    argument.beginStructure();
    argument >> bound.id >> bound.properties;
    argument.endStructure();
    return argument;
}

}  // namespace
}  // namespace quillet

Q_DECLARE_METATYPE(quillet::Bound)

namespace quillet {
namespace {

using harness::waitUntil;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// The portal of a desktop, on a bus of the test's own: it grants every
// request at once, binds every shortcut with its preferred keys, takes keys
// for the keyboard session it runs, and closes sessions as a desktop may.
class FakePortal final : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection connection) : connection_(std::move(connection)) {
        qDBusRegisterMetaType<Bound>();
        qDBusRegisterMetaType<QList<Bound>>();
        connection_.registerVirtualObject(portal::path(), this, QDBusConnection::SubPath);
        connection_.registerService(portal::service());
    }

    QString introspect(const QString& /*path*/) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        const bool keyboard = message.interface().endsWith(u"RemoteDesktop");
        if (member.startsWith(u"NotifyKeyboard")) {
            const bool open =
                message.arguments().value(0).value<QDBusObjectPath>().path() == keyboardSession_;
            keys += open ? 1 : 0;
            connection.send(open ? message.createReply()
                                 : message.createErrorReply(QDBusError::UnknownObject, {}));
            return true;
        }
        if (member == u"Close") {
            connection.send(message.createReply());
            return true;
        }
        const auto options = qdbus_cast<QVariantMap>(message.arguments().constLast());
        QString sender = message.service().mid(1);
        sender.replace(u'.', u'_');
        const QString request =
            portal::path() + u"/request/"_s + sender + u'/' + options[u"handle_token"_s].toString();
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        if (member == u"CreateSession") {
            const QString session = portal::path() + u"/session/"_s + sender + u'/' +
                                    options[u"session_handle_token"_s].toString();
            (keyboard ? keyboardSession_ : shortcutSession_) = session;
            ++(keyboard ? keyboardSessions : shortcutSessions);
            results[u"session_handle"_s] = session;
        } else if (member == u"Start") {
            results[u"devices"_s] = 1U;
        } else if (member == u"BindShortcuts") {
            auto bound = qdbus_cast<QList<Bound>>(message.arguments().value(1));
            for (Bound& shortcut : bound) {
                shortcut.properties[u"trigger_description"_s] =
                    shortcut.properties[u"preferred_trigger"_s];
            }
            results[u"shortcuts"_s] = QVariant::fromValue(bound);
        }
        QDBusMessage response =
            QDBusMessage::createSignal(request, u"org.freedesktop.portal.Request"_s, u"Response"_s);
        response << 0U << results;
        connection.send(response);
        return true;
    }

    // The desktop ends a session by itself.
    void close(bool keyboard) {
        QString& session = keyboard ? keyboardSession_ : shortcutSession_;
        QDBusMessage closed =
            QDBusMessage::createSignal(session, u"org.freedesktop.portal.Session"_s, u"Closed"_s);
        closed << QVariantMap();
        connection_.send(closed);
        session.clear();
    }

    std::atomic<int> keys = 0;
    int keyboardSessions = 0;
    int shortcutSessions = 0;

private:
    QDBusConnection connection_;
    QString keyboardSession_;
    QString shortcutSession_;
};

// A session the desktop closed is noticed and made anew: the keys and the
// shortcuts work again without a restart.
TEST(PortalBackend, SessionsTheDesktopClosesAreMadeAnew) {
    QProcess daemon;
    daemon.start(u"dbus-daemon"_s,
                 {u"--config-file=" QUILLET_BUS_CONFIG ""_s, u"--nofork"_s, u"--print-address"_s});
    ASSERT_TRUE(daemon.waitForReadyRead(10'000)) << "needs dbus-daemon";
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    FakePortal portal(QDBusConnection::connectToBus(address, u"fake-portal"_s));
    const QDBusConnection client = QDBusConnection::connectToBus(address, u"client"_s);
    ASSERT_TRUE(client.isConnected());

    // Blocking calls go out from workers, as the program makes them, while
    // this thread answers for the portal.
    const auto onWorker = [](auto work) {
        auto result = std::async(std::launch::async, std::move(work));
        EXPECT_TRUE(
            waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 20s));
        return result.get();
    };

    InMemorySettingsStore settings;
    PasteKeystrokePortal keystroke(settings, {}, client);
    EXPECT_TRUE(onWorker([&] { return keystroke.postPasteChord(PasteMethod::ControlV); }));
    portal.close(true);
    // A chord may still meet the closed session before the news of it.
    EXPECT_TRUE(waitUntil(
        [&] { return onWorker([&] { return keystroke.postPasteChord(PasteMethod::ControlV); }); },
        10s));
    EXPECT_EQ(portal.keyboardSessions, 2);

    GlobalHotkeyPortal hotkey(client, 10s);
    EXPECT_TRUE(onWorker([&] { return hotkey.grab(ShortcutAction::PasteNext, kDefaultShortcut); }));
    portal.close(false);
    EXPECT_TRUE(waitUntil([&] { return portal.shortcutSessions == 2; }, 10s));
}

}  // namespace
}  // namespace quillet
