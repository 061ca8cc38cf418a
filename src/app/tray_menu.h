#pragma once

#include "core/app_state.h"
#include "core/shortcut_action.h"
#include "platform/tray.h"

#include <functional>
#include <vector>

namespace quillet {

class Autostart;
class HotkeyRegistration;
class LanguageChoice;
class SettingsStore;

// The tray item and its menu, in the current language: the shortcuts and the
// dialog that sets each, where the run stands and the moves within it, a usage
// hint, lines or cells and the key after each, the language choice, start at
// login, About and Quit. UI thread only.
class TrayMenu {
public:
    // Run once the menu has closed.
    struct Actions {
        std::function<void(ShortcutAction)> changeShortcut;
        std::function<void()> back;
        std::function<void()> skip;
        std::function<void()> startOver;
        std::function<void()> showList;
        std::function<void()> about;
        std::function<void()> quit;
        std::function<void(bool)> setStartAtLogin;
        std::function<void()> pasteCellsSwitched;  // after the setting is stored
    };

    TrayMenu(Tray& tray, LanguageChoice& language, SettingsStore& settings,
             const HotkeyRegistration& hotkeys, const Autostart& autostart, Actions actions)
        : tray_(tray),
          language_(language),
          settings_(settings),
          hotkeys_(hotkeys),
          autostart_(autostart),
          actions_(std::move(actions)) {}

    void show();
    // Builds the whole menu anew: after a language switch or a new shortcut.
    void rebuild();
    // The run as it stands now: shown in the tool tip and the menu.
    void setRun(AppState run);

    // The rows as they are now, for tests.
    std::vector<MenuRow> rows();

private:
    Tray& tray_;
    LanguageChoice& language_;
    SettingsStore& settings_;
    const HotkeyRegistration& hotkeys_;
    const Autostart& autostart_;
    Actions actions_;
    AppState run_;
};

}  // namespace quillet
