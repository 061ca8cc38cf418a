// The real program under faults: killed mid-run, damaged or unwritable
// settings, a broken X session, and what it must never reveal.

#include "paste/app_state.h"
#include "platform/clipboard_x11.h"
#include "x_session.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <random>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace quillet::e2e {
namespace {

using namespace Qt::StringLiterals;

// A numbered list whose pasted lines can be told apart when run together.
QByteArray numberedList(int count) {
    QByteArray text;
    for (int i = 1; i <= count; ++i) {
        text += QStringLiteral("<%1>\n").arg(i, 4, 10, QLatin1Char('0')).toUtf8();
    }
    return text;
}

// The line numbers in the target's text; none when it holds anything else.
std::optional<std::vector<int>> pastedNumbers(const QString& text) {
    static const QRegularExpression whole(u"^(<\\d{4}>)*$"_s);
    if (!whole.match(text).hasMatch()) {
        return std::nullopt;
    }
    std::vector<int> numbers;
    static const QRegularExpression one(u"<(\\d{4})>"_s);
    for (auto it = one.globalMatch(text); it.hasNext();) {
        numbers.push_back(it.next().captured(1).toInt());
    }
    return numbers;
}

struct StoredRun {
    bool readable = false;  // the file parses and any run in it decodes
    std::optional<AppState> run;
};

StoredRun readStoredRun(const QString& file) {
    const QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        return {};
    }
    const QVariant value = settings.value(QString::fromUtf16(kAppStateKey));
    if (!value.isValid()) {
        return {true, std::nullopt};
    }
    std::optional<AppState> run = decodeAppState(value.toByteArray());
    return {run.has_value(), run};
}

// Waits until the window's text has not changed for a while: a paste the
// program posted just before it died may still arrive.
QString settledText(const TargetWindow& target) {
    QString last = target.text();
    QElapsedTimer quiet;
    quiet.start();
    waitUntil(
        [&] {
            const QString now = target.text();
            if (now != last) {
                last = now;
                quiet.restart();
            }
            return quiet.elapsed() >= 300;
        },
        10s);
    return last;
}

int fileMode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0
               ? static_cast<int>(info.st_mode & 07777)
               : -1;
}

bool waitForStoredShortcut(const QuilletProcess& quillet) {
    return waitUntil(
        [&] {
            return quillet.stored(u"hotkeyCode"_s).toString() == u"9"_s &&
                   quillet.stored(u"hotkeyModifiers"_s).toString() == u"1835008"_s;
        },
        10s);
}

// Crash consistency ---------------------------------------------------------

TEST(CrashConsistencyTest, KillsAtRandomMomentsLoseNoLine) {
    QUILLET_REQUIRE_DISPLAY();
    constexpr int kRounds = 100;
    // Bounds the whole test well inside its time limit on a slow machine.
    constexpr qint64 kBudgetMs = 200'000;
    const QByteArray list = numberedList(1000);

    TargetWindow target;
    ASSERT_TRUE(target.started());
    KeyDriver keys;
    QTemporaryDir config;
    const QString settingsFile = config.path() + u"/tarnwick/Quillet.conf"_s;

    // Reads the settings file all along: a reader must never find it half written.
    std::atomic<bool> reading = true;
    std::atomic<int> reads = 0;
    std::atomic<int> unreadable = 0;
    std::thread reader([&] {
        while (reading) {
            if (QFile::exists(settingsFile)) {
                ++reads;
                if (!readStoredRun(settingsFile).readable) {
                    ++unreadable;
                }
            }
            std::this_thread::sleep_for(3ms);
        }
    });

    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> killAfter(0, 600);
    std::uniform_int_distribution<int> pressCount(1, 4);
    QElapsedTimer total;
    total.start();
    int kills = 0;
    int duplicates = 0;
    int lost = 0;
    std::vector<int> pasted;

    // Every number is the one before it (offered again after a kill) or the next.
    const auto checkSequence = [&](const std::vector<int>& numbers) {
        duplicates = 0;
        lost = 0;
        int previous = 0;
        for (const int n : numbers) {
            if (n == previous) {
                ++duplicates;
            } else if (n != previous + 1) {
                lost += n > previous ? n - previous - 1 : 1;
            }
            previous = n;
        }
    };

    for (int round = 0; round < kRounds && total.elapsed() < kBudgetMs; ++round) {
        QuilletProcess quillet(config.path());
        ASSERT_TRUE(quillet.start())
            << "round " << round << ": " << quillet.standardError().toStdString();
        const StoredRun before = readStoredRun(settingsFile);
        ASSERT_TRUE(before.readable) << "round " << round;
        // The program that served the clipboard may be the one that died.
        xclipWrite(list);
        target.focus();

        const int killAt = killAfter(random);
        const int presses = pressCount(random);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < presses && clock.elapsed() < killAt; ++i) {
            keys.chord(kDefaultChord);
            const qint64 next = clock.elapsed() + 40;
            waitUntil([&] { return clock.elapsed() >= next; }, 1s);
        }
        waitUntil([&] { return clock.elapsed() >= killAt; }, 1s);
        ::kill(static_cast<pid_t>(quillet.pid()), SIGKILL);
        ASSERT_TRUE(quillet.process().waitForFinished(5000));
        ++kills;
        // A paste chord cut short may leave its keys down on the server.
        keys.up("v");
        keys.up("Control_L");

        const auto numbers = pastedNumbers(settledText(target));
        ASSERT_TRUE(numbers) << "round " << round
                             << ": foreign text: " << target.text().toStdString();
        pasted = *numbers;
        checkSequence(pasted);
        ASSERT_EQ(lost, 0) << "round " << round << ": " << target.text().toStdString();

        // The stored cursor is at the next line, or at the one in flight when it died.
        const StoredRun after = readStoredRun(settingsFile);
        ASSERT_TRUE(after.readable) << "round " << round;
        const qint64 reached = pasted.empty() ? 0 : pasted.back();
        const qint64 cursor = after.run ? after.run->currentIndex : 0;
        EXPECT_TRUE(cursor == reached || cursor == reached - 1)
            << "round " << round << ": cursor " << cursor << " after line " << reached;
    }
    reading = false;
    reader.join();

    const QStringList leftovers =
        QDir(config.path() + u"/tarnwick"_s).entryList({u"Quillet.conf.*"_s}, QDir::Files);
    std::cout << "[ figures  ] kills survived: " << kills << ", lines pasted: " << pasted.size()
              << ", lines lost: " << lost << ", duplicates: " << duplicates
              << ", file reads while running: " << reads.load()
              << ", unreadable reads: " << unreadable.load()
              << ", leftover files: " << leftovers.join(u' ').toStdString() << std::endl;
    EXPECT_EQ(unreadable.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_GE(kills, 50);
    EXPECT_GT(pasted.size(), static_cast<std::size_t>(kills / 2));

    // One clean press after all that carries on from the stored cursor.
    QuilletProcess quillet(config.path());
    ASSERT_TRUE(quillet.start());
    xclipWrite(list);
    target.focus();
    const QString before = settledText(target);
    keys.chord(kDefaultChord);
    EXPECT_TRUE(waitUntil([&] { return target.text() != before; }, 20s))
        << "stderr: " << quillet.standardError().toStdString()
        << "\nstdout: " << quillet.standardOutput().toStdString()
        << "\nfocus: " << focusedWindow().toStdString() << "\nstored: "
        << quillet.stored(QString::fromUtf16(kAppStateKey)).toByteArray().left(200).toStdString();
    const auto numbers = pastedNumbers(settledText(target));
    ASSERT_TRUE(numbers);
    checkSequence(*numbers);
    EXPECT_EQ(lost, 0);
    EXPECT_GT(numbers->size(), pasted.size());
}

// Bad settings --------------------------------------------------------------

struct BadSettings {
    const char* name;
    QByteArray content;
    // Without a usable shortcut the program starts as on a first run.
    bool shortcutDialog;
    bool setAside;  // the file cannot be parsed at all
};

class BadSettingsTest : public testing::TestWithParam<BadSettings> {};

TEST_P(BadSettingsTest, StartsWithDefaultsAndTheNextSaveRepairsTheFile) {
    QUILLET_REQUIRE_DISPLAY();
    const QPoint cancel = GetParam().shortcutDialog ? captureDialogButtons().cancel : QPoint();
    TargetWindow target;
    ASSERT_TRUE(target.started());
    KeyDriver keys;
    QTemporaryDir config;
    const QString folder = config.path() + u"/tarnwick"_s;
    QDir().mkpath(folder);
    {
        QFile file(folder + u"/Quillet.conf"_s);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(GetParam().content);
    }

    QuilletProcess quillet(config.path());
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    EXPECT_TRUE(waitForStoredShortcut(quillet)) << quillet.standardError().toStdString();
    if (GetParam().shortcutDialog) {
        std::optional<XWindow> dialog;
        ASSERT_TRUE(waitUntil(
            [&] {
                dialog = windowNamed(quillet.pid(), u"Set Shortcut"_s);
                return dialog && focusedWindow() == dialog->id;
            },
            10s));
        clickAt(dialog->geometry.bottomRight() - cancel);
        ASSERT_TRUE(waitUntil([&] { return !windowNamed(quillet.pid(), u"Set Shortcut"_s); }, 10s));
        target.focus();
    }
    const QStringList aside = QDir(folder).entryList({u"Quillet.conf.bad-*"_s}, QDir::Files);
    if (GetParam().setAside) {
        ASSERT_EQ(aside.size(), 1);
        QFile kept(folder + u'/' + aside.front());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), GetParam().content);
        EXPECT_TRUE(quillet.standardError().contains("could not be read"));
    } else {
        EXPECT_TRUE(aside.isEmpty());
    }

    // The stored run, whatever it was, does not count: a fresh copy starts a fresh run.
    xclipWrite("alpha\nbeta\n");
    keys.chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"alpha"_s)) << target.text().toStdString();
    EXPECT_TRUE(waitUntil(
        [&] {
            const StoredRun stored = readStoredRun(quillet.settingsFile());
            return stored.run && stored.run->currentIndex == 1;
        },
        10s));
    EXPECT_TRUE(waitForStoredShortcut(quillet));
    // "auto" is what an unknown language reads as: the menu and notices speak English.
    EXPECT_EQ(quillet.stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, BadSettingsTest,
    testing::Values(
        BadSettings{"Garbage", QByteArray("\x01\x02\xff\xfe[[[\x00\x7f=\n==\n\\", 15), true, true},
        BadSettings{"Truncated",
                    "[General]\nhotkeyCode=9\nhotkeyModifiers=1835008\nappState=@ByteArray({\"li",
                    false, false},
        BadSettings{"CutInAKey", "[General]\nhotkeyCode=9\nhotkeyMod", true, true},
        BadSettings{"NegativeCode", "[General]\nhotkeyCode=-9\nhotkeyModifiers=1835008\n", true,
                    false},
        BadSettings{"HugeCode", "[General]\nhotkeyCode=4294967305\nhotkeyModifiers=1835008\n", true,
                    false},
        BadSettings{"TextCode", "[General]\nhotkeyCode=vee\nhotkeyModifiers=1835008\n", true,
                    false},
        BadSettings{"NegativeModifiers", "[General]\nhotkeyCode=9\nhotkeyModifiers=-1\n", true,
                    false},
        BadSettings{"UnknownLanguageAndBadRun",
                    "[General]\nhotkeyCode=9\nhotkeyModifiers=1835008\nappLanguage=tlh\n"
                    "appState=@ByteArray({\"lines\":7,\"currentIndex\":-1})\n",
                    false, false}),
    [](const testing::TestParamInfo<BadSettings>& info) { return std::string(info.param.name); });

// A settings folder that cannot be written ---------------------------------

TEST(UnwritableSettingsTest, PastingGoesOnAndTheUserIsToldOnce) {
    QUILLET_REQUIRE_DISPLAY();
    TargetWindow target;
    ASSERT_TRUE(target.started());
    KeyDriver keys;
    QuilletProcess quillet;
    ASSERT_TRUE(quillet.start());
    const QString folder = QFileInfo(quillet.settingsFile()).absolutePath();
    const QByteArray before = [&] {
        QFile file(quillet.settingsFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    // Modes do not hold back root; the immutable flag does.
    const bool root = ::geteuid() == 0;
    const auto chattr = [&](const char* flag) {
        return QProcess::execute(u"chattr"_s, {QString::fromLatin1(flag), folder}) == 0;
    };
    if (root) {
        if (!chattr("+i")) {
            GTEST_SKIP() << "cannot make the folder read-only as root (chattr +i)";
        }
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), S_IRUSR | S_IXUSR), 0);
    }
    struct Restore {
        std::function<void()> undo;
        ~Restore() { undo(); }
    } restore{[&] {
        if (root) {
            chattr("-i");
        } else {
            ::chmod(QFile::encodeName(folder).constData(), S_IRWXU);
        }
    }};

    xclipWrite("one\ntwo\nthree\nfour\n");
    target.focus();
    keys.chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"one"_s)) << target.text().toStdString();
    ASSERT_TRUE(closeNotice(quillet.pid(), keys, target));

    keys.chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"onetwo"_s)) << target.text().toStdString();
    keys.chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"onetwothree"_s)) << target.text().toStdString();
    // Told once: no second notice for the later failures.
    EXPECT_FALSE(waitUntil([&] { return notice(quillet.pid()).has_value(); }, 1500ms));

    QFile file(quillet.settingsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(quillet.stop(), 0);
}

// Environment faults --------------------------------------------------------

// A virtual X server of the test's own, which it can take away.
class PrivateXServer {
public:
    PrivateXServer() {
        server_.setProgram(u"Xvfb"_s);
        server_.setArguments({u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"800x600x24"_s,
                              u"-nolisten"_s, u"tcp"_s});
        server_.setStandardErrorFile(QProcess::nullDevice());
        server_.start();
        QByteArray number;
        waitUntil(
            [&] {
                number += server_.readAllStandardOutput();
                return number.contains('\n') || server_.state() == QProcess::NotRunning;
            },
            10s);
        if (number.contains('\n')) {
            display_ = u':' + QString::fromLatin1(number.trimmed());
        }
    }
    ~PrivateXServer() { stop(); }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    QString display() const { return display_; }
    void stop() {
        if (server_.state() != QProcess::NotRunning) {
            server_.kill();
            server_.waitForFinished(5000);
        }
    }

    // A program run on this server until the object goes away.
    std::unique_ptr<QProcess> spawn(const QString& program, const QStringList& args) const {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DISPLAY"_s, display_);
        process->setProcessEnvironment(env);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        process->start(program, args);
        process->waitForStarted(5000);
        return process;
    }

    void onThisServer(QuilletProcess& quillet) const {
        QProcessEnvironment env = quillet.process().processEnvironment();
        env.insert(u"DISPLAY"_s, display_);
        quillet.process().setProcessEnvironment(env);
    }

private:
    QProcess server_;
    QString display_;
};

std::unique_ptr<QProcess> startTrayer(const PrivateXServer& server) {
    return server.spawn(u"trayer"_s,
                        {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s, u"--widthtype"_s,
                         u"request"_s, u"--height"_s, u"32"_s, u"--SetDockType"_s, u"true"_s});
}

void endProcess(std::unique_ptr<QProcess>& process) {
    process->kill();
    process->waitForFinished(3000);
    process.reset();
}

TEST(EnvironmentTest, TheXServerGoingAwayEndsTheProgramWithAMessage) {
    QUILLET_REQUIRE_DISPLAY();
    PrivateXServer server;
    ASSERT_FALSE(server.display().isEmpty());
    QuilletProcess quillet;
    server.onThisServer(quillet);
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();

    server.stop();
    ASSERT_TRUE(quillet.process().waitForFinished(10000));
    EXPECT_EQ(quillet.process().exitStatus(), QProcess::NormalExit);
    EXPECT_NE(quillet.process().exitCode(), 0);
    const QByteArray errors = quillet.standardError();
    std::cout << "[ stderr   ] " << errors.toStdString();
    EXPECT_TRUE(errors.contains("X11")) << errors.toStdString();
}

TEST(EnvironmentTest, TheIconComesBackWhenTheTrayHostRestarts) {
    QUILLET_REQUIRE_DISPLAY();
    PrivateXServer server;
    ASSERT_FALSE(server.display().isEmpty());
    auto trayer = startTrayer(server);
    ASSERT_TRUE(waitUntil(
        [&] {
            return !xdotool({u"search"_s, u"--classname"_s, u"trayer"_s}, server.display())
                        .isEmpty();
        },
        10s));
    QuilletProcess quillet;
    server.onThisServer(quillet);
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    ASSERT_TRUE(
        waitUntil([&] { return trayIcon(quillet.pid(), server.display()).has_value(); }, 10s));

    endProcess(trayer);
    EXPECT_TRUE(waitUntil([&] { return !trayIcon(quillet.pid(), server.display()); }, 10s));
    trayer = startTrayer(server);
    EXPECT_TRUE(
        waitUntil([&] { return trayIcon(quillet.pid(), server.display()).has_value(); }, 15s));
    endProcess(trayer);
    EXPECT_EQ(quillet.process().state(), QProcess::Running);
}

// The press gives up on an owner that never answers, says so and keeps the
// run; the menu works while the read waits.
TEST(EnvironmentTest, AClipboardOwnerThatNeverAnswersHoldsNothingUp) {
    QUILLET_REQUIRE_DISPLAY();
    TargetWindow target;
    ASSERT_TRUE(target.started());
    KeyDriver keys;
    QuilletProcess quillet;
    ASSERT_TRUE(quillet.start());
    xclipWrite("one\ntwo\n");
    target.focus();
    keys.chord(kDefaultChord);
    ASSERT_TRUE(target.waitForText(u"one"_s));
    const auto storedIndex = [&] {
        const auto run = readStoredRun(quillet.settingsFile()).run;
        return run ? run->currentIndex : -1;
    };
    // The step ends by putting the copy back, which takes the clipboard.
    ASSERT_TRUE(waitUntil([&] { return storedIndex() == 1; }, 10s));
    {
        SilentClipboardOwner silent;
        ASSERT_TRUE(silent.owning());
        QElapsedTimer clock;
        clock.start();
        keys.chord(kDefaultChord);
        ASSERT_TRUE(waitUntil([&] { return silent.requestPending(); }, 10s));
        EXPECT_TRUE(openTrayMenu(quillet.pid(), u"Paste"_s));
        EXPECT_TRUE(silent.requestPending()) << "the menu opened only after the read ended";
        keys.chord({"Escape"});
        ASSERT_TRUE(waitUntil([] { return !keyboardGrabbed(); }, 5s));
        ASSERT_TRUE(closeNotice(quillet.pid(), keys, target, 60s));
        std::cout << "[ figures  ] a press against a silent clipboard owner ended after "
                  << clock.elapsed() << " ms\n";
    }
    xclipWrite("one\ntwo\n");
    keys.chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"onetwo"_s)) << target.text().toStdString();
    ASSERT_TRUE(waitUntil([&] { return storedIndex() == 2; }, 10s));

    // Quitting while a press waits on such an owner: a clean exit, the run kept.
    SilentClipboardOwner silent;
    ASSERT_TRUE(silent.owning());
    keys.chord(kDefaultChord);
    ASSERT_TRUE(waitUntil([&] { return silent.requestPending(); }, 10s));
    EXPECT_EQ(quillet.stop(), 0);
    EXPECT_EQ(storedIndex(), 2);
}

TEST(EnvironmentTest, AHundredMegabyteClipboardPastesItsFirstLine) {
    QUILLET_REQUIRE_DISPLAY();
    TargetWindow target;
    ASSERT_TRUE(target.started());
    KeyDriver keys;
    QuilletProcess quillet;
    ASSERT_TRUE(quillet.start());
    QByteArray big;
    big.reserve(100 * 1024 * 1024 + 64);
    for (int i = 0; big.size() < 100 * 1024 * 1024; ++i) {
        big += "row " + QByteArray::number(i).rightJustified(9, '0') + " of a very large copy\n";
    }
    QTemporaryDir dir;
    {
        QFile file(dir.filePath(u"big"_s));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(big);
    }
    // xclip reads it all, then leaves a child behind that serves it.
    ASSERT_EQ(QProcess::execute(u"xclip"_s,
                                {u"-selection"_s, u"clipboard"_s, u"-i"_s, dir.filePath(u"big"_s)}),
              0);
    target.focus();
    QElapsedTimer clock;
    clock.start();
    keys.chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"row 000000000 of a very large copy"_s, 180s))
        << target.text().left(200).toStdString();
    const qint64 pasted = clock.elapsed();
    // The run is stored with the whole copy as its source.
    EXPECT_TRUE(
        waitUntil([&] { return QFileInfo(quillet.settingsFile()).size() > big.size(); }, 180s));
    const qint64 stored = clock.elapsed();
    const StoredRun run = readStoredRun(quillet.settingsFile());
    ASSERT_TRUE(run.run);
    EXPECT_EQ(run.run->currentIndex, 1);
    std::cout << "[ figures  ] 100 MB copy: first line pasted after " << pasted
              << " ms, run stored after " << stored << " ms\n";
    EXPECT_EQ(quillet.stop(), 0);
}

// Privacy -------------------------------------------------------------------

TEST(PrivacyTest, SettingsAreOwnerOnlyEvenWhenTheyWereWider) {
    QUILLET_REQUIRE_DISPLAY();
    QTemporaryDir config;
    const QString folder = config.path() + u"/tarnwick"_s;
    QDir().mkpath(folder);
    const QString settingsFile = folder + u"/Quillet.conf"_s;
    {
        QFile file(settingsFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nhotkeyCode=9\nhotkeyModifiers=1835008\n");
    }
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    ::chmod(QFile::encodeName(settingsFile).constData(), 0644);

    TargetWindow target;
    ASSERT_TRUE(target.started());
    KeyDriver keys;
    QuilletProcess quillet(config.path());
    ASSERT_TRUE(quillet.start());
    EXPECT_EQ(fileMode(folder), 0700);
    EXPECT_EQ(fileMode(settingsFile), 0600);

    // Nothing copied reaches the program's output, and the rewritten file stays private.
    const QByteArray secret = "hunter2-correct-horse\nbattery-staple-42\n";
    xclipWrite(secret);
    target.focus();
    keys.chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"hunter2-correct-horse"_s));
    keys.chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"hunter2-correct-horsebattery-staple-42"_s));
    EXPECT_TRUE(waitUntil([&] { return readStoredRun(settingsFile).run.has_value(); }, 10s));
    EXPECT_EQ(fileMode(settingsFile), 0600);
    EXPECT_EQ(quillet.stop(), 0);
    const QByteArray output = quillet.standardOutput() + quillet.standardError();
    EXPECT_FALSE(output.contains("hunter2")) << output.toStdString();
    EXPECT_FALSE(output.contains("battery")) << output.toStdString();
}

TEST(PrivacyTest, APastedLineIsMarkedSecretForClipboardHistories) {
    QUILLET_REQUIRE_DISPLAY();
    ClipboardX11 clipboard;
    clipboard.writeLine(u"a line"_s);
    EXPECT_EQ(xclipRead(), "a line");
    EXPECT_TRUE(xclipRead(u"TARGETS"_s).contains("x-kde-passwordManagerHint"));
    EXPECT_EQ(xclipRead(u"x-kde-passwordManagerHint"_s), "secret");
}

}  // namespace
}  // namespace quillet::e2e
