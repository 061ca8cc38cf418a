#include "platform/gnome/custom_keybindings.h"

#include "platform/xkb/key_table.h"

#include <gio/gio.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

namespace quillet::gnome {

namespace {

constexpr char kMediaKeysSchema[] = "org.gnome.settings-daemon.plugins.media-keys";
constexpr char kEntrySchema[] = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr char kListKey[] = "custom-keybindings";
// Where our entries are; the user's have other names in the same folder.
constexpr auto kOurEntries =
    u"/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/quillet-";

// Where GNOME keeps the keybindings of its own: the window manager's, the
// shell's and gsd-media-keys' fixed ones.
constexpr const char* kOwnSchemas[] = {
    "org.gnome.desktop.wm.keybindings",
    "org.gnome.mutter.keybindings",
    "org.gnome.mutter.wayland.keybindings",
    "org.gnome.shell.keybindings",
    kMediaKeysSchema,
};

struct ModifierName {
    ModifierFlags flag;
    const char* name;
};
// Written in the order the program shows them; the rest are read only.
constexpr ModifierName kModifierNames[] = {
    {modifier::kControl, "Control"}, {modifier::kOption, "Alt"},      {modifier::kShift, "Shift"},
    {modifier::kCommand, "Super"},   {modifier::kControl, "Primary"}, {modifier::kControl, "Ctrl"},
    {modifier::kControl, "Ctl"},     {modifier::kOption, "Mod1"},     {modifier::kShift, "Shft"},
    {modifier::kCommand, "Mod4"},
};
constexpr std::size_t kWrittenModifiers = 4;

struct FreeStrv {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};

struct UnrefSchema {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
using Schema = std::unique_ptr<GSettingsSchema, UnrefSchema>;

struct UnrefVariant {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};

// Null where the schema is not installed.
Schema lookUp(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    return Schema(source == nullptr ? nullptr : g_settings_schema_source_lookup(source, id, TRUE));
}

// Every accelerator a key of the schema holds, "as" or "s".
QStringList accelerators(GSettings* settings, GSettingsSchema* schema) {
    QStringList found;
    const std::unique_ptr<gchar*, FreeStrv> keys(g_settings_schema_list_keys(schema));
    for (gchar** key = keys.get(); *key != nullptr; ++key) {
        const std::unique_ptr<GVariant, UnrefVariant> held(g_settings_get_value(settings, *key));
        GVariant* value = held.get();
        if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
            const std::unique_ptr<const gchar*, decltype(&g_free)> strings(
                g_variant_get_strv(value, nullptr), &g_free);
            for (const gchar** string = strings.get(); *string != nullptr; ++string) {
                found.append(QString::fromUtf8(*string));
            }
        } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
            found.append(QString::fromUtf8(g_variant_get_string(value, nullptr)));
        }
    }
    return found;
}

QString stringOf(GSettings* settings, const char* key) {
    const std::unique_ptr<gchar, decltype(&g_free)> value(g_settings_get_string(settings, key),
                                                          &g_free);
    return QString::fromUtf8(value.get());
}

}  // namespace

QLatin1StringView actionWord(ShortcutAction action) {
    switch (action) {
        case ShortcutAction::PasteNext:
            break;
        case ShortcutAction::Back:
            return QLatin1StringView("back");
        case ShortcutAction::Skip:
            return QLatin1StringView("skip");
        case ShortcutAction::StartOver:
            return QLatin1StringView("restart");
    }
    return QLatin1StringView("paste-next");
}

std::optional<QString> accelerator(Shortcut shortcut) {
    const auto name = xkb::keysymName(shortcut.keyCode);
    if (!name) {
        return std::nullopt;
    }
    QString text;
    for (std::size_t i = 0; i < kWrittenModifiers; ++i) {
        if ((shortcut.modifiers & kModifierNames[i].flag) != 0) {
            text += u'<' + QLatin1StringView(kModifierNames[i].name) + u'>';
        }
    }
    return text + *name;
}

std::optional<Shortcut> shortcutOfAccelerator(QStringView accelerator) {
    ModifierFlags flags = 0;
    while (accelerator.startsWith(u'<')) {
        const qsizetype end = accelerator.indexOf(u'>');
        const QStringView name = end < 0 ? QStringView() : accelerator.sliced(1, end - 1);
        const auto* found = std::find_if(
            std::begin(kModifierNames), std::end(kModifierNames), [name](const ModifierName& m) {
                return name.compare(QLatin1StringView(m.name), Qt::CaseInsensitive) == 0;
            });
        if (found == std::end(kModifierNames)) {
            return std::nullopt;
        }
        flags |= found->flag;
        accelerator = accelerator.sliced(end + 1);
    }
    const QByteArray key = accelerator.toUtf8();
    const xkb_keysym_t keysym = xkb_keysym_from_name(key.constData(), XKB_KEYSYM_CASE_INSENSITIVE);
    const auto code = keysym == XKB_KEY_NoSymbol ? std::nullopt : xkb::keyCodeForKeysym(keysym);
    if (!code) {
        return std::nullopt;
    }
    return Shortcut{*code, flags};
}

QString keybindingPath(ShortcutAction action) {
    return QString::fromUtf16(kOurEntries) + actionWord(action) + u'/';
}

void CustomKeybindings::Unref::operator()(void* object) const {
    g_object_unref(object);
}

CustomKeybindings::CustomKeybindings(GSettingsBackend* backend) : backend_(backend) {
    // g_settings_new() aborts the program on a schema it does not know.
    const Schema list = lookUp(kMediaKeysSchema);
    const Schema entry = lookUp(kEntrySchema);
    if (!list || !entry || !g_settings_schema_has_key(list.get(), kListKey) ||
        !g_settings_schema_has_key(entry.get(), "binding")) {
        problem_ =
            QStringLiteral(
                "GNOME's keyboard settings (%1) are not installed, so Quillet cannot add its "
                "shortcuts there")
                .arg(QLatin1StringView(kMediaKeysSchema));
    } else {
        mediaKeys_.reset(g_settings_new_full(list.get(), backend_, nullptr));
    }
}

CustomKeybindings::~CustomKeybindings() {
    g_settings_sync();
}

QStringList CustomKeybindings::listed() const {
    QStringList paths;
    const std::unique_ptr<gchar*, FreeStrv> strings(
        g_settings_get_strv(mediaKeys_.get(), kListKey));
    for (gchar** path = strings.get(); *path != nullptr; ++path) {
        paths.append(QString::fromUtf8(*path));
    }
    return paths;
}

void CustomKeybindings::list(const QStringList& paths) {
    std::vector<QByteArray> bytes;
    std::vector<const gchar*> strings;
    for (const QString& path : paths) {
        bytes.push_back(path.toUtf8());
    }
    for (const QByteArray& path : bytes) {
        strings.push_back(path.constData());
    }
    strings.push_back(nullptr);
    g_settings_set_strv(mediaKeys_.get(), kListKey, strings.data());
}

CustomKeybindings::Settings CustomKeybindings::entryAt(const QString& path) const {
    return Settings(
        g_settings_new_full(lookUp(kEntrySchema).get(), backend_, path.toUtf8().constData()));
}

bool CustomKeybindings::set(ShortcutAction action, const QString& name, const QString& binding,
                            const QString& command) {
    if (!mediaKeys_) {
        return false;
    }
    const Settings settings = entryAt(keybindingPath(action));
    const bool written =
        g_settings_set_string(settings.get(), "name", name.toUtf8().constData()) &&
        g_settings_set_string(settings.get(), "command", command.toUtf8().constData()) &&
        g_settings_set_string(settings.get(), "binding", binding.toUtf8().constData());
    QStringList paths = listed();
    if (written && !paths.contains(keybindingPath(action))) {
        paths.append(keybindingPath(action));
        list(paths);
    }
    // Written before the program goes on: gsd-media-keys follows dconf.
    g_settings_sync();
    if (written && !written_.contains(keybindingPath(action))) {
        written_.append(keybindingPath(action));
    }
    return written;
}

void CustomKeybindings::remove(ShortcutAction action) {
    if (!mediaKeys_) {
        return;
    }
    QStringList paths = listed();
    const bool wasListed = paths.removeAll(keybindingPath(action)) > 0;
    if (!written_.removeAll(keybindingPath(action)) && !wasListed) {
        return;
    }
    list(paths);
    const Settings settings = entryAt(keybindingPath(action));
    for (const char* key : {"name", "command", "binding"}) {
        g_settings_reset(settings.get(), key);
    }
    g_settings_sync();
}

bool CustomKeybindings::taken(Shortcut shortcut) const {
    if (!mediaKeys_) {
        return false;
    }
    QStringList used;
    for (const char* id : kOwnSchemas) {
        if (const Schema schema = lookUp(id)) {
            const Settings settings(g_settings_new_full(schema.get(), backend_, nullptr));
            used += accelerators(settings.get(), schema.get());
        }
    }
    for (const QString& path : listed()) {
        if (!path.startsWith(QString::fromUtf16(kOurEntries))) {
            const Settings settings = entryAt(path);
            used.append(stringOf(settings.get(), "binding"));
        }
    }
    return std::any_of(used.begin(), used.end(), [shortcut](const QString& accelerator) {
        return shortcutOfAccelerator(accelerator) == shortcut;
    });
}

}  // namespace quillet::gnome
