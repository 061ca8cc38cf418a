// The program wired to in-memory doubles.

#include "app/app.h"
#include "app/link_dialogs.h"

#include "doubles.h"
#include "in_memory_settings_store.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <sstream>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// The menu on one line: a separator as "--", a disabled row in brackets, a
// checked one with '*', the hint after '~', a submenu in braces.
QString outline(const std::vector<MenuRow>& rows) {
    QStringList parts;
    for (const MenuRow& row : rows) {
        QString part = row.kind == MenuRow::Kind::Separator ? u"--"_s : row.title;
        part +=
            (row.hint.isEmpty() ? QString() : u'~' + row.hint) + (row.checked ? u"*"_s : QString());
        part = row.enabled ? part : u'[' + part + u']';
        if (row.kind == MenuRow::Kind::Submenu) {
            part += u" > {"_s + outline(row.children) + u'}';
        }
        parts.append(part);
    }
    return parts.join(u" | ");
}

class AppTest : public ::testing::Test {
protected:
    // Puts a new double in its slot; the app will own it.
    template <typename Double, typename Service>
    static Double* install(std::unique_ptr<Service>& slot) {
        slot = std::make_unique<Double>();
        return static_cast<Double*>(slot.get());
    }

    void startWith(Shortcut shortcut, const QString& language = u"en"_s) {
        settings->setInteger(u"hotkeyCode"_s, shortcut.keyCode);
        settings->setInteger(u"hotkeyModifiers"_s, static_cast<std::int64_t>(shortcut.modifiers));
        settings->setString(u"appLanguage"_s, language);
        app->start();
        settle();
    }
    // The worker's pastes done, then what they left for the UI thread.
    void settle() {
        app->waitForPendingPastes();
        mainQueue->runPending();
    }
    void press() {
        hotkey->press();
        app->waitForPendingPastes();
    }
    QStringList notices() const { return notifications->shown(); }

    std::ostringstream console;
    PlatformServices services;  // moved into the app, which owns the doubles
    InMemorySettingsStore* settings = install<InMemorySettingsStore>(services.settings);
    InMemoryStateFile* stateFile = install<InMemoryStateFile>(services.stateFile);
    ManualMainQueue* mainQueue = install<ManualMainQueue>(services.mainQueue);
    ScriptedAlerts* alerts = install<ScriptedAlerts>(services.alerts);
    RecordingNotifications* notifications = install<RecordingNotifications>(services.notifications);
    FixedUiLanguages* languages = install<FixedUiLanguages>(services.languages);
    FakeClipboard* clipboard = install<FakeClipboard>(services.clipboard);
    RecordingPasteKeystroke* keystroke = install<RecordingPasteKeystroke>(services.keystroke);
    FixedActiveWindow* activeWindow = install<FixedActiveWindow>(services.activeWindow);
    FakeGlobalHotkey* hotkey = install<FakeGlobalHotkey>(services.hotkey);
    FakeTray* tray = install<FakeTray>(services.tray);
    RecordingUrlOpener* urls = install<RecordingUrlOpener>(services.urlOpener);
    FakeCommands* commands = install<FakeCommands>(services.commands);
    FakeAutostart* autostart = install<FakeAutostart>(services.autostart);
    std::unique_ptr<App> app = std::make_unique<App>(std::move(services), console);
};

TEST_F(AppTest, ALaterStartTakesTheStoredShortcutAndShowsTheMenu) {
    startWith({3, 0x100000});
    EXPECT_EQ(hotkey->held(), (Shortcut{3, 0x100000}));
    EXPECT_TRUE(tray->shown());
    EXPECT_EQ(tray->toolTip(), u"Paste\nNo list: copy some lines");
    EXPECT_EQ(outline(tray->rows()),
              u"Set Shortcut (Current: ⌘F)~⌘F | Move Shortcuts > {Back… | Skip… | Start Over…} | "
              "-- | [No list: copy some lines] | [Back] | "
              "[Skip] | [Start Over] | Show List… | -- | "
              "[Usage: Copy multi-lines, press shortcut to paste line by line.] | "
              "Paste Cells | After Each Line > {Nothing* | Tab | Enter} | "
              "Language / 语言 > {Auto (System "
              "Default) | English* | 中文} | Start at Login | -- | About | -- | "
              "Quit"_s);
    EXPECT_TRUE(alerts->shown().empty());
    ASSERT_TRUE(tray->choose(u"Tab"_s));
    EXPECT_EQ(settings->string(u"afterEachLine"_s), u"tab");
    EXPECT_EQ(outline(tray->row(u"After Each Line"_s)->children), u"Nothing | Tab* | Enter");

    // A language row switches at once; values other than the three codes check none.
    ASSERT_TRUE(tray->choose(u"中文"_s));
    EXPECT_EQ(tray->toolTip(), u"粘贴\n没有列表：请复制多行文本");
    EXPECT_EQ(outline(tray->rows()),
              u"设置快捷键 (当前: ⌘F)~⌘F | 移动快捷键 > {上一行… | 跳过… | 从头开始…} | -- | "
              "[没有列表：请复制多行文本] | [上一行] | [跳过] | "
              "[从头开始] | 显示列表… | -- | [使用说明：复制多行文本，按下快捷键逐行粘贴。] | "
              "按单元格粘贴 | 每行之后 > {无 | Tab 键* | 回车键} | "
              "Language / 语言 > {自动 (跟随系统) | English | "
              "中文*} | 登录时启动 | -- | 关于 | -- | 退出"_s);
    settings->setString(u"appLanguage"_s, u"fr"_s);
    languages->set({u"zh-CN"_s});
    ASSERT_TRUE(tray->choose(u"English"_s));
    ASSERT_TRUE(tray->choose(u"Auto (System Default)"_s));
    EXPECT_EQ(outline(tray->row(u"Language / 语言"_s)->children),
              u"自动 (跟随系统)* | English | 中文"_s);
}

TEST_F(AppTest, MovesFromTheMenuAndCommandsQueueBehindPressesAndTheTrayFollows) {
    startWith({3, 0x100000});
    clipboard->copy(u"London\nParis\nRome"_s);
    press();
    mainQueue->runPending();
    EXPECT_EQ(tray->toolTip(), u"Paste\n2 of 3 · next: Paris");
    EXPECT_EQ(outline(tray->rows()).section(u" | -- | "_s, 1, 1),
              u"[2 of 3 · next: Paris] | Back | Skip | Start Over | Show List…");

    ASSERT_TRUE(tray->choose(u"Skip"_s));
    settle();
    EXPECT_EQ(tray->toolTip(), u"Paste\n3 of 3 · next: Rome");
    // Status answers after the commands sent before it.
    commands->send(Command::Back);
    commands->send(Command::PasteNext);
    commands->askStatus();
    settle();
    EXPECT_EQ(commands->answers(), QStringList{u"3 of 3 · next: Rome"_s});
    EXPECT_EQ(clipboard->writtenLines(), (QStringList{u"London"_s, u"Paris"_s}));
    EXPECT_EQ(app->shownRun().currentIndex, 2);

    commands->send(Command::StartOver);
    settle();
    ASSERT_TRUE(tray->choose(u"中文"_s));
    EXPECT_EQ(tray->toolTip(), u"粘贴\n第 1 行，共 3 行 · 下一行：London");
    ASSERT_TRUE(tray->choose(u"上一行"_s));
    settle();
    commands->askStatus();
    settle();
    EXPECT_EQ(commands->answers().back(), u"第 1 行，共 3 行 · 下一行：London");
    EXPECT_TRUE(notices().isEmpty()) << "moves at an edge say nothing";

    // Back asked for while a press is in flight waits for it: the press
    // moves on, then Back offers the same line again; both are stored.
    settings->setString(u"afterEachLine"_s, u"tab"_s);
    keystroke->onFollowKey = [this] { commands->send(Command::Back); };
    press();
    mainQueue->runPending();
    keystroke->onFollowKey = {};
    EXPECT_EQ(clipboard->writtenLines().back(), u"London");
    EXPECT_EQ(app->shownRun().currentIndex, 0);
    EXPECT_EQ(decodeAppState(stateFile->read().value_or(QByteArray()))->currentIndex, 0);
}

TEST_F(AppTest, PasteCellsFromTheMenuStartsTheRunOverInCells) {
    startWith(kDefaultShortcut);
    clipboard->copy(u"London\tParis\nRome"_s);
    press();
    ASSERT_TRUE(tray->choose(u"Paste Cells"_s));
    settle();
    EXPECT_EQ(settings->string(u"pasteCells"_s), u"true");
    EXPECT_TRUE(tray->row(u"Paste Cells"_s)->checked);
    EXPECT_EQ(tray->toolTip(), u"Paste\nrow 1, cell 1 of 2 · next: London");
    press();
    EXPECT_EQ(clipboard->writtenLines(), (QStringList{u"London\tParis"_s, u"London"_s}));
}

TEST_F(AppTest, OnlyAnEchoOfOurOwnChordIsDroppedAndEveryOtherPressQueues) {
    startWith(kDefaultShortcut);
    clipboard->copy(u"a\nb\nc\nd\ne"_s);
    // Without echoes, a quick second press is the user's.
    keystroke->onChord = [this] {
        if (keystroke->chords() == 1) {
            hotkey->press();
        }
    };
    press();
    // With them, a press while a chord is out is its echo.
    keystroke->echoes = true;
    keystroke->onChord = [this] {
        if (keystroke->chords() == 3) {
            hotkey->press();
        }
    };
    press();
    press();
    EXPECT_EQ(clipboard->writtenLines(), (QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s}));
}

TEST_F(AppTest, PressesThatWaitedTooLongAreDroppedAndCounted) {
    startWith(kDefaultShortcut);
    app->setLongestWait(30ms);
    clipboard->copy(u"a\nb"_s);
    clipboard->settle = 100ms;
    for (int i = 0; i < 3; ++i) {
        hotkey->press();
    }
    app->waitForPendingPastes();
    clipboard->settle = 0ms;
    press();
    mainQueue->runPending();
    EXPECT_EQ(clipboard->writtenLines(), (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(notices(),
              (QStringList{u"Quillet: "_s + text::kOnePressDropped.in(Language::English),
                           u"Quillet: "_s + text::kPressesDropped.in(Language::English).arg(2)}));
}

TEST_F(AppTest, StartAtLoginIsTickedByTheEntryAndAFailureSaysWhy) {
    autostart->problem = u"cannot write /x: Permission denied"_s;
    startWith(kDefaultShortcut);
    ASSERT_TRUE(tray->choose(u"Start at Login"_s));
    EXPECT_FALSE(tray->row(u"Start at Login"_s)->checked);
    mainQueue->runPending();
    autostart->problem.clear();
    ASSERT_TRUE(tray->choose(u"Start at Login"_s));
    EXPECT_TRUE(autostart->enabled());
    EXPECT_TRUE(tray->row(u"Start at Login"_s)->checked);

    ASSERT_TRUE(tray->choose(u"中文"_s));
    autostart->problem = u"cannot remove /x: Permission denied"_s;
    ASSERT_TRUE(tray->choose(u"登录时启动"_s));
    EXPECT_TRUE(tray->row(u"登录时启动"_s)->checked);
    autostart->problem.clear();
    ASSERT_TRUE(tray->choose(u"登录时启动"_s));
    EXPECT_FALSE(autostart->enabled());
    EXPECT_FALSE(tray->row(u"登录时启动"_s)->checked);
    mainQueue->runPending();
    EXPECT_EQ(notices(), (QStringList{u"Quillet: Could not turn on Start at Login.\n"
                                      "cannot write /x: Permission denied"_s,
                                      u"Quillet: 无法关闭“登录时启动”。\n"
                                      "cannot remove /x: Permission denied"_s}));
}

// Where the moves' shortcuts move the run, ProgramMovesTest presses them.
TEST_F(AppTest, AMoveShortcutShowsBesideItsMoveInTheMenu) {
    const Shortcut back{0x0B, 0x1C0000}, skip{0x2D, 0x1C0000};
    settings->setInteger(u"backHotkeyCode"_s, back.keyCode);
    settings->setInteger(u"backHotkeyModifiers"_s, 0x1C0000);
    settings->setInteger(u"skipHotkeyCode"_s, skip.keyCode);
    settings->setInteger(u"skipHotkeyModifiers"_s, 0x1C0000);
    startWith(kDefaultShortcut);
    EXPECT_EQ(hotkey->held(ShortcutAction::Back), back);
    EXPECT_EQ(hotkey->held(ShortcutAction::StartOver), std::nullopt);
    clipboard->copy(u"London\nParis\nRome"_s);
    press();
    settle();
    EXPECT_EQ(outline(tray->rows()).section(u" | -- | "_s, 0, 1),
              u"Set Shortcut (Current: ⌃⌥⌘V)~⌃⌥⌘V | "
              "Move Shortcuts > {Back…~⌃⌥⌘B | Skip…~⌃⌥⌘N | Start Over…} | -- | "
              "[2 of 3 · next: Paris] | Back~⌃⌥⌘B | Skip~⌃⌥⌘N | Start Over | Show List…"_s);

    app->prepareToQuit();
    for (const ShortcutAction action : kShortcutActions) {
        EXPECT_EQ(hotkey->held(action), std::nullopt);
    }
}

// The dialog, and the stored run read on the worker, wait for start-up to return.
TEST_F(AppTest, AFirstStartQueuesTheDialog) {
    app->start();
    app->waitForPendingPastes();
    EXPECT_EQ(mainQueue->pendingCount(), 2U);
}

TEST_F(AppTest, WhereNoShortcutCanBeTakenCommandsPressAndNoDialogAsksForOne) {
    hotkey->grabbable = false;
    app->start();
    app->waitForPendingPastes();
    // The stored run alone, read on the worker: no first-run shortcut dialog.
    EXPECT_EQ(mainQueue->pendingCount(), 1U);
    EXPECT_EQ(hotkey->grabs(), 0);
    clipboard->copy(u"a\nb"_s);
    commands->send(Command::PasteNext);
    commands->send(Command::PasteNext);
    app->waitForPendingPastes();
    EXPECT_EQ(clipboard->writtenLines(), (QStringList{u"a"_s, u"b"_s}));
    ASSERT_TRUE(tray->choose(u"Set Shortcut (Current: ⌃⌥⌘V)"_s));
    mainQueue->runPending();
    EXPECT_EQ(notices(), QStringList{u"Quillet: Failed to set shortcut. Please try again."_s});

    // Quitting: commands arriving now start nothing.
    app->prepareToQuit();
    commands->send(Command::PasteNext);
    app->waitForPendingPastes();
    EXPECT_EQ(clipboard->writtenLines().size(), 2);
}

// GNOME: nothing goes into its settings before the user agreed; a "no" is
// kept, and asked again only from the menu.
TEST_F(AppTest, ShortcutsGoIntoTheDesktopsSettingsOnlyOnceTheUserAgreed) {
    hotkey->writesSettings = true;
    alerts->answer(1);
    startWith(kDefaultShortcut, u"zh"_s);
    EXPECT_EQ(hotkey->grabs(), 0);
    ASSERT_EQ(alerts->shown().size(), 1U);
    EXPECT_EQ(alerts->shown()[0].title, u"将 Quillet 的快捷键添加到 GNOME？");
    EXPECT_TRUE(alerts->shown()[0].text.contains(u"（⌃⌥⌘V 粘贴下一行）"_s));
    EXPECT_EQ(alerts->shown()[0].buttons, (QStringList{u"添加快捷键"_s, u"不添加"_s}));
    EXPECT_EQ(settings->string(u"desktopShortcutsAllowed"_s), u"false");

    alerts->answer(1);
    ASSERT_TRUE(tray->choose(u"跳过…"_s));
    EXPECT_EQ(alerts->shown().size(), 2U);
    EXPECT_EQ(hotkey->grabs(), 0);
}

TEST_F(AppTest, ANoGivenBeforeIsNotAskedAgainAtStart) {
    hotkey->writesSettings = true;
    settings->setString(u"desktopShortcutsAllowed"_s, u"false"_s);
    startWith(kDefaultShortcut);
    EXPECT_TRUE(alerts->shown().empty());
    EXPECT_EQ(hotkey->grabs(), 0);
}

TEST_F(AppTest, AnAgreementGivenAtTheFirstStartTakesTheShortcutsThenAndLater) {
    hotkey->writesSettings = true;
    app->start();
    mainQueue->runPending();
    EXPECT_EQ(hotkey->held(), kDefaultShortcut);
    EXPECT_EQ(settings->string(u"desktopShortcutsAllowed"_s), u"true");
    EXPECT_EQ(settings->integer(u"hotkeyCode"_s), kDefaultShortcut.keyCode);
    EXPECT_EQ(alerts->shown().size(), 1U) << "no shortcut dialog follows the question";
}

TEST_F(AppTest, WithoutSyntheticInputItSaysSoInTheUsersLanguage) {
    keystroke->setWorks(false);
    startWith(kDefaultShortcut, u"zh"_s);
    ASSERT_EQ(alerts->shown().size(), 1U);
    EXPECT_EQ(alerts->shown().front().title, u"需要辅助功能权限");
    EXPECT_EQ(alerts->shown().front().buttons, (QStringList{u"打开系统设置"_s, u"取消"_s}));
    EXPECT_EQ(urls->opened(), std::vector<QUrl>{QUrl(QString::fromUtf16(kInputHelpUrl))});
    EXPECT_TRUE(hotkey->held().has_value()) << "the menu and About keep working";

    // About names the program's version and leads to its three pages; Close to none.
    alerts->answer(2);
    alerts->answer(3);
    QCoreApplication::setApplicationVersion(u"2.7.1"_s);
    ASSERT_TRUE(tray->choose(u"关于"_s));
    EXPECT_TRUE(alerts->shown().back().text.startsWith(u"版本: 2.7.1\n"_s));
    ASSERT_TRUE(tray->choose(u"关于"_s));
    EXPECT_EQ(urls->opened().back(), QUrl(QString::fromUtf16(kSupportUrl)));
    EXPECT_EQ(urls->opened().size(), 2U);
}

TEST_F(AppTest, OutcomesAreToldInTheLanguageOfTheMomentTheyShow) {
    startWith(kDefaultShortcut);
    clipboard->copy(u"a"_s);
    press();
    press();
    settings->setString(u"appLanguage"_s, u"zh"_s);
    clipboard->copy(u"\n"_s);
    press();
    stateFile->setWritable(false);
    clipboard->copy(u"b\nc"_s);
    press();
    press();
    // A line nobody took is told each time; the place is kept.
    clipboard->setFetchResult(FetchResult::NotFetched);
    clipboard->copy(u"d\ne"_s);
    press();
    press();
    mainQueue->runPending();
    EXPECT_EQ(clipboard->writtenLines(), (QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"d"_s}));
    ASSERT_EQ(notices().size(), 5);
    EXPECT_EQ(notices()[0], u"Quillet: 所有内容已粘贴完毕！"_s);
    EXPECT_EQ(notices()[1], u"Quillet: 剪贴板中没有可粘贴的内容。请重新复制多行文本。"_s);
    EXPECT_TRUE(notices()[2].contains(u"无法保存设置"_s)) << "told once";
    EXPECT_TRUE(notices()[3].contains(u"没有应用接收这一行"_s));
    EXPECT_EQ(notices()[4], notices()[3]);

    // The clipboard cannot be taken, for the line or to put back the copy;
    // a language choice cannot be stored.
    clipboard->refuseLines = true;
    press();
    clipboard->refuseLines = false;
    clipboard->refuseRestores = true;
    clipboard->setFetchResult(FetchResult::Fetched);
    press();
    clipboard->refuseRestores = false;
    clipboard->partialReads = true;
    press();
    settings->setWritable(false);
    ASSERT_TRUE(tray->choose(u"English"_s));
    mainQueue->runPending();
    ASSERT_EQ(notices().size(), 9);
    EXPECT_TRUE(notices()[5].contains(u"无法占用剪贴板"_s));
    EXPECT_TRUE(notices()[6].contains(u"无法恢复您之前复制的内容"_s));
    EXPECT_TRUE(notices()[7].contains(u"未能在 5 秒内交出全部内容"_s));
    EXPECT_TRUE(notices()[8].contains(u"无法保存此设置"_s));
}

TEST_F(AppTest, AStateFileLeftAloneIsToldOnceForEachReasonAndPastingGoesOn) {
    const auto told = [](const Text& message) {
        return u"Quillet: "_s + message.in(Language::English);
    };
    stateFile->setRefusal(StateRefusal::NotAFile);
    startWith(kDefaultShortcut);
    EXPECT_EQ(notices(), QStringList{told(text::kStateNotAFile)});
    clipboard->copy(u"a\nb"_s);
    press();
    press();
    stateFile->setRefusal(StateRefusal::SharedFolder);
    press();
    stateFile->setRefusal(StateRefusal::NotAFile);
    press();
    mainQueue->runPending();
    EXPECT_EQ(clipboard->writtenLines(), (QStringList{u"a"_s, u"b"_s, u"a"_s}));
    EXPECT_EQ(notices(), (QStringList{told(text::kStateNotAFile), told(text::kStateFolderShared),
                                      told(text::kAllPasted)}));
    EXPECT_EQ(stateFile->writes(), 0);
}

}  // namespace
}  // namespace quillet
