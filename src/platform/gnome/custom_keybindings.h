#pragma once

// GNOME runs a command for a key when the command is one of its custom
// keybindings: gsd-media-keys reads them from GSettings and asks the shell to
// take their keys. Quillet keeps one such entry per action, at a path of its
// own, and leaves every other entry as it is.

#include "core/keys.h"
#include "core/shortcut_action.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

typedef struct _GSettings GSettings;
typedef struct _GSettingsBackend GSettingsBackend;

namespace quillet::gnome {

// The shortcut as GNOME's settings spell it, "<Control><Alt><Super>v" for
// ⌃⌥⌘V; none for key codes without a keysym.
std::optional<QString> accelerator(Shortcut shortcut);

// What an accelerator from GNOME's settings stands for in the program's
// vocabulary; none for "", "disabled", keys outside the vocabulary and
// modifiers the program has no bit for (Hyper, Meta).
std::optional<Shortcut> shortcutOfAccelerator(QStringView accelerator);

// The action's word in its command-line option and in its entry's path:
// "paste-next", "back", "skip", "restart".
QLatin1StringView actionWord(ShortcutAction action);

// The dconf path of the action's entry, ".../custom-keybindings/quillet-back/".
QString keybindingPath(ShortcutAction action);

// The custom keybindings in GNOME's settings, through GIO. UI thread only.
class CustomKeybindings {
public:
    // backend: where the values live; null for the session's (dconf). It
    // must outlive this object.
    explicit CustomKeybindings(GSettingsBackend* backend = nullptr);
    ~CustomKeybindings();
    CustomKeybindings(const CustomKeybindings&) = delete;
    CustomKeybindings& operator=(const CustomKeybindings&) = delete;

    // Why GNOME's settings cannot be used (their schemas are not installed:
    // not GNOME); "" when they can.
    const QString& problem() const { return problem_; }

    // Writes the action's entry and lists it, unless listed already.
    bool set(ShortcutAction action, const QString& name, const QString& binding,
             const QString& command);
    // Unlists and clears the action's entry; nothing is written where it is
    // not listed.
    void remove(ShortcutAction action);
    // Whether a keybinding of GNOME's own, or a custom one not ours, has it.
    bool taken(Shortcut shortcut) const;

    struct Unref {
        void operator()(void* object) const;
    };
    using Settings = std::unique_ptr<GSettings, Unref>;

private:
    QStringList listed() const;
    void list(const QStringList& paths);
    Settings entryAt(const QString& path) const;

    GSettingsBackend* backend_ = nullptr;  // not owned
    Settings mediaKeys_;                   // null without the schemas
    QString problem_;
    // Entries this object wrote: a read just after our own write may not
    // have heard of it yet (a dconf reader whose change flag another user
    // owns), so removing goes by this too.
    QStringList written_;
};

}  // namespace quillet::gnome
