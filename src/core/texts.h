#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string_view>

namespace quillet {

// Every text the user sees exists in English and Simplified Chinese. The
// language is chosen by "appLanguage" ("zh", "en", "auto"; anything else
// counts as "auto"), and "auto" follows the system's first UI language.
enum class Language { English, Chinese };

inline constexpr auto kAppLanguageKey = u"appLanguage";
inline constexpr auto kLanguageAuto = u"auto";
inline constexpr auto kLanguageEnglish = u"en";
inline constexpr auto kLanguageChinese = u"zh";

Language languageFor(const std::optional<QString>& stored, const QStringList& uiLanguages);

// One text in both languages.
struct Text {
    std::u16string_view english;
    std::u16string_view chinese;

    QString in(Language language) const {
        const std::u16string_view text = language == Language::Chinese ? chinese : english;
        return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    }
};

// The program's display name, the title of every notice.
inline constexpr auto kDisplayName = u"Quillet";

namespace text {

// Notices after a press.
inline constexpr Text kAllPasted{u"All lines pasted!", u"所有内容已粘贴完毕！"};
inline constexpr Text kClipboardEmpty{u"Clipboard empty. Please copy multi-line text.",
                                      u"剪贴板中没有可粘贴的内容。请重新复制多行文本。"};
inline constexpr Text kNoKeystroke{
    u"Could not send the paste keystroke, so nothing was pasted. The same line will be offered "
    u"again.",
    u"无法发送粘贴按键，未粘贴任何内容。下次将再次粘贴同一行。"};
inline constexpr Text kClipboardNoAnswer{
    u"The program that holds the clipboard did not answer, so nothing was pasted. Your place in "
    u"the list is kept.",
    u"持有剪贴板内容的程序没有响应，未粘贴任何内容。列表中的当前位置已保留。"};
inline constexpr Text kClipboardTooLarge{
    u"The clipboard holds more than Quillet can take (512 MB), so nothing was pasted. Your place "
    u"in the list is kept.",
    u"剪贴板中的内容超过 Quillet 能处理的上限（512 MB），未粘贴任何内容。列表中的当前位置已保留。"};
inline constexpr Text kClipboardRefused{
    u"Quillet could not take the clipboard, so nothing was pasted. Your place in the list is "
    u"kept.",
    u"Quillet 无法占用剪贴板，未粘贴任何内容。列表中的当前位置已保留。"};
inline constexpr Text kPutBackPartial{
    u"The program that holds the clipboard did not hand over all of it within 5 seconds: what you "
    u"had copied was put back without the formats that did not arrive. The text is back whole.",
    u"持有剪贴板内容的程序未能在 5 秒内交出全部内容：原先复制的内容已恢复，但缺少未及时收到的格式。"
    u"文本已完整恢复。"};
inline constexpr Text kPutBackLost{
    u"Quillet could not put back what you had copied before: the clipboard could not be taken "
    u"again.",
    u"Quillet 无法恢复您之前复制的内容：未能再次占用剪贴板。"};
inline constexpr Text kCannotSave{
    u"Quillet cannot save its settings, so the current position in the list will be lost when it "
    u"quits. Check that ~/.local/state/tarnwick can be written.",
    u"Quillet 无法保存设置，退出后将丢失列表中的当前位置。请检查 ~/.local/state/tarnwick "
    u"是否可写。"};
// Why the state file is left alone (see StateRefusal).
inline constexpr Text kStateNotAFile{
    u"Quillet leaves ~/.local/state/tarnwick/Quillet.json alone: it is not a plain file of yours "
    u"(a link, a pipe or a device, say). Your place in the list will not be saved until you "
    u"remove it.",
    u"Quillet 不会使用 ~/.local/state/tarnwick/Quillet.json：它不是属于您的普通文件（例如链接、管道"
    u"或设备）。在您删除它之前，列表中的当前位置不会被保存。"};
inline constexpr Text kStateTooLarge{
    u"Quillet leaves ~/.local/state/tarnwick/Quillet.json alone: it is larger (over 8 GB) than "
    u"any list Quillet keeps. Your place in the list will not be saved until you remove it.",
    u"Quillet 不会使用 ~/.local/state/tarnwick/Quillet.json：它超过 8 GB，比 Quillet 保存的任何列表"
    u"都大。在您删除它之前，列表中的当前位置不会被保存。"};
inline constexpr Text kStateFolderShared{
    u"Quillet does not keep your list in ~/.local/state/tarnwick: that folder belongs to another "
    u"user, or others may write to it. Your place in the list will not be saved.",
    u"Quillet 不会把列表保存在 ~/.local/state/tarnwick：该文件夹属于其他用户，或其他用户可以写入。"
    u"列表中的当前位置不会被保存。"};
inline constexpr Text kNoLock{
    u"Quillet cannot lock ~/.config/tarnwick/Quillet.lock (it is not a plain file of yours, or "
    u"cannot be made), so it cannot keep a second copy out. Your place in the list will not be "
    u"saved until you fix that and start Quillet again.",
    u"Quillet 无法锁定 ~/.config/tarnwick/Quillet.lock（它不是属于您的普通文件，或无法创建），因此"
    u"无法阻止第二个副本运行。在您修复此问题并重新启动 Quillet 之前，列表中的当前位置不会被保存。"};
inline constexpr Text kNotFetched{
    u"No application took the line, so nothing was pasted. Click into a field and press the "
    u"shortcut again: the same line comes next.",
    u"没有应用接收这一行，未粘贴任何内容。请点击一个输入框后再按一次快捷键：下次仍粘贴同一行。"};
inline constexpr Text kPasteWhileDialogOpen{
    u"Nothing was pasted: the shortcut dialog is open. Close it first; your place in the list is "
    u"kept.",
    u"快捷键设置对话框打开时不会粘贴任何内容。请先关闭它；列表中的当前位置已保留。"};
inline constexpr Text kOnePressDropped{
    u"A press waited more than 10 seconds and was dropped, so that nothing is pasted long after "
    u"you asked. Your place in the list is kept.",
    u"有 1 次按键等待超过 10 秒，已被放弃，以免过了很久才粘贴。列表中的当前位置已保留。"};
inline constexpr Text kPressesDropped{
    u"%1 presses waited more than 10 seconds and were dropped, so that nothing is pasted long "
    u"after you asked. Your place in the list is kept.",
    u"有 %1 次按键等待超过 10 秒，已被放弃，以免过了很久才粘贴。列表中的当前位置已保留。"};

// The shortcut.
inline constexpr Text kShortcutSet{u"Shortcut set successfully!", u"快捷键已设置成功！"};
inline constexpr Text kShortcutNotSaved{
    u"The shortcut works now, but it could not be saved, so it will be lost when Quillet quits. "
    u"Check that ~/.config/tarnwick can be written.",
    u"快捷键现在可以使用，但无法保存，退出 Quillet 后将丢失。请检查 ~/.config/tarnwick 是否可写。"};
inline constexpr Text kSettingNotSaved{
    u"Quillet could not save this setting. Check that ~/.config/tarnwick can be written.",
    u"Quillet 无法保存此设置。请检查 ~/.config/tarnwick 是否可写。"};
inline constexpr Text kShortcutFailed{u"Failed to set shortcut. Please try again.",
                                      u"快捷键设置失败。请重试。"};
inline constexpr Text kShortcutBlocked{
    u"Another program held the keyboard when the shortcut was pressed, so Quillet did not see it. "
    u"Some window managers take the Super key for themselves: choose a shortcut without it in "
    u"the tray menu.",
    u"按下快捷键时另一个程序占用了键盘，Quillet 未能收到该快捷键。有些窗口管理器会独占 Super 键："
    u"请在托盘菜单中设置一个不含 Super 键的快捷键。"};
inline constexpr Text kSetShortcutTitle{u"Set Shortcut", u"设置快捷键"};
inline constexpr Text kCapturePrompt{u"Press the key combination you want to use (e.g. ⌘F or F3).",
                                     u"请按下您想要用于Quillet的快捷键（例如: ⌘F 或 F3）。"};
inline constexpr Text kCaptureCurrent{u"Current: ", u"当前快捷键: "};
inline constexpr Text kCapturePlaceholder{u"Press shortcut...", u"按下快捷键..."};
inline constexpr Text kKeyMissing{u" (Key missing)", u"（缺少非修饰键）"};
inline constexpr Text kCopyDisabled{u" (Copy disabled)", u" (禁用复制键)"};
inline constexpr Text kPasteDisabled{u" (Paste disabled)", u" (禁用粘贴键)"};
inline constexpr Text kModifierMissing{u" (Modifier missing)", u" (缺少修饰键)"};
inline constexpr Text kConfirm{u"Confirm", u"确认"};
inline constexpr Text kCancel{u"Cancel", u"取消"};

// Asked before the shortcuts go into GNOME's own settings; %1 is the paste's.
inline constexpr Text kDesktopShortcutsTitle{u"Add Quillet's shortcuts to GNOME?",
                                             u"将 Quillet 的快捷键添加到 GNOME？"};
inline constexpr Text kDesktopShortcutsBody{
    u"GNOME lets no program take a shortcut itself. Quillet can add its shortcuts (%1 pastes the "
    u"next line) to GNOME's keyboard settings as custom shortcuts, update them when you change "
    u"them in its menu, and remove them when it quits. Your own shortcuts stay as they are.\n\n"
    u"Without them, bind the command quillet --paste-next in Settings → Keyboard → Custom "
    u"Shortcuts yourself.",
    u"GNOME 不允许程序自行占用快捷键。Quillet 可以把它的快捷键（%1 粘贴下一行）"
    u"作为自定义快捷键添加到 GNOME 的键盘设置中，在您于菜单中更改时同步更新，"
    u"并在退出时移除。您自己的快捷键保持不变。\n\n"
    u"如果不添加，请自行在“设置 → 键盘 → 自定义快捷键”中绑定命令 quillet --paste-next。"};
inline constexpr Text kAddShortcuts{u"Add Shortcuts", u"添加快捷键"};
inline constexpr Text kDontAdd{u"Don't Add", u"不添加"};

// Shortcuts of the moves, beside the paste's.
inline constexpr Text kMoveShortcuts{u"Move Shortcuts", u"移动快捷键"};
inline constexpr Text kSetMoveShortcutTitle{u"Set Shortcut: %1", u"设置快捷键：%1"};
inline constexpr Text kPasteNextAction{u"Paste Next Line", u"粘贴下一行"};
inline constexpr Text kNoShortcut{u"None", u"无"};
inline constexpr Text kClear{u"Clear", u"清除"};
inline constexpr Text kShortcutCleared{u"Shortcut cleared.", u"快捷键已清除。"};
inline constexpr Text kShortcutInUse{u"%1 is already the shortcut for “%2”. Please choose another.",
                                     u"%1 已是“%2”的快捷键。请选择其他快捷键。"};

// The tray item and its menu.
inline constexpr Text kTrayTitle{u"Paste", u"粘贴"};
inline constexpr Text kSetShortcutCurrent{u"Set Shortcut (Current: ", u"设置快捷键 (当前: "};
inline constexpr Text kUsage{u"Usage: Copy multi-lines, press shortcut to paste line by line.",
                             u"使用说明：复制多行文本，按下快捷键逐行粘贴。"};
inline constexpr auto kLanguageMenu = u"Language / 语言";
inline constexpr Text kLanguageAutoItem{u"Auto (System Default)", u"自动 (跟随系统)"};
inline constexpr auto kEnglishItem = u"English";
inline constexpr auto kChineseItem = u"中文";
inline constexpr Text kAbout{u"About", u"关于"};
inline constexpr Text kQuit{u"Quit", u"退出"};

// Where the run stands, and moving in it.
inline constexpr Text kPosition{u"%1 of %2 · next: %3", u"第 %1 行，共 %2 行 · 下一行：%3"};
inline constexpr Text kPositionAllPasted{u"All %1 lines pasted", u"%1 行已全部粘贴"};
inline constexpr Text kPositionNoList{u"No list: copy some lines", u"没有列表：请复制多行文本"};
inline constexpr Text kCellPosition{u"row %1, cell %2 of %3 · next: %4",
                                    u"第 %1 行，第 %2 格（共 %3 格）· 下一格：%4"};
inline constexpr Text kCellsAllPasted{u"All %1 rows pasted", u"%1 行已全部粘贴"};
inline constexpr Text kEmptyCell{u"(empty cell)", u"（空单元格）"};
inline constexpr Text kBack{u"Back", u"上一行"};
inline constexpr Text kSkip{u"Skip", u"跳过"};
inline constexpr Text kStartOver{u"Start Over", u"从头开始"};
inline constexpr Text kShowList{u"Show List…", u"显示列表…"};
inline constexpr Text kListTitle{u"Quillet — List", u"Quillet — 列表"};
inline constexpr Text kAfterEachLine{u"After Each Line", u"每行之后"};
inline constexpr Text kFollowNothing{u"Nothing", u"无"};
inline constexpr Text kFollowTab{u"Tab", u"Tab 键"};
inline constexpr Text kFollowEnter{u"Enter", u"回车键"};
inline constexpr Text kPasteCells{u"Paste Cells", u"按单元格粘贴"};

// Start at login, and why it could not be changed (the reason follows).
inline constexpr Text kStartAtLogin{u"Start at Login", u"登录时启动"};
inline constexpr Text kStartAtLoginOnFailed{u"Could not turn on Start at Login.",
                                            u"无法开启“登录时启动”。"};
inline constexpr Text kStartAtLoginOffFailed{u"Could not turn off Start at Login.",
                                             u"无法关闭“登录时启动”。"};

// About.
inline constexpr Text kAboutTitle{u"About Quillet", u"关于 Quillet"};
inline constexpr Text kAboutBody{
    u"Version: %1\n© 2026 Tarnwick\n\nSimple utility for easier data entry.",
    u"版本: %1\n© 2026 塔恩威克\n\n简单的效率工具，让数据录入更轻松。"};
inline constexpr Text kVisitWebsite{u"Visit Website", u"访问主页"};
inline constexpr Text kFeedback{u"Feedback", u"反馈问题"};
inline constexpr Text kSupportDev{u"Support Dev", u"支持开发者"};
inline constexpr Text kClose{u"Close", u"关闭"};

// Told at start-up when this session cannot send synthetic keystrokes.
inline constexpr Text kInputPermissionTitle{u"Accessibility Permission Needed",
                                            u"需要辅助功能权限"};
inline constexpr Text kInputPermissionBody{
    u"Quillet pastes by sending Control+V to the application you type in, and this session does "
    u"not let it send keystrokes. It needs an X11 session with the XTEST extension. On Wayland, "
    u"choose an X11 session when you log in (for example \"GNOME on Xorg\" or \"Plasma (X11)\") "
    u"and start Quillet again.",
    u"Quillet 通过向您正在输入的应用发送 Control+V 来粘贴，但当前会话不允许它发送按键。"
    u"Quillet 需要支持 XTEST 扩展的 X11 会话。如果您使用 Wayland，请在登录时选择 X11 "
    u"会话（例如“GNOME on Xorg”或“Plasma (X11)”），然后重新启动 Quillet。"};
inline constexpr Text kOpenSettings{u"Open Settings", u"打开系统设置"};

}  // namespace text

}  // namespace quillet
