// The real program killed at random moments, and on settings it cannot parse.

#include "x_harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <random>
#include <thread>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

// The run's file, where there is one, decodes.
bool readable(const QString& path) {
    QFile file(path);
    return !file.open(QIODevice::ReadOnly) || decodeAppState(file.readAll()).has_value();
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
    const QString stateFile = Program(config.path()).stateFile();

    // Reads the run's file all along: a reader must never find it half written.
    std::atomic<bool> reading = true;
    std::atomic<int> reads = 0;
    std::atomic<int> unreadable = 0;
    std::thread reader([&] {
        while (reading) {
            if (QFile::exists(stateFile)) {
                ++reads;
                unreadable += readable(stateFile) ? 0 : 1;
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
        runFor(killAt - Clock::now());
        quillet.kill();
        ++kills;
        // A paste chord cut short may leave its keys down on the server.
        x().up({"Control_L", "v"});
        // The next round's copy must not reach a paste of this one.
        ASSERT_TRUE(target.drain());

        const auto numbers = pastedNumbers(settledText(target));
        ASSERT_TRUE(numbers) << "foreign text: " << target.text().toStdString();
        pasted = *numbers;
        ASSERT_EQ(lostLines(pasted), 0) << target.text().toStdString();
        // The stored cursor is at the next line, or at the one in flight when it died.
        ASSERT_TRUE(readable(stateFile));
        const std::int64_t reached = pasted.empty() ? 0 : pasted.back();
        const std::int64_t cursor = std::max<std::int64_t>(quillet.storedIndex(), 0);
        EXPECT_TRUE(cursor == reached || cursor == reached - 1)
            << "cursor " << cursor << " after line " << reached;
    }
    reading = false;
    reader.join();
    std::cout << "[ figures  ] kills survived: " << kills << ", lines pasted: " << pasted.size()
              << ", file reads while running: " << reads << std::endl;
    EXPECT_EQ(unreadable, 0) << "of " << reads << " reads";
    EXPECT_GE(kills, 50);
    EXPECT_GT(pasted.size(), static_cast<std::size_t>(kills / 2));

    // One clean press after all that carries on from the stored cursor.
    Program quillet(config.path());
    ASSERT_TRUE(quillet.start()) << quillet.error();
    // A kill while writing leaves a half-written copy; a start clears it.
    EXPECT_EQ(QDir(QFileInfo(stateFile).path()).entryList(QDir::Files),
              QStringList{u"Quillet.json"_s})
        << "no temporary files left behind";
    ASSERT_TRUE(copy(list));
    ASSERT_TRUE(target.focus());
    const QString before = settledText(target);
    x().chord(kDefaultChord);
    EXPECT_TRUE(waitUntil([&] { return target.text() != before; }, 20s))
        << quillet.output().toStdString();
    const auto numbers = pastedNumbers(settledText(target));
    ASSERT_TRUE(numbers) << "foreign text: " << target.text().right(300).toStdString();
    EXPECT_EQ(lostLines(*numbers), 0);
    EXPECT_GT(numbers->size(), pasted.size());
}

// A file QSettings cannot parse is kept beside for the user; without a
// usable shortcut the program starts as on a first run, and the next save
// writes a sound file.
TEST(BadSettingsTest, ADamagedFileIsSetAsideAndTheProgramStartsAfresh) {
    const QByteArray garbage("\x01\x02\xff\xfe[[[\x00\x7f=\n==\n\\", 15);
    QTemporaryDir config;
    const QString folder = config.path() + u"/tarnwick"_s;
    QDir().mkpath(folder);
    QFile file(folder + u"/Quillet.conf"_s);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(garbage);
    file.close();
    TargetWindow target;
    ASSERT_TRUE(target.started());
    Program quillet(config.path());
    ASSERT_TRUE(quillet.start()) << quillet.error();
    EXPECT_TRUE(quillet.output().contains("could not be read"));
    const QStringList aside = QDir(folder).entryList({u"Quillet.conf.bad-*"_s}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(folder + u'/' + aside.front());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), garbage);

    // Closed from its frame, as a window manager would: no choice made.
    const auto dialog = x().waitForWindow(quillet.pid(), u"Set Shortcut"_s);
    ASSERT_TRUE(dialog);
    x().close(dialog->id);
    ASSERT_TRUE(waitUntil([&] { return !x().windowNamed(quillet.pid(), dialog->name); }, 10s));
    EXPECT_EQ(quillet.stored(u"hotkeyCode"_s), 9);
    EXPECT_EQ(quillet.stored(u"hotkeyModifiers"_s), 1835008);

    ASSERT_TRUE(target.focus());
    ASSERT_TRUE(copy("alpha\nbeta\n"));
    x().chord(kDefaultChord);
    // The shortcut is taken again only after the dialog's window went: on a
    // busy machine the press may come first, and goes again.
    if (!target.waitForText(u"alpha"_s)) {
        x().chord(kDefaultChord);
    }
    EXPECT_TRUE(target.waitForText(u"alpha"_s)) << target.text().toStdString();
    EXPECT_TRUE(quillet.waitForIndex(1));
    EXPECT_TRUE(quillet.stop()) << quillet.error();
}

}  // namespace
}  // namespace quillet::harness
