// The tray item and its menu in a real tray host, driven as a user would.

#include "x_harness.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

class TrayTest : public testing::Test {
protected:
    void SetUp() override {
        // Links go to a stand-in for the desktop's handler that notes them down.
        QFile opener(bin_.filePath(u"xdg-open"_s));
        ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + links_.toUtf8() + "'\n");
        opener.close();
        opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        quillet_.setEnvironment(u"PATH"_s, bin_.path() + u':' + qEnvironmentVariable("PATH"));
        ASSERT_TRUE(target_.started());
        ASSERT_TRUE(quillet_.start()) << quillet_.error();
    }

    // Opens the menu and walks it with these keys.
    void choose(const QString& title, const std::vector<std::string>& keys) {
        ASSERT_TRUE(x().openTrayMenu(quillet_.pid(), title));
        for (const std::string& key : keys) {
            x().chord({key});
        }
    }

    QByteArray openedLinks() const {
        QFile file(links_);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir bin_;
    const QString links_ = bin_.filePath(u"opened"_s);
    TargetWindow target_;
    Program quillet_;
};

// Unlike a notice (NoticeTest), About, chosen in the menu, comes to the
// front. Its Escape answers "Close", Return the first button, "Visit
// Website": only that one opens a link.
TEST_F(TrayTest, AboutTakesTheFocusAndOnlyItsLinkButtonsOpenLinks) {
    for (const char* answer : {"Escape", "Return"}) {
        // From the bottom: Quit, About.
        choose(u"Paste"_s, {"Up", "Up", "Return"});
        const auto about = x().waitForWindow(quillet_.pid(), u"About Quillet"_s, true);
        ASSERT_TRUE(about);
        x().chord({answer});
        ASSERT_TRUE(waitUntil([&] { return !x().windowNamed(quillet_.pid(), about->name); }, 10s));
    }
    EXPECT_TRUE(waitUntil([&] { return !openedLinks().isEmpty(); }, 10s));
    EXPECT_EQ(openedLinks(), "https://tarnwick.example/Quillet/\n");
}

TEST_F(TrayTest, MovesChosenInTheMenuSteerTheNextPress) {
    ASSERT_TRUE(copy("a\nb\nc\nd\n"));
    const auto press = [&](const QString& expected) {
        ASSERT_TRUE(target_.focus());
        x().chord(kDefaultChord);
        ASSERT_TRUE(target_.waitForText(expected)) << target_.text().toStdString();
    };
    press(u"a"_s);
    // From the top: Set Shortcut, Move Shortcuts, then (past the position)
    // Back, Skip, Start Over.
    const struct {
        int downs;
        std::int64_t index;  // stored afterwards
        QString pasted;      // all the target holds after the next press
    } moves[] = {{4, 2, u"ac"_s}, {3, 2, u"acc"_s}, {5, 0, u"acca"_s}};
    for (const auto& move : moves) {
        SCOPED_TRACE(move.downs);
        std::vector<std::string> keys(static_cast<std::size_t>(move.downs), "Down");
        keys.emplace_back("Return");
        choose(u"Paste"_s, keys);
        EXPECT_TRUE(quillet_.waitForIndex(move.index)) << quillet_.storedIndex();
        press(move.pasted);
    }
}

TEST_F(TrayTest, StartAtLoginAndChineseFromTheMenuAreStoredAndQuitEndsCleanly) {
    // From the bottom: Quit, About, Start at Login: an entry that starts this `quillet`.
    const QString entry = quillet_.configHome() + u"/autostart/org.tarnwick.Quillet.desktop"_s;
    choose(u"Paste"_s, {"Up", "Up", "Up", "Return"});
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(entry); }, 10s));
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    const auto exec = std::find_if(lines.begin(), lines.end(), [](const QByteArray& line) {
        return line.startsWith("Exec=/");
    });
    ASSERT_NE(exec, lines.end());
    const QFileInfo command(QString::fromUtf8(exec->mid(5)));
    EXPECT_EQ(command.fileName(), u"quillet"_s);
    EXPECT_TRUE(command.isExecutable());
    choose(u"Paste"_s, {"Up", "Up", "Up", "Return"});
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(entry); }, 10s));

    // Language, then its third entry, 中文.
    choose(u"Paste"_s, {"Up", "Up", "Up", "Up", "Right", "Down", "Down", "Return"});
    EXPECT_TRUE(waitUntil([&] { return quillet_.stored(u"appLanguage"_s) == u"zh"_s; }, 10s));
    choose(u"粘贴"_s, {"Up", "Return"});
    ASSERT_TRUE(quillet_.waitForExit());
    EXPECT_EQ(quillet_.exitCode(), 0);
}

TEST_F(TrayTest, ALineChosenInTheListComesNextAndTheOpenListLeavesTheFocus) {
    ASSERT_TRUE(copy("London\nParis\nRome\nOslo\n"));
    x().chord(kDefaultChord);
    ASSERT_TRUE(target_.waitForText(u"London"_s));

    // From the bottom: Quit, About, Start at Login, Language, After Each Line,
    // Paste Cells, then Show List… past the greyed usage row.
    choose(u"Paste"_s, {"Up", "Up", "Up", "Up", "Up", "Up", "Up", "Return"});
    const auto list = x().waitForWindow(quillet_.pid(), u"Quillet — List"_s, true);
    ASSERT_TRUE(list);
    // Paris is selected: one down is Rome.
    x().chord({"Down"});
    x().chord({"Return"});
    ASSERT_TRUE(quillet_.waitForIndex(2));

    // The list follows the first press before the second pastes: had it taken
    // the keyboard, Oslo would not arrive.
    ASSERT_TRUE(target_.focus());
    x().chord(kDefaultChord);
    x().chord(kDefaultChord);
    EXPECT_TRUE(target_.waitForText(u"LondonRomeOslo"_s)) << target_.text().toStdString();
    EXPECT_TRUE(x().windowNamed(quillet_.pid(), list->name));
    EXPECT_EQ(x().focusedWindow(), target_.window());

    x().close(list->id);
    ASSERT_TRUE(waitUntil([&] { return !x().windowNamed(quillet_.pid(), list->name); }, 10s));
    EXPECT_TRUE(quillet_.running());
}

}  // namespace
}  // namespace quillet::harness
