// The desktop session changing under the program, on an X server of the test's own.

#include "x_harness.h"

#include <gtest/gtest.h>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

// A helper process, ended with the test.
struct Child : QProcess {
    ~Child() override {
        kill();
        waitForFinished(3000);
    }
};

// A virtual X server that the test can take away. It must not reset when
// its last client leaves: the program's check for a display is one, and a
// reset would refuse the connection Qt opens right after.
class PrivateXServer {
public:
    PrivateXServer() {
        server_.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"800x600x24"_s,
                                  u"-nolisten"_s, u"tcp"_s, u"-noreset"_s});
        QByteArray number;
        waitUntil(
            [&] {
                number += server_.readAllStandardOutput();
                return number.endsWith('\n') || server_.state() == QProcess::NotRunning;
            },
            10s);
        if (number.endsWith('\n')) {
            display_ = u':' + QString::fromLatin1(number.trimmed());
        }
    }

    const QString& display() const { return display_; }
    void stop() { server_.kill(); }

    // A tray host on this server, run until the child object goes away.
    void runTray(Child& trayer) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DISPLAY"_s, display_);
        trayer.setProcessEnvironment(env);
        trayer.start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s,
                                   u"--widthtype"_s, u"request"_s, u"--height"_s, u"32"_s,
                                   u"--SetDockType"_s, u"true"_s, u"--transparent"_s, u"false"_s});
    }

private:
    Child server_;
    QString display_;
};

TEST(SessionTest, WithoutATrayItSaysSoOnceAndItsIconFollowsTheTrayHostsComingAndGoing) {
    PrivateXServer server;
    ASSERT_FALSE(server.display().isEmpty());
    XClient screen(server.display());
    ASSERT_TRUE(screen.connected());
    Program quillet;
    quillet.setEnvironment(u"DISPLAY"_s, server.display());
    ASSERT_TRUE(quillet.start()) << quillet.error();
    const QByteArray message = "no system tray is available";
    EXPECT_TRUE(quillet.waitForOutput(message));

    for (int round = 0; round < 2; ++round) {
        Child trayer;
        server.runTray(trayer);
        EXPECT_TRUE(waitUntil([&] { return screen.trayIcon(quillet.pid()).has_value(); }, 15s))
            << "round " << round << ": the icon did not dock in the new tray";
        trayer.kill();
        trayer.waitForFinished(3000);
        EXPECT_TRUE(waitUntil([&] { return !screen.trayIcon(quillet.pid()); }, 10s));
    }
    EXPECT_TRUE(quillet.stop()) << quillet.error();
    EXPECT_EQ(quillet.output().count(message), 1);
}

TEST(SessionTest, TheXServerGoingAwayEndsTheProgramWithAMessage) {
    PrivateXServer server;
    ASSERT_FALSE(server.display().isEmpty());
    Program quillet;
    quillet.setEnvironment(u"DISPLAY"_s, server.display());
    ASSERT_TRUE(quillet.start()) << quillet.error();

    server.stop();
    ASSERT_TRUE(quillet.waitForExit()) << quillet.output().toStdString() << "\n"
                                       << quillet.stacks();
    EXPECT_GT(quillet.exitCode(), 0);
    EXPECT_TRUE(quillet.output().contains("X11")) << quillet.output().toStdString();
}

}  // namespace
}  // namespace quillet::harness
