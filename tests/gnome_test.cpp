// GNOME's custom keybindings, on GSettings' memory backend with the schemas
// the system has installed.

#include "platform/gnome/custom_keybindings.h"
#include "platform/gnome/global_hotkey_gnome.h"
#include "platform/xkb/key_table.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <gtest/gtest.h>

#include <memory>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;
using namespace modifier;

constexpr ModifierFlags kAll = kControl | kOption | kShift | kCommand;

TEST(GnomeAccelerator, SpellsEveryModifierAndKeyAsGnomeReadsThem) {
    EXPECT_EQ(gnome::accelerator(kDefaultShortcut), u"<Control><Alt><Super>v");
    EXPECT_EQ(gnome::accelerator({0x6F, kShift}), u"<Shift>F12");
    EXPECT_EQ(gnome::accelerator({0x31, kControl}), u"<Control>space");
    EXPECT_EQ(gnome::accelerator({0x12, kAll}), u"<Control><Alt><Shift><Super>1");
    EXPECT_EQ(gnome::accelerator({0x52, 0}), u"KP_0");
    EXPECT_EQ(gnome::accelerator({0x0A, kControl}), std::nullopt) << "no keysym";
    // Every key the program can grab comes back from its accelerator, with
    // each modifier alone and all of them.
    for (int code = 0; code < 0x80; ++code) {
        if (!xkb::keysymForKeyCode(static_cast<KeyCode>(code))) {
            continue;
        }
        for (const ModifierFlags flags : {kControl, kOption, kShift, kCommand, kAll}) {
            const Shortcut shortcut{static_cast<KeyCode>(code), flags};
            const auto text = gnome::accelerator(shortcut);
            ASSERT_TRUE(text.has_value()) << code;
            EXPECT_EQ(gnome::shortcutOfAccelerator(*text), shortcut) << text->toStdString();
        }
    }
    // GNOME's other spellings; what the program has no key or bit for is none.
    EXPECT_EQ(gnome::shortcutOfAccelerator(u"<Primary><mod1>V"), (Shortcut{9, kControl | kOption}));
    EXPECT_EQ(gnome::shortcutOfAccelerator(u"<Ctrl><Mod4>Page_Down"),
              (Shortcut{0x79, kControl | kCommand}));
    for (const auto* none :
         {u"", u"disabled", u"<Control>", u"<Hyper>v", u"<Control", u"XF86Mail"}) {
        EXPECT_EQ(gnome::shortcutOfAccelerator(QStringView(none)), std::nullopt);
    }
}

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

QStringList listOf(GSettings* settings) {
    const std::unique_ptr<gchar*, decltype(&g_strfreev)> paths(
        g_settings_get_strv(settings, "custom-keybindings"), &g_strfreev);
    QStringList list;
    for (gchar** path = paths.get(); *path != nullptr; ++path) {
        list.append(QString::fromUtf8(*path));
    }
    return list;
}

// name, command and binding
QStringList entryAt(GSettingsBackend* backend, const QString& path) {
    const std::unique_ptr<GSettings, Unref> entry(g_settings_new_with_backend_and_path(
        "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", backend,
        path.toUtf8().constData()));
    QStringList values;
    for (const char* key : {"name", "command", "binding"}) {
        const std::unique_ptr<gchar, decltype(&g_free)> value(
            g_settings_get_string(entry.get(), key), &g_free);
        values.append(QString::fromUtf8(value.get()));
    }
    return values;
}

TEST(GlobalHotkeyGnome, KeepsItsOwnEntriesBesideTheUsersAndRefusesKeysGnomeUses) {
    const std::unique_ptr<GSettingsBackend, Unref> backend(g_memory_settings_backend_new());
    GlobalHotkeyGnome hotkey(u"/opt/my apps/quillet"_s, backend.get());
    if (!hotkey.problem().isEmpty()) {
        GTEST_SKIP() << hotkey.problem().toStdString();
    }
    const std::unique_ptr<GSettings, Unref> mediaKeys(
        g_settings_new_with_backend("org.gnome.settings-daemon.plugins.media-keys", backend.get()));
    const QString users =
        u"/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/"_s;
    const QByteArray usersPath = users.toUtf8();
    const char* const userList[] = {usersPath.constData(), nullptr};
    g_settings_set_strv(mediaKeys.get(), "custom-keybindings", userList);
    {
        const std::unique_ptr<GSettings, Unref> entry(g_settings_new_with_backend_and_path(
            "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding", backend.get(),
            usersPath.constData()));
        g_settings_set_string(entry.get(), "binding", "<Control>F12");
    }
    const QString paste = gnome::keybindingPath(ShortcutAction::PasteNext);
    const QString skip = gnome::keybindingPath(ShortcutAction::Skip);
    EXPECT_EQ(skip,
              u"/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/quillet-skip/");

    ASSERT_TRUE(hotkey.grab(ShortcutAction::PasteNext, kDefaultShortcut));
    EXPECT_EQ(listOf(mediaKeys.get()), (QStringList{users, paste}));
    EXPECT_EQ(entryAt(backend.get(), paste),
              (QStringList{u"Quillet: Paste Next Line"_s, u"'/opt/my apps/quillet' --paste-next"_s,
                           u"<Control><Alt><Super>v"_s}));
    // The user's entry, GNOME's own Alt+F4 and our paste's keys are taken.
    EXPECT_FALSE(hotkey.grab(ShortcutAction::Skip, {0x6F, kControl}));
    EXPECT_FALSE(hotkey.grab(ShortcutAction::Skip, {0x76, kOption}));
    EXPECT_FALSE(hotkey.grab(ShortcutAction::Skip, kDefaultShortcut));
    EXPECT_EQ(listOf(mediaKeys.get()), (QStringList{users, paste}));

    ASSERT_TRUE(hotkey.grab(ShortcutAction::Skip, {0x2D, kControl | kOption | kCommand}));
    ASSERT_TRUE(hotkey.grab(ShortcutAction::PasteNext, {0x6F, kShift}));
    EXPECT_EQ(listOf(mediaKeys.get()), (QStringList{users, paste, skip})) << "updated in place";
    EXPECT_EQ(entryAt(backend.get(), paste).back(), u"<Shift>F12");
    EXPECT_EQ(entryAt(backend.get(), skip)[1], u"'/opt/my apps/quillet' --skip");
    hotkey.release(ShortcutAction::Skip);
    EXPECT_EQ(listOf(mediaKeys.get()), (QStringList{users, paste}));
    EXPECT_EQ(entryAt(backend.get(), skip), (QStringList{u""_s, u""_s, u""_s}));
    hotkey.releaseAll();
    EXPECT_EQ(listOf(mediaKeys.get()), QStringList{users});
    EXPECT_EQ(entryAt(backend.get(), users).back(), u"<Control>F12");
}

}  // namespace
}  // namespace quillet
