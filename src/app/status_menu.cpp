#include "app/status_menu.h"

#include "hotkey/stored_shortcut.h"
#include "platform/main_queue.h"
#include "platform/settings_store.h"
#include "platform/status_item.h"

#include <limits>

namespace quillet {

namespace {

constexpr int kShortcutRowTag = 1;

MenuEntry item(QString title, MenuCommand command) {
    MenuEntry entry;
    entry.title = std::move(title);
    entry.command = command;
    return entry;
}

MenuEntry separator() {
    MenuEntry entry;
    entry.kind = MenuEntry::Kind::Separator;
    return entry;
}

MenuEntry languageItem(QString title, QStringView code, const QString& stored) {
    MenuEntry entry = item(std::move(title), MenuCommand::Language);
    entry.languageCode = code.toString();
    entry.checkable = true;
    // Exact: a value other than the three codes checks none of them.
    entry.checked = stored == code;
    return entry;
}

std::vector<MenuRow> toRows(const std::vector<MenuEntry>& entries,
                            const StatusMenuController::CommandHandler& onCommand) {
    std::vector<MenuRow> rows;
    rows.reserve(entries.size());
    for (const MenuEntry& entry : entries) {
        MenuRow row;
        row.kind = entry.kind == MenuEntry::Kind::Separator ? MenuRow::Kind::Separator
                   : entry.kind == MenuEntry::Kind::Submenu ? MenuRow::Kind::Submenu
                                                            : MenuRow::Kind::Action;
        row.title = entry.title;
        row.keyText = keyEquivalentText(entry.keyEquivalent, entry.keyEquivalentModifiers);
        row.enabled = entry.enabled;
        row.checkable = entry.checkable;
        row.checked = entry.checked;
        if (entry.command == MenuCommand::SetShortcut) {
            row.tag = kShortcutRowTag;
        }
        if (entry.command != MenuCommand::None) {
            row.onChosen = [onCommand, entry] { onCommand(entry); };
        }
        row.children = toRows(entry.submenu, onCommand);
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

QString statusItemTitle(const LocalizedStrings& strings) {
    return strings.text(u"Paste", u"粘贴");
}

StatusMenu buildStatusMenu(const LocalizedStrings& strings, const SettingsStore& settings) {
    StatusMenu menu;
    menu.title = statusItemTitle(strings);

    std::vector<MenuEntry>& rows = menu.entries;
    rows.push_back(
        item(strings.text(u"Set Shortcut...", u"设置快捷键..."), MenuCommand::SetShortcut));
    rows.push_back(separator());

    MenuEntry usage =
        item(strings.text(u"Usage: Copy multi-lines, press shortcut to paste line by line.",
                          u"使用说明：复制多行文本，按下快捷键逐行粘贴。"),
             MenuCommand::None);
    usage.enabled = false;
    rows.push_back(std::move(usage));

    const QString stored = settings.string(QString::fromUtf16(kAppLanguageKey))
                               .value_or(QString::fromUtf16(kLanguageAuto));
    MenuEntry language = item(QStringLiteral("Language / 语言"), MenuCommand::None);
    language.kind = MenuEntry::Kind::Submenu;
    language.submenu = {
        languageItem(strings.text(u"Auto (System Default)", u"自动 (跟随系统)"), kLanguageAuto,
                     stored),
        languageItem(QStringLiteral("English"), kLanguageEnglish, stored),
        languageItem(QStringLiteral("中文"), kLanguageChinese, stored),
    };
    rows.push_back(std::move(language));

    rows.push_back(separator());
    rows.push_back(item(strings.text(u"About", u"关于"), MenuCommand::About));
    rows.push_back(separator());

    MenuEntry quit = item(strings.text(u"Quit", u"退出"), MenuCommand::Quit);
    quit.keyEquivalent = QStringLiteral("q");
    quit.keyEquivalentModifiers = modifier::kCommand;
    rows.push_back(std::move(quit));
    return menu;
}

ShortcutDisplay readShortcutDisplay(const SettingsStore& settings) {
    const std::int64_t code = settings.integer(QString::fromUtf16(kHotkeyCodeKey));
    const std::int64_t modifiers = settings.integer(QString::fromUtf16(kHotkeyModifiersKey));

    ShortcutDisplay display;
    display.shortcutText = storedShortcutText(settings);
    // Unlike the text, the key equivalent takes code 0 for what it is: the A key.
    if (code >= 0 && code <= std::numeric_limits<KeyCode>::max()) {
        display.keyEquivalent = keyCodeToChar(static_cast<KeyCode>(code)).value_or(QString());
        display.keyEquivalent = display.keyEquivalent.toLower();
    }
    display.keyEquivalentModifiers = modifiers < 0 ? 0 : static_cast<ModifierFlags>(modifiers);
    return display;
}

QString shortcutEntryTitle(const LocalizedStrings& strings, const QString& shortcutText) {
    return strings.text(u"Set Shortcut (Current: ", u"设置快捷键 (当前: ") + shortcutText + u')';
}

QString keyEquivalentText(const QString& key, ModifierFlags modifiers) {
    if (key.isEmpty()) {
        return {};
    }
    return stringRepresentation(modifiers) + key.toUpper();
}

StatusMenuController::StatusMenuController(StatusItem& item, SettingsStore& settings,
                                           MainQueue& mainQueue, LocalizedStrings strings,
                                           CommandHandler onCommand)
    : item_(&item),
      settings_(&settings),
      mainQueue_(&mainQueue),
      strings_(strings),
      onCommand_(std::move(onCommand)) {}

void StatusMenuController::setupStatusBarItem() {
    item_->show();
    retitle();
    rebuildMenu();
}

void StatusMenuController::retitle() {
    item_->setTitle(statusItemTitle(strings_));
}

void StatusMenuController::rebuildMenu() {
    item_->setMenu(toRows(buildStatusMenu(strings_, *settings_).entries, onCommand_));
    updateHotkeyDisplay();
}

void StatusMenuController::switchLanguage(const QString& code) {
    settings_->setString(QString::fromUtf16(kAppLanguageKey), code);
    settings_->synchronize();
    rebuildMenu();
    retitle();
}

void StatusMenuController::updateHotkeyDisplay() {
    const ShortcutDisplay display = readShortcutDisplay(*settings_);
    mainQueue_->post([this, display] {
        item_->setRowText(kShortcutRowTag, shortcutEntryTitle(strings_, display.shortcutText),
                          keyEquivalentText(display.keyEquivalent, display.keyEquivalentModifiers));
    });
}

}  // namespace quillet
