// The real program, driven as a user would: text copied with xclip, the
// shortcut pressed with XTest, the result read from a window of another
// process.

#include "x_harness.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

int fileMode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0
               ? static_cast<int>(info.st_mode & 07777)
               : -1;
}

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

// The place in the list outlives the program; the settings file holds
// clipboard text, so it is the owner's alone, and nothing copied is ever
// printed.
TEST_F(ProgramTest, PastesLineByLineAcrossARestartAndKeepsTheTextPrivate) {
    const QByteArray list = "hunter2-correct\n  battery-staple  \n\nthird-secret\n";
    ASSERT_TRUE(copy(list));
    pressAndExpect(u"hunter2-correct"_s);
    pressAndExpect(u"hunter2-correctbattery-staple"_s);
    ASSERT_TRUE(quillet_.stop()) << quillet_.error();

    // Widened meanwhile, as an archive or a careless copy might leave them.
    const QString folder = QFileInfo(quillet_.settingsFile()).path();
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    ::chmod(QFile::encodeName(quillet_.settingsFile()).constData(), 0644);
    // The clipboard left with the program that held it: the same text again.
    ASSERT_TRUE(copy(list));
    Program again(quillet_.configHome());
    ASSERT_TRUE(again.start()) << again.error();
    EXPECT_EQ(fileMode(folder), 0700);
    EXPECT_EQ(fileMode(quillet_.settingsFile()), 0600);
    pressAndExpect(u"hunter2-correctbattery-staplethird-secret"_s);
    EXPECT_TRUE(
        waitUntil([&] { return again.storedRun().value_or(AppState{}).currentIndex == 3; }, 10s));
    EXPECT_EQ(fileMode(quillet_.settingsFile()), 0600);
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
    for (int i = 0; i < 10; ++i) {
        x().chord(kDefaultChord);
        runFor(30ms);  // a press every 60 ms, faster than a step
    }
    EXPECT_TRUE(target_.waitForText(expected, 20s)) << "got: " << target_.text().toStdString();
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
