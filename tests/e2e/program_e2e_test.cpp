// The real program, driven as a user would: text copied with xclip, the
// shortcut pressed with XTest, the result read from the target window.

#include "x_session.h"

#include <QThread>

#include <gtest/gtest.h>

namespace quillet::e2e {
namespace {

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_DISPLAY();
        ASSERT_TRUE(target_.started());
        ASSERT_TRUE(quillet_.start()) << quillet_.standardError().toStdString();
    }

    // One press of the shortcut, then the window must read `expected`.
    void pressAndExpect(const QString& expected, std::chrono::milliseconds hold = 30ms) {
        keys_.chord(kDefaultChord, hold);
        EXPECT_TRUE(target_.waitForText(expected)) << "got: " << target_.text().toStdString();
    }

    TargetWindow target_;
    QuilletProcess quillet_;
    KeyDriver keys_;
};

TEST_F(ProgramTest, EachPressPastesTheNextLineWhateverLockIsOn) {
    xclipWrite("one\n  two  \n\nthree\nfour\n");
    pressAndExpect(QStringLiteral("one"));
    keys_.chord({"Num_Lock"});
    pressAndExpect(QStringLiteral("onetwo"));
    keys_.chord({"Caps_Lock"});
    pressAndExpect(QStringLiteral("onetwothree"));
    keys_.chord({"Num_Lock"});
    pressAndExpect(QStringLiteral("onetwothreefour"));
    keys_.chord({"Caps_Lock"});
}

TEST_F(ProgramTest, HoldingTheShortcutPastesOneLine) {
    xclipWrite("first\nsecond\n");
    pressAndExpect(QStringLiteral("first"), 1500ms);
    // Auto-repeat while held must not have queued more steps.
    EXPECT_FALSE(target_.waitForText(QStringLiteral("firstsecond"), 1500ms));
}

TEST_F(ProgramTest, QuickPressesAreNeitherLostNorMerged) {
    QByteArray text;
    QString expected;
    for (int i = 1; i <= 10; ++i) {
        text += "line" + QByteArray::number(i) + '\n';
        expected += QStringLiteral("line%1").arg(i);
    }
    xclipWrite(text);
    for (int i = 0; i < 10; ++i) {
        keys_.chord(kDefaultChord, 30ms);
        QThread::msleep(30);  // a press every 60 ms
    }
    EXPECT_TRUE(target_.waitForText(expected, 20s)) << "got: " << target_.text().toStdString();
}

TEST_F(ProgramTest, RestartInTheMiddleOfARunPastesTheNextLine) {
    const QByteArray list = "red\ngreen\nblue\n";
    xclipWrite(list);
    pressAndExpect(QStringLiteral("red"));
    pressAndExpect(QStringLiteral("redgreen"));
    ASSERT_EQ(quillet_.stop(), 0);

    // The clipboard left with the program that held it: copy the same text again.
    xclipWrite(list);
    QuilletProcess again(quillet_.configHome());
    ASSERT_TRUE(again.start()) << again.standardError().toStdString();
    pressAndExpect(QStringLiteral("redgreenblue"));
}

TEST(ProgramStartTest, AShortcutHeldByAnotherProgramIsReported) {
    QUILLET_REQUIRE_DISPLAY();
    // Another client takes Control+Alt+Super+V first.
    const OtherClientGrab other(kDefaultChordMask, "v");
    ASSERT_TRUE(other.held());

    QuilletProcess quillet;
    quillet.process().start();
    ASSERT_TRUE(quillet.process().waitForStarted(5000));
    EXPECT_TRUE(waitUntil(
        [&] { return quillet.standardOutput().contains("Hotkey registration failed\n"); }, 10s))
        << quillet.standardOutput().toStdString();
    // It keeps running, ready for a shortcut that can be taken.
    EXPECT_EQ(quillet.process().state(), QProcess::Running);
    EXPECT_EQ(quillet.stop(), 0);
}

TEST(ProgramStartTest, ASecondCopyStepsAside) {
    QUILLET_REQUIRE_DISPLAY();
    QuilletProcess first;
    ASSERT_TRUE(first.start());
    QuilletProcess second(first.configHome());
    second.process().start();
    ASSERT_TRUE(second.process().waitForFinished(10000));
    EXPECT_NE(second.process().exitCode(), 0);
    EXPECT_TRUE(second.standardError().contains("already running"));
    EXPECT_EQ(first.process().state(), QProcess::Running);
}

TEST(ProgramStartTest, WithoutADisplayItExitsWithAMessage) {
    QProcess quillet;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    quillet.setProcessEnvironment(env);
    quillet.start(QStringLiteral(QUILLET_BIN), {});
    ASSERT_TRUE(quillet.waitForFinished(10000));
    EXPECT_EQ(quillet.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(quillet.exitCode(), 1);
    EXPECT_TRUE(quillet.readAllStandardError().contains("cannot connect to the X display"));
}

}  // namespace
}  // namespace quillet::e2e
