// The real program, driven as a user would.

#include "x_harness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

class ProgramTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(target_.started());
        ASSERT_TRUE(quillet_.start()) << quillet_.error();
    }

    void pressAndExpect(const QString& expected) {
        x().chord(kDefaultChord);
        EXPECT_TRUE(target_.waitForText(expected)) << "got: " << target_.text().toStdString();
    }

    TargetWindow target_;
    Program quillet_;
};

// Processes whose /proc file (cmdline, comm) holds `part` and whose
// environment holds `setting` ("NAME=value\0").
std::vector<pid_t> processes(const QString& file, const QByteArray& part,
                             const QByteArray& setting) {
    std::vector<pid_t> found;
    for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        QFile described(u"/proc/%1/"_s.arg(pid) + file);
        QFile environment(u"/proc/%1/environ"_s.arg(pid));
        if (described.open(QIODevice::ReadOnly) && described.readAll().contains(part) &&
            environment.open(QIODevice::ReadOnly) && environment.readAll().contains(setting)) {
            found.push_back(pid.toInt());
        }
    }
    return found;
}

// Keepers of the clipboard on this display.
std::size_t keepers() {
    return processes(u"cmdline"_s, "--keep-clipboard", "DISPLAY=" + qgetenv("DISPLAY") + '\0')
        .size();
}

// The place in the list and what was copied outlive the program, and
// nothing copied is ever printed: the output may end up in a log others read.
TEST_F(ProgramTest, PastesLineByLineAcrossARestartAndNeverPrintsTheText) {
    const QString text = u"hunter2-correct\n  battery-staple  \n\nthird-secret\n"_s;
    const ClipboardContent list{text,
                                {{u"text/plain;charset=utf-8"_s, text.toUtf8()},
                                 {u"text/html"_s, "<pre>hunter2-correct</pre>"},
                                 {u"image/png"_s, QByteArray("\x89PNG\r\n\x1a\n\0\xff", 10)}}};
    ASSERT_TRUE(copy(list));
    pressAndExpect(u"hunter2-correct"_s);
    pressAndExpect(u"hunter2-correctbattery-staple"_s);
    ASSERT_TRUE(quillet_.stop()) << quillet_.error();
    for (const auto& [format, bytes] : list.formats) {
        EXPECT_EQ(clipboardData(format), bytes) << format.toStdString();
    }
    EXPECT_EQ(clipboardData(), text.toUtf8());

    // A new start on the same bus runs beside the keeper, and its first
    // paste takes the copy over: the run goes on, and the keeper ends.
    Program again(quillet_.configHome());
    again.setEnvironment(u"DBUS_SESSION_BUS_ADDRESS"_s, quillet_.busAddress());
    ASSERT_TRUE(again.start()) << again.error();
    EXPECT_FALSE(again.output().contains("cannot reach")) << again.output().toStdString();
    EXPECT_EQ(keepers(), 1U);
    pressAndExpect(u"hunter2-correctbattery-staplethird-secret"_s);
    EXPECT_TRUE(again.waitForIndex(3));
    EXPECT_TRUE(waitUntil([] { return keepers() == 0U; }, 10s));
    ASSERT_TRUE(again.stop()) << again.error();
    for (const QByteArray& output : {quillet_.output(), again.output()}) {
        for (const char* secret : {"hunter2", "battery", "third-secret"}) {
            EXPECT_FALSE(output.contains(secret)) << output.toStdString();
        }
    }
}

TEST_F(ProgramTest, QuickPressesAreNeitherLostNorMerged) {
    QByteArray text;
    QString expected;
    for (int i = 1; i <= 10; ++i) {
        text += "line" + QByteArray::number(i) + '\n';
        expected += u"line%1"_s.arg(i);
    }
    ASSERT_TRUE(copy(text));
    // Faster than a step: a paste's own Control+V meets the user's next press.
    for (int i = 0; i < 10; ++i) {
        x().chord(kDefaultChord);
        runFor(30ms);
    }
    EXPECT_TRUE(target_.waitForText(expected, 20s)) << "got: " << target_.text().toStdString();
}

TEST_F(ProgramTest, WithARunThatCannotBeWrittenPastingGoesOnAndTheUserIsToldOnce) {
    const QString folder = QFileInfo(quillet_.stateFile()).path();
    const std::optional<AppState> run = quillet_.storedRun();
    // Modes do not hold back root; the immutable flag does.
    const bool root = ::geteuid() == 0;
    const auto chattr = [&](const QString& flag) {
        return QProcess::execute(u"chattr"_s, {flag, folder}) == 0;
    };
    if (root ? !chattr(u"+i"_s) : ::chmod(QFile::encodeName(folder).constData(), 0500) != 0) {
        GTEST_SKIP() << "cannot make the state folder read-only";
    }
    const OnExit restore{
        [&] { root ? chattr(u"-i"_s) : ::chmod(QFile::encodeName(folder).constData(), 0700); }};

    ASSERT_TRUE(copy("one\ntwo\nthree\n"));
    pressAndExpect(u"one"_s);
    ASSERT_TRUE(x().closeNotice(quillet_.pid()));
    ASSERT_TRUE(target_.focus());
    pressAndExpect(u"onetwo"_s);
    pressAndExpect(u"onetwothree"_s);
    // Told once: no second notice for the later failures.
    EXPECT_FALSE(waitUntil([&] { return x().notice(quillet_.pid()).has_value(); }, 1500ms));
    EXPECT_EQ(quillet_.storedRun(), run);
}

TEST(HostileFilesTest, LinksPlantedForTheRunOrTheLockAreLeftAloneAndPastingGoesOn) {
    TargetWindow target;
    ASSERT_TRUE(target.started());
    Program quillet;
    const QString victim = quillet.configHome() + u"/victim"_s;
    const QString lock = QFileInfo(quillet.settingsFile()).path() + u"/Quillet.lock"_s;
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("the user's own");
    }
    ASSERT_EQ(::chmod(QFile::encodeName(victim).constData(), 0644), 0);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(quillet.stateFile()).path()));
    const auto pasteTwo = [&](Program& program, const QString& first) {
        ASSERT_TRUE(x().closeNotice(program.pid())) << "the refusal is told at start";
        ASSERT_TRUE(target.clear() && target.focus());
        ASSERT_TRUE(copy(first.toUtf8() + "\nsecond\n"));
        x().chord(kDefaultChord);
        EXPECT_TRUE(target.waitForText(first)) << target.text().toStdString();
        x().chord(kDefaultChord);
        EXPECT_TRUE(target.waitForText(first + u"second"_s)) << target.text().toStdString();
        EXPECT_FALSE(waitUntil([&] { return x().notice(program.pid()).has_value(); }, 1500ms))
            << "told once";
        EXPECT_TRUE(program.stop()) << program.error();
    };

    ASSERT_TRUE(QFile::link(victim, quillet.stateFile()));
    ASSERT_TRUE(quillet.start()) << quillet.error();
    pasteTwo(quillet, u"first-secret"_s);
    EXPECT_TRUE(QFileInfo(quillet.stateFile()).isSymLink());
    ASSERT_TRUE(QFile::remove(quillet.stateFile()));

    ASSERT_TRUE(QFile::remove(lock) && QFile::link(victim, lock));
    Program again(quillet.configHome());
    ASSERT_TRUE(again.start()) << again.error();
    EXPECT_TRUE(again.output().contains("cannot keep a second copy out"))
        << again.output().toStdString();
    pasteTwo(again, u"other-secret"_s);
    EXPECT_FALSE(QFile::exists(again.stateFile())) << "without the lock, no run is stored";

    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "the user's own");
    EXPECT_EQ(QFileInfo(victim).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);
}

// With no bus address and no bus to find, libdbus would start a bus of its
// own through dbus-launch, which outlives the command and the program.
TEST(NoBusTest, NeitherTheCommandNorTheProgramStartsABusThatStays) {
    const QTemporaryDir home;  // where dbus-launch would note its bus
    const QByteArray mark = "QUILLET_BUS_MARK=" + QByteArray::number(::getpid()) + '\0';
    Program quillet;
    quillet.withoutBus();
    quillet.setEnvironment(u"HOME"_s, home.path());
    quillet.setEnvironment(u"QUILLET_BUS_MARK"_s, QString::number(::getpid()));
    const Program::CommandResult status = quillet.command({u"--status"_s});
    EXPECT_EQ(status.exitCode, 1);
    EXPECT_TRUE(status.errors.contains("there is no D-Bus session bus")) << status.errors.data();
    ASSERT_TRUE(quillet.start()) << quillet.error();
    EXPECT_TRUE(quillet.output().contains("there is no D-Bus session bus"))
        << quillet.output().toStdString();
    EXPECT_TRUE(quillet.stop()) << quillet.error();
    const std::vector<pid_t> started = processes(u"comm"_s, "dbus-daemon\n", mark);
    for (const pid_t pid : started) {
        ::kill(pid, SIGTERM);
    }
    EXPECT_TRUE(started.empty()) << started.size() << " bus daemons left running";
}

// The press gives up on an owner that never answers, says so and keeps the
// run; the menu and --status work while the read waits, and quitting does
// not wait.
TEST_F(ProgramTest, AClipboardOwnerThatNeverAnswersHoldsNothingUpAndTheRunIsKept) {
    ASSERT_TRUE(copy("one\ntwo\n"));
    pressAndExpect(u"one"_s);
    // The step ends by putting the copy back, which takes the clipboard.
    ASSERT_TRUE(quillet_.waitForIndex(1));
    {
        XClient silent;
        ASSERT_TRUE(silent.takeClipboard());
        x().chord(kDefaultChord);
        ASSERT_TRUE(waitUntil([&] { return silent.clipboardRequested(); }, 10s));
        // Where the run stands while the press waits, within a second.
        EXPECT_EQ(quillet_.command({u"--status"_s}, 1s).output, "2 of 2 · next: two\n");
        EXPECT_TRUE(x().openTrayMenu(quillet_.pid(), u"Paste"_s));
        EXPECT_TRUE(silent.clipboardRequested()) << "the menu opened only after the read ended";
        x().chord({"Escape"});
        ASSERT_TRUE(waitUntil([] { return !x().keyboardGrabbed(); }, 5s));
        ASSERT_TRUE(x().closeNotice(quillet_.pid(), 60s));
        ASSERT_TRUE(target_.focus());
    }
    ASSERT_TRUE(copy("one\ntwo\n"));
    pressAndExpect(u"onetwo"_s);
    ASSERT_TRUE(quillet_.waitForIndex(2));

    XClient silent;
    ASSERT_TRUE(silent.takeClipboard());
    x().chord(kDefaultChord);
    ASSERT_TRUE(waitUntil([&] { return silent.clipboardRequested(); }, 10s));
    EXPECT_TRUE(quillet_.stop()) << quillet_.error();
    EXPECT_EQ(quillet_.storedIndex(), 2);
}

TEST_F(ProgramTest, AHundredMegabyteCopyPastesItsFirstLineAndIsStored) {
    QByteArray big;
    big.reserve(100 * 1024 * 1024 + 64);
    for (int i = 0; big.size() < 100 * 1024 * 1024; ++i) {
        big += "row " + QByteArray::number(i).rightJustified(9, '0') + " of a very large copy\n";
    }
    ASSERT_TRUE(copy(big));
    x().chord(kDefaultChord);
    EXPECT_TRUE(target_.waitForText(u"row 000000000 of a very large copy"_s, 180s))
        << target_.text().left(200).toStdString();
    // The run is stored with the whole copy as its source.
    EXPECT_TRUE(
        waitUntil([&] { return QFileInfo(quillet_.stateFile()).size() > big.size(); }, 180s));
    EXPECT_EQ(quillet_.storedIndex(), 1);
}

TEST(ProgramMovesTest, MoveShortcutsMoveTheRunAndThePasteStillPastes) {
    const SessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    TargetWindow target;
    ASSERT_TRUE(target.started());
    Program quillet;
    // ⌃⌥⌘B goes back, ⌃⌥⌘N skips.
    quillet.store({{u"backHotkeyCode"_s, 0x0B},
                   {u"backHotkeyModifiers"_s, 1835008},
                   {u"skipHotkeyCode"_s, 0x2D},
                   {u"skipHotkeyModifiers"_s, 1835008}});
    quillet.setEnvironment(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
    ASSERT_TRUE(quillet.start()) << quillet.error();
    const auto statusBecomes = [&](const QString& expected) {
        QString status;
        if (waitUntil(
                [&] {
                    status = QString::fromUtf8(quillet.command({u"--status"_s}).output).trimmed();
                    return status == expected;
                },
                10s)) {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << "status: " << status.toStdString();
    };
    const std::vector<std::string> back{"Control_L", "Alt_L", "Super_L", "b"};

    ASSERT_TRUE(copy("a\nb\nc\n"));
    x().chord(kDefaultChord);
    ASSERT_TRUE(target.waitForText(u"a"_s)) << target.text().toStdString();
    x().chord({"Control_L", "Alt_L", "Super_L", "n"});
    EXPECT_TRUE(statusBecomes(u"3 of 3 · next: c"_s));
    x().chord(back);
    x().chord(back);
    EXPECT_TRUE(statusBecomes(u"1 of 3 · next: a"_s));
    x().chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"aa"_s)) << target.text().toStdString();
    EXPECT_TRUE(statusBecomes(u"2 of 3 · next: b"_s));
    EXPECT_FALSE(quillet.output().contains("registration failed"))
        << quillet.output().toStdString();
}

TEST(ProgramStartTest, AShortcutHeldByAnotherProgramIsReportedAndItRunsOn) {
    XClient other;
    ASSERT_TRUE(other.grabKey(kDefaultChordMask, "v"));
    Program quillet;
    ASSERT_TRUE(quillet.launch());
    EXPECT_TRUE(quillet.waitForOutput("Hotkey registration failed\n"))
        << quillet.output().toStdString();
    EXPECT_TRUE(quillet.running());
    EXPECT_TRUE(quillet.stop()) << quillet.error();
}

TEST(ProgramStartTest, ASecondCopyStepsAside) {
    Program first;
    ASSERT_TRUE(first.start()) << first.error();
    Program second(first.configHome());
    ASSERT_TRUE(second.launch());
    ASSERT_TRUE(second.waitForExit());
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.output().contains("already running"));
    EXPECT_TRUE(first.running());
}

// SIGTERM, SIGINT and Quit end it at once whatever it shows: a notice, About,
// the list, the shortcut dialog. Qt's quit asks each window to close first,
// and one may refuse.
TEST(ProgramStartTest, SignalsAndQuitEndItWhateverWindowShows) {
    TargetWindow target;
    ASSERT_TRUE(target.started());
    const auto notice = [&](Program& quillet) {
        x().chord(kDefaultChord);  // the list is pasted: "All lines pasted!"
        return waitUntil([&] { return x().notice(quillet.pid()).has_value(); }, 10s);
    };
    // From the bottom of the menu: Quit, About, ..., Show List past the greyed usage row.
    const auto fromMenu = [](int up, const QString& title) {
        return [up, title](Program& quillet) {
            std::vector<std::string> keys(static_cast<std::size_t>(up), "Up");
            keys.emplace_back("Return");
            EXPECT_TRUE(x().openTrayMenu(quillet.pid(), u"Paste"_s));
            for (const std::string& key : keys) {
                x().chord({key});
            }
            return x().waitForWindow(quillet.pid(), title).has_value();
        };
    };
    const struct {
        const char* name;
        std::function<bool(Program&)> show;
        bool firstRun = false;
        bool modal = false;  // keeps the menu shut: no Quit to choose
    } windows[] = {
        {"a notice", notice},
        {"About", fromMenu(2, u"About Quillet"_s), false, true},
        {"the list", fromMenu(7, u"Quillet — List"_s)},
        {"the first run's shortcut dialog",
         [](Program& quillet) {
             return x().waitForWindow(quillet.pid(), u"Set Shortcut"_s).has_value();
         },
         true, true},
    };
    const struct {
        const char* name;
        std::function<void(Program&)> end;
        bool fromMenu = false;
    } ways[] = {
        {"SIGTERM", [](Program& quillet) { ::kill(static_cast<pid_t>(quillet.pid()), SIGTERM); }},
        {"SIGINT", [](Program& quillet) { ::kill(static_cast<pid_t>(quillet.pid()), SIGINT); }},
        {"Quit",
         [](Program& quillet) {
             ASSERT_TRUE(x().openTrayMenu(quillet.pid(), u"Paste"_s));
             x().chord({"Up"});
             x().chord({"Return"});
         },
         true},
    };
    for (const auto& window : windows) {
        for (const auto& way : ways) {
            if (way.fromMenu && window.modal) {
                continue;
            }
            SCOPED_TRACE(std::string(window.name) + ", " + way.name);
            Program quillet(QString(), !window.firstRun);
            ASSERT_TRUE(quillet.start()) << quillet.error();
            if (!window.firstRun) {
                ASSERT_TRUE(copy("only\n"));
                ASSERT_TRUE(target.focus());
                x().chord(kDefaultChord);
                ASSERT_TRUE(target.waitForText(u"only"_s));
            }
            ASSERT_TRUE(window.show(quillet));
            way.end(quillet);
            EXPECT_TRUE(quillet.waitForExit()) << quillet.stacks();
            EXPECT_EQ(quillet.exitCode(), 0);
            target.clear();
        }
    }
}

TEST(ProgramStartTest, WithoutADisplayItExitsWithAMessage) {
    Program quillet;
    quillet.setEnvironment(u"DISPLAY"_s, QString());
    ASSERT_TRUE(quillet.launch());
    ASSERT_TRUE(quillet.waitForExit());
    EXPECT_EQ(quillet.exitCode(), 1);
    EXPECT_TRUE(quillet.output().contains("cannot connect to the X display"));
}

}  // namespace
}  // namespace quillet::harness
