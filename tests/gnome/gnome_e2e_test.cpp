// The real program on headless GNOME Shell (tests/support/gnome_session.sh),
// driven as a user would: GNOME's own custom keybinding runs
// `quillet --paste-next`, the user's keys and another program's clipboard come
// through a RemoteDesktop session of the test's own, GTK windows take the lines.

#include "gnome_desktop.h"
#include "wayland_harness.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <numeric>
#include <optional>

namespace quillet::gnometest {
namespace {

using wlharness::QuilletProcess;
using wlharness::runCommand;

constexpr auto kPatience = 10s;
// How long a line that must not come is given to show up anyway.
constexpr auto kStraggler = 1500ms;

const QByteArray kPng = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5Erk"
    "Jggg==");

// Text, a picture, a type of one program's own and one of 3 MiB.
ClipboardContent copied(const QString& text) {
    QByteArray big(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < big.size(); ++i) {
        big[i] = char((i * 7919) >> 3);
    }
    QByteArray own(256, '\0');
    std::iota(own.begin(), own.end(), '\0');
    return {text,
            {{QStringLiteral("text/plain;charset=utf-8"), text.toUtf8()},
             {QStringLiteral("image/png"), kPng},
             {QStringLiteral("application/x-quillet-test"), own},
             {QStringLiteral("application/x-quillet-big"), big}}};
}

class GnomeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QUILLET_GNOME_SESSION")) {
            GTEST_SKIP() << "needs the session of tests/support/gnome_session.sh";
        }
        user_.emplace();
        ASSERT_TRUE(user().ready());
    }

    RemoteDesktop& user() { return *user_; }

    // gsd-media-keys takes a new binding a moment after it is written: the
    // first press of a run is made again until its line arrives.
    bool firstPress(const GtkWindow& window, const QString& expected) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            user().chord(kShortcut);
            if (window.waitForText(expected, 4s)) {
                return true;
            }
        }
        return false;
    }

    std::optional<RemoteDesktop> user_;
};

TEST_F(GnomeTest, TheKeybindingPastesLineByLineIntoGtk4AndEveryFormatOutlivesTheProgram) {
    GtkWindow window(user(), 4);
    ASSERT_TRUE(window.started());
    QuilletProcess quillet;
    ASSERT_TRUE(start(quillet)) << quillet.standardError().toStdString();
    const ClipboardContent list = copied(QStringLiteral("alpha\n\n   beta  \nÉté 中文 ✓\n"));
    ASSERT_TRUE(user().copy(list));

    EXPECT_TRUE(firstPress(window, QStringLiteral("alpha"))) << window.text().toStdString();
    EXPECT_TRUE(quillet.standardError().contains("Press ⌃⌥⌘V")) << "the keybinding is written";
    user().chord(kShortcut);
    EXPECT_TRUE(window.waitForText(QStringLiteral("alphabeta"))) << window.text().toStdString();
    user().chord(kShortcut);
    EXPECT_TRUE(window.waitForText(QStringLiteral("alphabetaÉté 中文 ✓")))
        << window.text().toStdString();

    // The press after the last line pastes nothing and says so.
    user().chord(kShortcut);
    EXPECT_TRUE(
        waitUntil([&] { return quillet.standardError().contains("All lines pasted!"); }, kPatience))
        << quillet.standardError().toStdString();
    EXPECT_EQ(window.text(), QStringLiteral("alphabetaÉté 中文 ✓"));

    // Byte for byte what was copied, to a RemoteDesktop client and to a GTK
    // application; and still so once the program has quit.
    const auto everyFormatIsBack = [&](const char* when) {
        for (const auto& [type, bytes] : list.formats) {
            EXPECT_EQ(user().paste(type), bytes) << when << ' ' << type.toStdString();
        }
        const auto read = window.readClipboard();
        for (const auto& format : list.formats) {
            EXPECT_NE(std::find(read.begin(), read.end(), format), read.end())
                << when << ", GTK 4 reads " << format.first.toStdString() << " otherwise";
        }
    };
    everyFormatIsBack("after the run");
    EXPECT_EQ(quillet.stop(), 0) << quillet.standardError().toStdString();
    everyFormatIsBack("after quitting");
    // Quitting takes the program's keybinding out of GNOME's settings.
    EXPECT_FALSE(runCommand(QStringLiteral("gsettings"),
                            {QStringLiteral("get"),
                             QStringLiteral("org.gnome.settings-daemon.plugins.media-keys"),
                             QStringLiteral("custom-keybindings")})
                     .output.contains("quillet"));
}

// The command may run while the user still holds the shortcut's modifiers;
// each press is one line however long they stay down.
TEST_F(GnomeTest, ModifiersHeldAfterVGiveOneLinePerPressInGtk3) {
    GtkWindow window(user(), 3);
    ASSERT_TRUE(window.started());
    QuilletProcess quillet;
    ASSERT_TRUE(start(quillet)) << quillet.standardError().toStdString();
    ASSERT_TRUE(user().copy(copied(QStringLiteral("one\ntwo\nthree\nfour\n"))));

    ASSERT_TRUE(firstPress(window, QStringLiteral("one"))) << window.text().toStdString();
    QString expected = QStringLiteral("one");
    for (const auto& [held, line] : {std::pair{20ms, "two"}, {300ms, "three"}, {2000ms, "four"}}) {
        user().chord(kShortcut, held);
        expected += QLatin1String(line);
        EXPECT_TRUE(window.waitForText(expected))
            << "held " << held.count() << " ms: " << window.text().toStdString();
    }
    EXPECT_FALSE(waitUntil([&] { return window.text() != expected; }, kStraggler))
        << window.text().toStdString();
    EXPECT_FALSE(quillet.standardError().contains("All lines pasted!"))
        << "a press ran twice: " << quillet.standardError().toStdString();
}

// BÉPO has V elsewhere and types "." on a US keyboard's V key.
TEST_F(GnomeTest, BepoStillPastes) {
    const QString sources = QStringLiteral("org.gnome.desktop.input-sources");
    GtkWindow window(user(), 4);
    ASSERT_TRUE(window.started());
    const auto layoutTypes = [&](const char* layout, const QString& onUsV) {
        runCommand(QStringLiteral("gsettings"),
                   {QStringLiteral("set"), sources, QStringLiteral("sources"),
                    QStringLiteral("[('xkb', '%1')]").arg(QLatin1String(layout))});
        const bool switched = waitUntil(
            [&] {
                window.clear();
                user().keycode(47, true);
                user().keycode(47, false);
                return window.waitForText(onUsV, 1s);
            },
            kPatience);
        window.clear();
        return switched;
    };
    const auto usAgain = qScopeGuard([&] { EXPECT_TRUE(layoutTypes("us", QStringLiteral("v"))); });
    ASSERT_TRUE(layoutTypes("fr+bepo", QStringLiteral(".")));
    QuilletProcess quillet;
    ASSERT_TRUE(start(quillet)) << quillet.standardError().toStdString();
    ASSERT_TRUE(user().copy(copied(QStringLiteral("première\nœuvre\n"))));
    EXPECT_TRUE(firstPress(window, QStringLiteral("première"))) << window.text().toStdString();
    user().chord(kShortcut);
    EXPECT_TRUE(window.waitForText(QStringLiteral("premièreœuvre"))) << window.text().toStdString();
}

// The user stops the program's remote-desktop session with the top bar's
// screen-sharing button: the next press makes a new one.
TEST_F(GnomeTest, AfterTheSessionIsStoppedFromOutsideTheNextPressWorks) {
    GtkWindow window(user(), 3);
    ASSERT_TRUE(window.started());
    QuilletProcess quillet;
    ASSERT_TRUE(start(quillet)) << quillet.standardError().toStdString();
    ASSERT_TRUE(user().copy(copied(QStringLiteral("first\nsecond\n"))));
    ASSERT_TRUE(firstPress(window, QStringLiteral("first"))) << window.text().toStdString();

    // A plain call: QDBusInterface keeps what it introspected for good.
    const QString stopSharing = QStringLiteral("org.quillet.Test.StopSharing");
    const QDBusMessage stopped = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(stopSharing, QStringLiteral("/org/quillet/Test/StopSharing"),
                                       stopSharing, QStringLiteral("Stop")));
    ASSERT_EQ(stopped.type(), QDBusMessage::ReplyMessage) << stopped.errorMessage().toStdString();
    // Ours ended too: the user's keyboard comes back as a new device.
    user_.emplace();
    ASSERT_TRUE(user().ready());
    user().chord(kShortcut);
    EXPECT_TRUE(window.waitForText(QStringLiteral("firstsecond"))) << window.text().toStdString();
    EXPECT_EQ(quillet.stop(), 0) << quillet.standardError().toStdString();
}

}  // namespace
}  // namespace quillet::gnometest
