// The real program under faults: killed mid-run, damaged or unwritable
// settings, a clipboard owner that never answers, and a huge copy.

#include "x_harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <random>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

// The file parses, and any run in it decodes.
bool readable(const QString& file) {
    const QSettings settings(file, QSettings::IniFormat);
    const QVariant run = settings.value(QString::fromUtf16(kAppStateKey));
    return settings.status() == QSettings::NoError &&
           (!run.isValid() || decodeAppState(run.toByteArray()).has_value());
}

std::int64_t storedIndex(const Program& program) {
    const auto run = program.storedRun();
    return run ? run->currentIndex : -1;
}

// Waits until the window's text has not changed for a while: a paste the
// program posted just before it died may still arrive.
QString settledText(TargetWindow& target) {
    QString last = target.text();
    QElapsedTimer quiet;
    quiet.start();
    waitUntil(
        [&] {
            if (target.text() != last) {
                last = target.text();
                quiet.restart();
            }
            return quiet.elapsed() >= 300;
        },
        10s);
    return last;
}

// The line numbers of "<0001><0002>..." in order; none for any other text.
std::optional<std::vector<int>> pastedNumbers(const QString& text) {
    static const QRegularExpression whole(u"^(<\\d{4}>)*$"_s);
    if (!whole.match(text).hasMatch()) {
        return std::nullopt;
    }
    std::vector<int> numbers;
    for (qsizetype at = 1; at < text.size(); at += 6) {
        numbers.push_back(text.mid(at, 4).toInt());
    }
    return numbers;
}

// Lines lost: every number must be the one before it (offered again after
// a kill) or the next.
int lostLines(const std::vector<int>& numbers) {
    int lost = 0;
    int previous = 0;
    for (const int n : numbers) {
        if (n != previous && n != previous + 1) {
            lost += n > previous ? n - previous - 1 : 1;
        }
        previous = n;
    }
    return lost;
}

TEST(CrashConsistencyTest, KillsAtRandomMomentsLoseNoLine) {
    constexpr int kRounds = 100;
    // Bounds the whole test well inside its time limit on a slow machine.
    constexpr qint64 kBudgetMs = 200'000;
    QByteArray list;
    for (int i = 1; i <= 1000; ++i) {
        list += u"<%1>\n"_s.arg(i, 4, 10, QLatin1Char('0')).toUtf8();
    }
    TargetWindow target;
    ASSERT_TRUE(target.started());
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
                unreadable += readable(settingsFile) ? 0 : 1;
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
    std::vector<int> pasted;
    for (int round = 0; round < kRounds && total.elapsed() < kBudgetMs; ++round) {
        SCOPED_TRACE(round);
        Program quillet(config.path());
        ASSERT_TRUE(quillet.start()) << quillet.error();
        // The program that served the clipboard may be the one that died.
        ASSERT_TRUE(copy(list));
        ASSERT_TRUE(target.focus());

        const auto killAt = Clock::now() + std::chrono::milliseconds(killAfter(random));
        for (int i = pressCount(random); i > 0 && Clock::now() < killAt; --i) {
            x().chord(kDefaultChord);
            runFor(40ms);
        }
        waitUntil([] { return false; }, killAt - Clock::now());
        quillet.kill();
        ++kills;
        // A paste chord cut short may leave its keys down on the server.
        x().up({"Control_L", "v"});

        const auto numbers = pastedNumbers(settledText(target));
        ASSERT_TRUE(numbers) << "foreign text: " << target.text().toStdString();
        pasted = *numbers;
        ASSERT_EQ(lostLines(pasted), 0) << target.text().toStdString();
        // The stored cursor is at the next line, or at the one in flight when it died.
        ASSERT_TRUE(readable(settingsFile));
        const std::int64_t reached = pasted.empty() ? 0 : pasted.back();
        const std::int64_t cursor = std::max<std::int64_t>(storedIndex(quillet), 0);
        EXPECT_TRUE(cursor == reached || cursor == reached - 1)
            << "cursor " << cursor << " after line " << reached;
    }
    reading = false;
    reader.join();
    std::cout << "[ figures  ] kills survived: " << kills << ", lines pasted: " << pasted.size()
              << ", file reads while running: " << reads << std::endl;
    EXPECT_EQ(unreadable, 0) << "of " << reads << " reads";
    EXPECT_TRUE(QDir(config.path() + u"/tarnwick"_s)
                    .entryList({u"Quillet.conf.*"_s}, QDir::Files)
                    .isEmpty());
    EXPECT_GE(kills, 50);
    EXPECT_GT(pasted.size(), static_cast<std::size_t>(kills / 2));

    // One clean press after all that carries on from the stored cursor.
    Program quillet(config.path());
    ASSERT_TRUE(quillet.start()) << quillet.error();
    ASSERT_TRUE(copy(list));
    ASSERT_TRUE(target.focus());
    const QString before = settledText(target);
    x().chord(kDefaultChord);
    EXPECT_TRUE(waitUntil([&] { return target.text() != before; }, 20s))
        << quillet.output().toStdString();
    const auto numbers = pastedNumbers(settledText(target));
    ASSERT_TRUE(numbers);
    EXPECT_EQ(lostLines(*numbers), 0);
    EXPECT_GT(numbers->size(), pasted.size());
}

struct BadSettings {
    const char* name;
    QByteArray content;
    bool shortcutDialog;  // without a usable shortcut it starts as on a first run
    bool setAside;        // the file cannot be parsed at all and is kept beside
};

class BadSettingsTest : public testing::TestWithParam<BadSettings> {};

TEST_P(BadSettingsTest, StartsWithDefaultsAndTheNextSaveRepairsTheFile) {
    const BadSettings& bad = GetParam();
    QTemporaryDir config;
    const QString folder = config.path() + u"/tarnwick"_s;
    QDir().mkpath(folder);
    QFile file(folder + u"/Quillet.conf"_s);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bad.content);
    file.close();
    TargetWindow target;
    ASSERT_TRUE(target.started());
    Program quillet(config.path());
    ASSERT_TRUE(quillet.start()) << quillet.error();
    const auto defaultStored = [&] {
        return waitUntil(
            [&] {
                return quillet.stored(u"hotkeyCode"_s) == 9 &&
                       quillet.stored(u"hotkeyModifiers"_s) == 1835008;
            },
            10s);
    };
    EXPECT_TRUE(defaultStored());
    // Closed from the window's frame, as a window manager would: no choice made.
    std::optional<XWindow> dialog;
    EXPECT_EQ(
        waitUntil(
            [&] {
                return (dialog = x().windowNamed(quillet.pid(), u"Set Shortcut"_s)).has_value();
            },
            bad.shortcutDialog ? 10s : 1s),
        bad.shortcutDialog);
    if (dialog) {
        x().close(dialog->id);
        ASSERT_TRUE(waitUntil([&] { return !x().windowNamed(quillet.pid(), dialog->name); }, 10s));
    }
    const QStringList aside = QDir(folder).entryList({u"Quillet.conf.bad-*"_s}, QDir::Files);
    ASSERT_EQ(aside.size(), bad.setAside ? 1 : 0);
    if (bad.setAside) {
        QFile kept(folder + u'/' + aside.front());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bad.content);
        EXPECT_TRUE(quillet.output().contains("could not be read"));
    }

    // The stored run, whatever it was, does not count: a fresh copy starts a fresh run.
    ASSERT_TRUE(target.focus());
    ASSERT_TRUE(copy("alpha\nbeta\n"));
    x().chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"alpha"_s)) << target.text().toStdString();
    EXPECT_TRUE(waitUntil([&] { return storedIndex(quillet) == 1; }, 10s));
    EXPECT_TRUE(defaultStored());
    EXPECT_TRUE(quillet.stop()) << quillet.error();
}

INSTANTIATE_TEST_SUITE_P(
    Damaged, BadSettingsTest,
    testing::Values(
        BadSettings{"Garbage", QByteArray("\x01\x02\xff\xfe[[[\x00\x7f=\n==\n\\", 15), true, true},
        BadSettings{"TruncatedRun",
                    "[General]\nhotkeyCode=9\nhotkeyModifiers=1835008\nappState=@ByteArray({\"li",
                    false, false},
        BadSettings{"HugeCode", "[General]\nhotkeyCode=4294967305\nhotkeyModifiers=1835008\n", true,
                    false}),
    [](const testing::TestParamInfo<BadSettings>& p) { return std::string(p.param.name); });

TEST(UnwritableSettingsTest, PastingGoesOnAndTheUserIsToldOnce) {
    TargetWindow target;
    ASSERT_TRUE(target.started());
    Program quillet;
    ASSERT_TRUE(quillet.start()) << quillet.error();
    const QString folder = QFileInfo(quillet.settingsFile()).path();
    QFile file(quillet.settingsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    // Modes do not hold back root; the immutable flag does.
    const bool root = ::geteuid() == 0;
    const auto chattr = [&](const QString& flag) {
        return QProcess::execute(u"chattr"_s, {flag, folder}) == 0;
    };
    if (root && !chattr(u"+i"_s)) {
        GTEST_SKIP() << "cannot make the folder read-only as root (chattr +i)";
    }
    if (!root) {
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), S_IRUSR | S_IXUSR), 0);
    }
    const struct Restore {
        std::function<void()> undo;
        ~Restore() { undo(); }
    } restore{[&] {
        root ? chattr(u"-i"_s) : ::chmod(QFile::encodeName(folder).constData(), S_IRWXU) == 0;
    }};

    ASSERT_TRUE(copy("one\ntwo\nthree\n"));
    x().chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"one"_s)) << target.text().toStdString();
    ASSERT_TRUE(x().closeNotice(quillet.pid()));
    ASSERT_TRUE(target.focus());
    x().chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"onetwo"_s)) << target.text().toStdString();
    x().chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"onetwothree"_s)) << target.text().toStdString();
    // Told once: no second notice for the later failures.
    EXPECT_FALSE(waitUntil([&] { return x().notice(quillet.pid()).has_value(); }, 1500ms));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_TRUE(quillet.stop()) << quillet.error();
}

// The press gives up on an owner that never answers, says so and keeps the
// run; the menu works while the read waits, and quitting does not wait.
TEST(SilentClipboardOwnerTest, HoldsNothingUpAndKeepsTheRun) {
    TargetWindow target;
    ASSERT_TRUE(target.started());
    Program quillet;
    ASSERT_TRUE(quillet.start()) << quillet.error();
    ASSERT_TRUE(copy("one\ntwo\n"));
    x().chord(kDefaultChord);
    ASSERT_TRUE(target.waitForText(u"one"_s));
    // The step ends by putting the copy back, which takes the clipboard.
    ASSERT_TRUE(waitUntil([&] { return storedIndex(quillet) == 1; }, 10s));
    {
        XClient silent;
        ASSERT_TRUE(silent.takeClipboard());
        x().chord(kDefaultChord);
        ASSERT_TRUE(waitUntil([&] { return silent.clipboardRequested(); }, 10s));
        EXPECT_TRUE(x().openTrayMenu(quillet.pid(), u"Paste"_s));
        EXPECT_TRUE(silent.clipboardRequested()) << "the menu opened only after the read ended";
        x().chord({"Escape"});
        ASSERT_TRUE(waitUntil([] { return !x().keyboardGrabbed(); }, 5s));
        ASSERT_TRUE(x().closeNotice(quillet.pid(), 60s));
        ASSERT_TRUE(target.focus());
    }
    ASSERT_TRUE(copy("one\ntwo\n"));
    x().chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"onetwo"_s)) << target.text().toStdString();
    ASSERT_TRUE(waitUntil([&] { return storedIndex(quillet) == 2; }, 10s));

    XClient silent;
    ASSERT_TRUE(silent.takeClipboard());
    x().chord(kDefaultChord);
    ASSERT_TRUE(waitUntil([&] { return silent.clipboardRequested(); }, 10s));
    EXPECT_TRUE(quillet.stop()) << quillet.error();
    EXPECT_EQ(storedIndex(quillet), 2);
}

TEST(HugeClipboardTest, AHundredMegabyteCopyPastesItsFirstLineAndIsStored) {
    TargetWindow target;
    ASSERT_TRUE(target.started());
    Program quillet;
    ASSERT_TRUE(quillet.start()) << quillet.error();
    QByteArray big;
    big.reserve(100 * 1024 * 1024 + 64);
    for (int i = 0; big.size() < 100 * 1024 * 1024; ++i) {
        big += "row " + QByteArray::number(i).rightJustified(9, '0') + " of a very large copy\n";
    }
    ASSERT_TRUE(copy(big));
    x().chord(kDefaultChord);
    EXPECT_TRUE(target.waitForText(u"row 000000000 of a very large copy"_s, 180s))
        << target.text().left(200).toStdString();
    // The run is stored with the whole copy as its source.
    EXPECT_TRUE(
        waitUntil([&] { return QFileInfo(quillet.settingsFile()).size() > big.size(); }, 180s));
    EXPECT_EQ(storedIndex(quillet), 1);
    EXPECT_TRUE(quillet.stop()) << quillet.error();
}

}  // namespace
}  // namespace quillet::harness
