#include "app/tray_menu.h"

#include "app/language.h"
#include "core/cells.h"
#include "core/paste_method.h"
#include "core/run_moves.h"
#include "platform/settings_store.h"
#include "hotkey/hotkey_registration.h"
#include "platform/autostart.h"

namespace quillet {

namespace {

MenuRow action(QString title, std::function<void()> onChosen) {
    MenuRow row;
    row.title = std::move(title);
    row.onChosen = std::move(onChosen);
    return row;
}

MenuRow separator() {
    MenuRow row;
    row.kind = MenuRow::Kind::Separator;
    return row;
}

}  // namespace

void TrayMenu::show() {
    rebuild();
    tray_.show();
}

void TrayMenu::rebuild() {
    const Language language = language_.current();
    tray_.setToolTip(text::kTrayTitle.in(language) + u'\n' + positionText(run_, language));
    tray_.setMenu(rows());
}

void TrayMenu::setRun(AppState run) {
    run_ = std::move(run);
    rebuild();
}

std::vector<MenuRow> TrayMenu::rows() {
    const Language language = language_.current();
    const Shortcut shortcut = hotkeys_.current();

    std::vector<MenuRow> rows;
    MenuRow setShortcut =
        action(text::kSetShortcutCurrent.in(language) + shortcutText(shortcut) + u')',
               [this] { actions_.changeShortcut(ShortcutAction::PasteNext); });
    setShortcut.hint = shortcutHint(shortcut);
    rows.push_back(std::move(setShortcut));
    // A move's hint is its shortcut, where it has one.
    const auto moveHint = [this](ShortcutAction move) {
        const auto assigned = hotkeys_.shortcutFor(move);
        return assigned ? shortcutHint(*assigned) : QString();
    };
    MenuRow moveShortcuts = action(text::kMoveShortcuts.in(language), {});
    moveShortcuts.kind = MenuRow::Kind::Submenu;
    for (const ShortcutAction move : kMoveActions) {
        MenuRow row = action(actionName(move).in(language) + u'…',
                             [this, move] { actions_.changeShortcut(move); });
        row.hint = moveHint(move);
        moveShortcuts.children.push_back(std::move(row));
    }
    rows.push_back(std::move(moveShortcuts));
    rows.push_back(separator());

    MenuRow position = action(positionText(run_, language), {});
    position.enabled = false;
    rows.push_back(std::move(position));
    const bool hasRun = !run_.lines.isEmpty();
    const auto move = [&](ShortcutAction which, const std::function<void()>& onChosen) {
        MenuRow row = action(actionName(which).in(language), onChosen);
        row.enabled = hasRun;
        row.hint = moveHint(which);
        rows.push_back(std::move(row));
    };
    move(ShortcutAction::Back, actions_.back);
    move(ShortcutAction::Skip, actions_.skip);
    move(ShortcutAction::StartOver, actions_.startOver);
    rows.push_back(action(text::kShowList.in(language), actions_.showList));
    rows.push_back(separator());

    MenuRow usage = action(text::kUsage.in(language), {});
    usage.enabled = false;
    rows.push_back(std::move(usage));

    const bool cells = pastesCells(settings_.string(QString::fromUtf16(kPasteCellsKey)));
    MenuRow pasteCells = action(text::kPasteCells.in(language), [this, cells] {
        settings_.setString(QString::fromUtf16(kPasteCellsKey), storedPasteCells(!cells));
        rebuild();
        actions_.pasteCellsSwitched();
    });
    pasteCells.checkable = true;
    pasteCells.checked = cells;
    rows.push_back(std::move(pasteCells));

    MenuRow after = action(text::kAfterEachLine.in(language), {});
    after.kind = MenuRow::Kind::Submenu;
    const FollowKey follow = followKeyFor(settings_.string(QString::fromUtf16(kAfterEachLineKey)));
    for (const auto& [key, title] : {std::pair{FollowKey::Nothing, text::kFollowNothing},
                                     std::pair{FollowKey::Tab, text::kFollowTab},
                                     std::pair{FollowKey::Enter, text::kFollowEnter}}) {
        MenuRow row = action(title.in(language), [this, key] {
            settings_.setString(QString::fromUtf16(kAfterEachLineKey), storedValue(key));
            rebuild();
        });
        row.checkable = true;
        row.checked = key == follow;
        after.children.push_back(std::move(row));
    }
    rows.push_back(std::move(after));

    MenuRow languages = action(QString::fromUtf16(text::kLanguageMenu), {});
    languages.kind = MenuRow::Kind::Submenu;
    const QString stored = language_.stored();
    const auto languageRow = [&](QString title, const char16_t* code) {
        MenuRow row = action(std::move(title), [this, code] {
            language_.set(QStringView(code));
            rebuild();
        });
        row.checkable = true;
        // Exact: a value other than the three codes checks none of them.
        row.checked = stored == QStringView(code);
        return row;
    };
    languages.children = {
        languageRow(text::kLanguageAutoItem.in(language), kLanguageAuto),
        languageRow(QString::fromUtf16(text::kEnglishItem), kLanguageEnglish),
        languageRow(QString::fromUtf16(text::kChineseItem), kLanguageChinese),
    };
    rows.push_back(std::move(languages));

    // A click asks for the opposite of the tick the user saw.
    const bool startsAtLogin = autostart_.enabled();
    MenuRow startAtLogin = action(text::kStartAtLogin.in(language), [this, startsAtLogin] {
        actions_.setStartAtLogin(!startsAtLogin);
    });
    startAtLogin.checkable = true;
    startAtLogin.checked = startsAtLogin;
    rows.push_back(std::move(startAtLogin));

    rows.push_back(separator());
    rows.push_back(action(text::kAbout.in(language), actions_.about));
    rows.push_back(separator());
    rows.push_back(action(text::kQuit.in(language), actions_.quit));
    return rows;
}

}  // namespace quillet
