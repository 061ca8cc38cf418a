#include "platform/gnome/global_hotkey_gnome.h"

#include <glib.h>

#include <algorithm>
#include <memory>

namespace quillet {

namespace {

// The entry's name in GNOME's keyboard settings, where the user sees it.
QString entryName(ShortcutAction action) {
    return QStringLiteral("Quillet: ") + actionName(action).in(Language::English);
}

}  // namespace

bool GlobalHotkeyGnome::grab(ShortcutAction action, Shortcut shortcut) {
    held_.erase(action);
    const auto binding = gnome::accelerator(shortcut);
    const bool ours = std::any_of(held_.begin(), held_.end(),
                                  [shortcut](const auto& held) { return held.second == shortcut; });
    // gsd-media-keys splits the command as a shell would.
    const std::unique_ptr<gchar, decltype(&g_free)> quoted(
        g_shell_quote(launcher_.toUtf8().constData()), &g_free);
    const QString command =
        QString::fromUtf8(quoted.get()) + QLatin1StringView(" --") + gnome::actionWord(action);
    if (!binding || ours || keybindings_.taken(shortcut) ||
        !keybindings_.set(action, entryName(action), *binding, command)) {
        keybindings_.remove(action);
        return false;
    }
    held_[action] = shortcut;
    return true;
}

void GlobalHotkeyGnome::release(ShortcutAction action) {
    held_.erase(action);
    keybindings_.remove(action);
}

void GlobalHotkeyGnome::releaseAll() {
    for (const ShortcutAction action : kShortcutActions) {
        release(action);
    }
}

}  // namespace quillet
