#pragma once

#include "platform/global_hotkey.h"
#include "platform/gnome/custom_keybindings.h"

#include <map>

namespace quillet {

// GNOME lets no program take a shortcut (its GrabAccelerator is the shell's
// own), but runs a command for a custom keybinding: each action's shortcut
// becomes one that runs `quillet --paste-next` (--back, --skip, --restart),
// and the press reaches the running copy as a command. So the handler is
// never called. What is written stays in the user's settings until released.
class GlobalHotkeyGnome final : public GlobalHotkey {
public:
    // launcher: the `quillet` command the keybindings run, in full.
    explicit GlobalHotkeyGnome(QString launcher, GSettingsBackend* backend = nullptr)
        : keybindings_(backend), launcher_(std::move(launcher)) {}

    void setHandler(std::function<void(ShortcutAction)> /*onPress*/) override {}
    // False also for a shortcut one of GNOME's own keybindings or another
    // custom keybinding has.
    bool grab(ShortcutAction action, Shortcut shortcut) override;
    void release(ShortcutAction action) override;
    void releaseAll() override;
    bool writesDesktopSettings() const override { return true; }

    // Why nothing can be grabbed here; "" when it can.
    const QString& problem() const { return keybindings_.problem(); }

private:
    gnome::CustomKeybindings keybindings_;
    QString launcher_;
    std::map<ShortcutAction, Shortcut> held_;
};

}  // namespace quillet
