// The tray item and its menu, driven as a user would: a click on the icon in
// a real tray host, keys in the menu, and what the program then does. The
// test command runs trayer on the test display.

#include "x_session.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillet::e2e {
namespace {

using namespace Qt::StringLiterals;

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_DISPLAY();
        // Links go to a stand-in for the desktop's handler that notes them down.
        QFile opener(bin_.filePath(u"xdg-open"_s));
        ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + linksFile().toUtf8() + "'\n");
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = quillet_.process().processEnvironment();
        env.insert(u"PATH"_s, bin_.path() + u':' + env.value(u"PATH"_s));
        quillet_.process().setProcessEnvironment(env);

        ASSERT_TRUE(quillet_.start()) << quillet_.standardError().toStdString();
    }

    qint64 pid() { return quillet_.pid(); }
    QString linksFile() const { return bin_.filePath(u"opened"_s); }
    void openMenu(const QString& title) { ASSERT_TRUE(openTrayMenu(pid(), title)); }

    void press(const std::vector<std::string>& keys) {
        for (const std::string& key : keys) {
            keys_.chord({key});
        }
    }

    bool waitForWindow(const QString& name, bool shown) {
        return waitUntil([&] { return windowNamed(pid(), name).has_value() == shown; }, 10s);
    }

    QByteArray openedLinks() const {
        QFile file(linksFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir bin_;
    QuilletProcess quillet_;
    KeyDriver keys_;
};

TEST_F(TrayTest, ChineseFromTheLanguageMenuIsStoredAndShown) {
    openMenu(u"Paste"_s);
    // From the bottom: Quit, About, Language; then its third entry, 中文.
    press({"Up", "Up", "Up", "Right", "Down", "Down", "Return"});
    const auto stored = [&] { return quillet_.stored(u"appLanguage"_s); };
    EXPECT_TRUE(waitUntil([&] { return stored() == u"zh"_s; }, 10s))
        << "stored: " << stored().toString().toStdString();
    openMenu(u"粘贴"_s);
    press({"Escape"});
}

TEST_F(TrayTest, AboutComesToTheFrontAndOnlyItsLinkButtonsOpenLinks) {
    const TargetWindow target;
    ASSERT_TRUE(target.started());
    // Escape answers "Close", Return the first button, "Visit Website".
    for (const char* answer : {"Escape", "Return"}) {
        openMenu(u"Paste"_s);
        press({"Up", "Up", "Return"});
        ASSERT_TRUE(waitForWindow(u"About Quillet"_s, true));
        const QString about = windowNamed(pid(), u"About Quillet"_s)->id;
        EXPECT_TRUE(waitUntil([&] { return focusedWindow() == about; }, 5s));
        press({answer});
        ASSERT_TRUE(waitForWindow(u"About Quillet"_s, false));
    }
    // This link alone: "Close" opened nothing.
    EXPECT_TRUE(waitUntil([&] { return !openedLinks().isEmpty(); }, 10s));
    EXPECT_EQ(openedLinks(), "https://tarnwick.example/Quillet/\n");
}

TEST_F(TrayTest, NoticesLeaveTheFocusWhereTheUserTypes) {
    const TargetWindow target;
    ASSERT_TRUE(target.started());
    const QString typingIn = focusedWindow();
    xclipWrite("only\n");
    keys_.chord(kDefaultChord);
    ASSERT_TRUE(target.waitForText(u"only"_s));
    // The press after the last line tells that all lines are pasted.
    keys_.chord(kDefaultChord);
    ASSERT_TRUE(waitUntil([&] { return notice(pid()).has_value(); }, 10s));
    EXPECT_EQ(focusedWindow(), typingIn);
}

TEST_F(TrayTest, QuitEndsTheProgramCleanly) {
    openMenu(u"Paste"_s);
    press({"Up", "Return"});
    ASSERT_TRUE(waitUntil([&] { return quillet_.process().state() == QProcess::NotRunning; }, 10s));
    EXPECT_EQ(quillet_.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(quillet_.process().exitCode(), 0);
}

// A helper process, stopped when the test ends.
struct Child : QProcess {
    ~Child() override {
        terminate();
        if (!waitForFinished(5000)) {
            kill();
            waitForFinished(3000);
        }
    }
};

TEST(TrayHostTest, WithoutATrayItSaysSoOnceAndDocksWhenOneStarts) {
    QUILLET_REQUIRE_DISPLAY();
    // A display of its own, without a tray host.
    Child xvfb;
    xvfb.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"800x600x24"_s,
                           u"-nolisten"_s, u"tcp"_s});
    QString display;
    ASSERT_TRUE(waitUntil(
        [&] {
            display += QString::fromLatin1(xvfb.readAllStandardOutput());
            return display.endsWith(u'\n');
        },
        10s));
    display = u':' + display.trimmed();

    QuilletProcess quillet;
    QProcessEnvironment env = quillet.process().processEnvironment();
    env.insert(u"DISPLAY"_s, display);
    quillet.process().setProcessEnvironment(env);
    ASSERT_TRUE(quillet.start()) << quillet.standardError().toStdString();
    const QByteArray message = "no system tray is available";
    EXPECT_TRUE(waitUntil([&] { return quillet.standardError().contains(message); }, 10s));

    Child trayer;
    trayer.setProcessEnvironment(env);
    trayer.start(u"trayer"_s, {u"--edge"_s, u"top"_s, u"--align"_s, u"right"_s, u"--widthtype"_s,
                               u"request"_s, u"--height"_s, u"32"_s, u"--SetDockType"_s, u"true"_s,
                               u"--transparent"_s, u"false"_s});
    EXPECT_TRUE(waitUntil(
        [&] { return trayIcon(quillet.process().processId(), display).has_value(); }, 15s))
        << "the icon did not dock in the new tray";

    EXPECT_EQ(quillet.stop(), 0);
    EXPECT_EQ(quillet.standardError().count(message), 1);
}

}  // namespace
}  // namespace quillet::e2e
