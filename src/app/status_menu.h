#pragma once

#include "app/localized_strings.h"
#include "hotkey/key_names.h"

#include <QString>

#include <functional>
#include <vector>

namespace quillet {

class MainQueue;
class SettingsStore;
class StatusItem;

inline constexpr auto kLanguageAuto = u"auto";
inline constexpr auto kLanguageEnglish = u"en";
inline constexpr auto kLanguageChinese = u"zh";

enum class MenuCommand { None, SetShortcut, About, Quit, Language };

// One row of the status menu, as plain data.
struct MenuEntry {
    enum class Kind { Item, Separator, Submenu };

    Kind kind = Kind::Item;
    QString title;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    // The key shown at the row's right edge (lower case, "" for none) and its
    // modifiers. Shown only: it never takes keys from other applications.
    QString keyEquivalent;
    ModifierFlags keyEquivalentModifiers = 0;
    MenuCommand command = MenuCommand::None;
    QString languageCode;            // Language rows only
    std::vector<MenuEntry> submenu;  // Submenu rows only
};

struct StatusMenu {
    QString title;  // the item's own title: "Paste" / "粘贴"
    std::vector<MenuEntry> entries;
};

QString statusItemTitle(const LocalizedStrings& strings);

// The whole menu in the current language, the checkmark on the stored language.
StatusMenu buildStatusMenu(const LocalizedStrings& strings, const SettingsStore& settings);

// What the shortcut row shows of the stored shortcut. Read from the settings
// on the calling thread; the row's wording is picked when it is applied.
struct ShortcutDisplay {
    QString shortcutText;  // "⌃⌥⌘V"; the default's text when none is stored
    QString keyEquivalent;
    ModifierFlags keyEquivalentModifiers = 0;
};
ShortcutDisplay readShortcutDisplay(const SettingsStore& settings);

// "Set Shortcut (Current: ⌃⌥⌘V)" in the current language.
QString shortcutEntryTitle(const LocalizedStrings& strings, const QString& shortcutText);

// A key equivalent as menus draw it: modifier symbols, then the key in upper
// case ("⌘Q"); "" when there is no key.
QString keyEquivalentText(const QString& key, ModifierFlags modifiers);

// The tray item and its menu: builds the menu whole, switches the language
// and keeps the shortcut row in step with the stored shortcut. UI thread,
// except updateHotkeyDisplay().
class StatusMenuController {
public:
    // Called with the chosen row, on the UI thread, after the menu has closed.
    using CommandHandler = std::function<void(const MenuEntry&)>;

    StatusMenuController(StatusItem& item, SettingsStore& settings, MainQueue& mainQueue,
                         LocalizedStrings strings, CommandHandler onCommand);

    void setupStatusBarItem();
    void rebuildMenu();
    void switchLanguage(const QString& code);
    // Any thread: reads the shortcut now, changes the row on the main queue.
    void updateHotkeyDisplay();

private:
    void retitle();

    StatusItem* item_;
    SettingsStore* settings_;
    MainQueue* mainQueue_;
    LocalizedStrings strings_;
    CommandHandler onCommand_;
};

}  // namespace quillet
