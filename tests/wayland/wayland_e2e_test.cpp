// The real program on headless sway, driven as a user would.

#include "core/app_state.h"
#include "wayland_harness.h"

#include "platform/wayland/paste_keystroke_wayland.h"
#include "platform/wayland/session.h"

#include <QCoreApplication>
#include <QFile>

#include <optional>

#include <gtest/gtest.h>

namespace quillet::wlharness {
namespace {

using namespace Qt::StringLiterals;

// A 1x1 PNG: bytes no text conversion would leave alone.
const QByteArray kPng = QByteArray::fromBase64(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5Erk"
    "Jggg==");

ClipboardContent copied(const QString& text) {
    return {text,
            {{QStringLiteral("text/plain;charset=utf-8"), text.toUtf8()},
             {QStringLiteral("text/html"), "<ol><li>" + text.toUtf8() + "</li></ol>"},
             {QStringLiteral("image/png"), kPng}}};
}

// Made only on a compositor of the test script's: they bind keys in sway.
struct Session {
    Desktop desktop;
    PasteNextBinding binding;
    KeyDriver keys;
};

class SwayTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_COMPOSITOR();
        session_.emplace();
        ASSERT_TRUE(session_->binding.bound()) << "swaymsg could not bind " << kBinding;
        ASSERT_TRUE(session_->keys.ready());
    }

    Desktop& desktop() { return session_->desktop; }
    KeyDriver& keys() { return session_->keys; }

    std::optional<Session> session_;
};

TEST_F(SwayTest, TheBindingPastesLineByLineAndEveryFormatComesBack) {
    TargetWindow target(desktop());
    ASSERT_TRUE(target.started());
    QuilletProcess quillet;
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    const ClipboardContent list = copied(QStringLiteral("alpha\n\n   beta  \n中文 gamma\n"));
    ASSERT_TRUE(desktop().copy(list));

    keys().chord(kBindingKeys);
    EXPECT_TRUE(target.waitForText(QStringLiteral("alpha"))) << target.text().toStdString();
    // Still held while the line goes out: the target sees our keyboard's
    // Control+V, not the user's keys mixed in.
    keys().chord(kBindingKeys, 600ms);
    EXPECT_TRUE(target.waitForText(QStringLiteral("alphabeta"))) << target.text().toStdString();
    keys().chord(kBindingKeys);
    EXPECT_TRUE(target.waitForText(QStringLiteral("alphabeta中文 gamma")))
        << target.text().toStdString();

    // The fourth press pastes nothing and says that all lines are pasted:
    // with no notification service, on the terminal, since a window would
    // take the focus.
    keys().chord(kBindingKeys);
    EXPECT_TRUE(
        waitUntil([&] { return quillet.standardError().contains("All lines pasted!"); }, 5s))
        << quillet.standardError().toStdString();
    EXPECT_EQ(target.text(), QStringLiteral("alphabeta中文 gamma"));
    EXPECT_EQ(desktop().activeAppId(), QStringLiteral("quillet-target")) << "the notice took focus";

    // What another program now gets, byte for byte, in every format; and
    // still after the program quit.
    const auto everyFormatIsBack = [&] {
        for (const auto& [type, bytes] : list.formats) {
            EXPECT_EQ(desktop().paste(type), bytes) << type.toStdString();
        }
    };
    everyFormatIsBack();
    EXPECT_EQ(quillet.stop(), 0) << quillet.standardError().toStdString();
    everyFormatIsBack();
}

// Text that is not valid UTF-8 and starts with a byte-order mark, copied by
// wl-copy: a press pastes its line and puts back every byte.
TEST_F(SwayTest, OddTextComesBackByteForByte) {
    TargetWindow target(desktop());
    ASSERT_TRUE(target.started());
    QuilletProcess quillet;
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    const QByteArray odd =
        "\xef\xbb\xbf"
        "first \xff\xfe\xc3(\nsecond \xed\xa0\x80\n";
    QProcess wlCopy;
    wlCopy.start(u"wl-copy"_s, {u"--type"_s, u"text/plain"_s});
    wlCopy.write(odd);
    wlCopy.closeWriteChannel();
    ASSERT_TRUE(wlCopy.waitForFinished(10'000));
    ASSERT_TRUE(waitUntil([&] { return desktop().paste(u"text/plain"_s) == odd; }, 5s));

    EXPECT_EQ(runCommand(QStringLiteral(QUILLET_BIN), {u"--paste-next"_s}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return target.text().contains(u"first"_s); }, 5s))
        << target.text().toStdString();
    // TEXT and STRING, the X names, Xwayland makes anew from these.
    for (const QString& type : {u"text/plain"_s, u"text/plain;charset=utf-8"_s, u"UTF8_STRING"_s}) {
        EXPECT_TRUE(waitUntil([&] { return desktop().paste(type) == odd; }, 5s))
            << type.toStdString() << ": " << desktop().paste(type).toHex(' ').toStdString();
    }
    EXPECT_EQ(quillet.stop(), 0);
}

TEST_F(SwayTest, InDvorakEachApplicationGetsTheLineItsWay) {
    // V sits on another key than on a US keyboard.
    KeyDriver dvorak("us", "dvorak");
    ASSERT_TRUE(dvorak.ready());
    TargetWindow typist(desktop(), QStringLiteral("quillet-typist"));
    TargetWindow terminal(desktop(), QStringLiteral("quillet-terminal"),
                          TargetWindow::Paste::Terminal);
    TargetWindow target(desktop());
    ASSERT_TRUE(typist.started() && terminal.started() && target.started());
    QuilletProcess quillet({QStringLiteral("pasteByTyping=quillet-typist"),
                            QStringLiteral("pasteWithControlShiftV=quillet-terminal")});
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    const QString typed = QStringLiteral("Zwölf 中文 ½ tab\there");
    ASSERT_TRUE(desktop().copy(copied(QStringLiteral("first\nsecond\n") + typed + u'\n')));

    dvorak.chord(kBindingKeys);
    EXPECT_TRUE(target.waitForText(QStringLiteral("first"))) << target.text().toStdString();
    ASSERT_TRUE(terminal.focus());
    dvorak.chord(kBindingKeys);
    EXPECT_TRUE(terminal.waitForText(QStringLiteral("second"))) << terminal.text().toStdString();
    // Every character, none of which the keyboard's layout needs to have.
    ASSERT_TRUE(typist.focus());
    dvorak.chord(kBindingKeys);
    EXPECT_TRUE(typist.waitForText(typed)) << typist.text().toStdString();
    EXPECT_EQ(quillet.stop(), 0) << quillet.standardError().toStdString();
}

// Paste Cells: three rows of four cells, one empty and one quoted with a tab
// inside, fill a form of four fields once per row (Enter sends it).
TEST_F(SwayTest, PasteCellsFillsAFormOfFourFieldsRowByRow) {
    TargetWindow form(desktop(), u"quillet-form"_s, TargetWindow::Paste::ControlV,
                      TargetWindow::Shell::Wayland, 4);
    ASSERT_TRUE(form.started());
    QuilletProcess quillet(
        {QStringLiteral("pasteCells=true"), QStringLiteral("afterEachLine=enter")});
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    ASSERT_TRUE(desktop().copy(copied(QStringLiteral(
        "Ada Lovelace\tLondon\tUnited Kingdom\t1815\nGrace Hopper\tNew York\t\t1906\n"
        "Alan Turing\t\"Maida Vale\tLondon\"\tUnited Kingdom\t1912\n"))));
    QFile state(quillet.stateFile());
    for (int cell = 1; cell <= 12; ++cell) {
        keys().chord(kBindingKeys);
        ASSERT_TRUE(waitUntil(
            [&] {
                state.close();
                const auto run = state.open(QIODevice::ReadOnly) ? decodeAppState(state.readAll())
                                                                 : std::nullopt;
                return run && run->currentIndex == cell;
            },
            10s))
            << cell;
    }
    EXPECT_TRUE(form.waitForText(
        QStringLiteral("Ada Lovelace|London|United Kingdom|1815\nGrace Hopper|New York||1906\n"
                       "Alan Turing|Maida Vale\tLondon|United Kingdom|1912\n")))
        << form.text().toStdString();
    EXPECT_EQ(quillet.stop(), 0) << quillet.standardError().toStdString();
}

TEST_F(SwayTest, GtkAndX11WindowsGetEveryLineExactWithEnterAfterIt) {
    // GTK 3 on Wayland; it saves what it got on Control+S.
    AppWindow gtk(desktop(), QStringLiteral("mousepad"), {QStringLiteral("mousepad"), u"%file"_s},
                  {u"GDK_BACKEND=wayland"_s, u"GSETTINGS_BACKEND=memory"_s, u"NO_AT_BRIDGE=1"_s});
    ASSERT_TRUE(gtk.started());
    QuilletProcess quillet({QStringLiteral("afterEachLine=enter")});
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    const QString typed = QStringLiteral("Zwölf ½ 中文\there");
    ASSERT_TRUE(desktop().copy(copied(u"first ½\n  second\n"_s + typed + u"\nfourth\n"_s)));
    keys().chord(kBindingKeys);
    keys().chord(kBindingKeys);
    const QByteArray gtkText = "first \xc2\xbd\nsecond\n";
    EXPECT_TRUE(waitUntil(
        [&] {
            keys().chord({"Control_L", "s"});
            return waitUntil([&] { return gtk.file() == gtkText; }, 1s);
        },
        20s))
        << gtk.file().toStdString();

    // X11 windows through Xwayland: xterm gets the line typed, every
    // character and the Return as they are, though the binding's keys go up
    // only after the line went out.
    AppWindow xterm(
        desktop(), QStringLiteral("XTerm"),
        {u"xterm"_s, u"-e"_s, u"sh"_s, u"-c"_s, u"stty -icanon -echo; exec cat >%file"_s});
    ASSERT_TRUE(xterm.started());
    keys().chord(kBindingKeys);
    EXPECT_TRUE(waitUntil([&] { return xterm.file() == typed.toUtf8() + '\n'; }, 10s))
        << xterm.file().toStdString();
    TargetWindow qt(desktop(), u"quillet-x11"_s, TargetWindow::Paste::ControlV,
                    TargetWindow::Shell::Xwayland);
    ASSERT_TRUE(qt.started());
    // Held while the line goes out: Xwayland holds the user's keys too.
    keys().chord(kBindingKeys, 600ms);
    EXPECT_TRUE(qt.waitForText(u"fourth\n"_s)) << qt.text().toStdString();
    EXPECT_EQ(quillet.stop(), 0) << quillet.standardError().toStdString();
}

TEST_F(SwayTest, ShiftInsertPastesIntoWaylandAndX11Windows) {
    PasteKeystrokeWayland keystroke(wayland::Session::connect());
    ASSERT_TRUE(keystroke.available());
    for (const auto shell : {TargetWindow::Shell::Wayland, TargetWindow::Shell::Xwayland}) {
        SCOPED_TRACE(shell == TargetWindow::Shell::Wayland ? "Wayland" : "Xwayland");
        // Like Emacs: Control+V does something else.
        TargetWindow emacs(desktop(), u"quillet-emacs"_s, TargetWindow::Paste::ShiftInsert, shell);
        ASSERT_TRUE(emacs.started());
        ASSERT_TRUE(desktop().copy(copied(u"yanked"_s)));
        EXPECT_TRUE(keystroke.postPasteChord(PasteMethod::ShiftInsert));
        EXPECT_TRUE(emacs.waitForText(u"yanked"_s)) << emacs.text().toStdString();
    }
}

// The shortcut dialog reads keys on Wayland, where KDE's portal offers it:
// the A key, a digit under Shift, and Control+C refused (Super+C is not).
TEST_F(SwayTest, TheShortcutDialogReadsTheKeysPressed) {
    AppWindow dialog(desktop(), QStringLiteral("quillet-capture"),
                     {QStringLiteral(QUILLET_WL_CAPTURE_BIN), QStringLiteral("%file")});
    ASSERT_TRUE(dialog.started());
    const auto showed = [&](const QByteArray& line) {
        return waitUntil([&] { return dialog.file().split('\n').contains(line); }, 5s)
                   ? testing::AssertionSuccess()
                   : testing::AssertionFailure() << dialog.file().toStdString();
    };
    keys().chord({"Control_L", "Alt_L", "a"});
    EXPECT_TRUE(showed("⌃⌥A|1"));
    keys().chord({"Control_L", "Shift_L", "1"});
    EXPECT_TRUE(showed("⌃⇧1|1"));
    keys().chord({"Control_L", "c"});
    EXPECT_TRUE(showed("⌃C (Copy disabled)|0"));
    keys().chord({"Super_L", "c"});
    EXPECT_TRUE(showed("⌘C|1"));
}

TEST_F(SwayTest, TheCommandSaysWhenNoCopyRunsAndACallOnTheBusPastes) {
    const QString quilletBin = QStringLiteral(QUILLET_BIN);
    const Ran alone = runCommand(quilletBin, {QStringLiteral("--paste-next")});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_TRUE(alone.output.contains("Quillet is not running")) << alone.output.toStdString();
    const QString noBus = QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent");
    const Ran busless = runCommand(quilletBin, {QStringLiteral("--paste-next")}, {noBus});
    EXPECT_EQ(busless.exitCode, 1);
    EXPECT_TRUE(busless.output.contains("no D-Bus session bus")) << busless.output.toStdString();

    TargetWindow target(desktop());
    ASSERT_TRUE(target.started());
    QuilletProcess quillet;
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    ASSERT_TRUE(desktop().copy(copied(QStringLiteral("first\nsecond\n"))));
    const Ran call =
        runCommand(QStringLiteral("gdbus"),
                   {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("-d"),
                    QStringLiteral("org.tarnwick.Quillet"), QStringLiteral("-o"),
                    QStringLiteral("/org/tarnwick/Quillet"), QStringLiteral("-m"),
                    QStringLiteral("org.tarnwick.Quillet.PasteNext")});
    EXPECT_EQ(call.exitCode, 0) << call.output.toStdString();
    EXPECT_TRUE(target.waitForText(QStringLiteral("first"))) << target.text().toStdString();

    // A copy without a bus says so and runs on, the running one keeps the name.
    QuilletProcess withoutBus({}, {noBus});
    ASSERT_TRUE(withoutBus.start()) << withoutBus.standardError().toStdString();
    EXPECT_TRUE(
        withoutBus.standardError().contains("--paste-next cannot reach this copy: there is "
                                            "no D-Bus session bus"))
        << withoutBus.standardError().toStdString();
    EXPECT_EQ(runCommand(quilletBin, {QStringLiteral("--paste-next")}).exitCode, 0);
    EXPECT_TRUE(target.waitForText(QStringLiteral("firstsecond"))) << target.text().toStdString();

    // Moves from the command line; the status follows each (it answers at
    // the latest after half a second, so a slow step may not count yet).
    ASSERT_TRUE(desktop().copy(copied(QStringLiteral("first\nsecond\nthird\n"))));
    const struct {
        const char* option;
        QByteArray status;
    } moves[] = {
        // The run stands until a press reads the new text.
        {"--status", "All 2 lines pasted\n"},    {"--paste-next", "2 of 3 · next: second\n"},
        {"--skip", "3 of 3 · next: third\n"},    {"--skip", "All 3 lines pasted\n"},
        {"--back", "3 of 3 · next: third\n"},    {"--back", "2 of 3 · next: second\n"},
        {"--restart", "1 of 3 · next: first\n"}, {"--back", "1 of 3 · next: first\n"},
        {"--skip", "2 of 3 · next: second\n"},   {"--paste-next", "3 of 3 · next: third\n"},
    };
    for (const auto& move : moves) {
        SCOPED_TRACE(move.option);
        EXPECT_EQ(runCommand(quilletBin, {QString::fromLatin1(move.option)}).exitCode, 0);
        QByteArray status;
        EXPECT_TRUE(waitUntil(
            [&] {
                return (status = runCommand(quilletBin, {QStringLiteral("--status")}).output) ==
                       move.status;
            },
            10s))
            << status.toStdString();
    }
    EXPECT_TRUE(target.waitForText(QStringLiteral("firstsecondfirstsecond")))
        << target.text().toStdString();
    EXPECT_EQ(quillet.stop(), 0);
}

}  // namespace
}  // namespace quillet::wlharness

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
