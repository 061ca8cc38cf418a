#include "core/paste_method.h"

#include <array>
#include <string_view>

namespace quillet {

namespace {

// Terminals take Control+V for themselves and paste the clipboard with
// Control+Shift+V: X11 window classes and Wayland app ids.
constexpr std::array<std::u16string_view, 26> kControlShiftV = {
    u"gnome-terminal",
    u"gnome-terminal-server",
    u"org.gnome.Terminal",
    u"kgx",
    u"org.gnome.Console",
    u"xfce4-terminal",
    u"konsole",
    u"org.kde.konsole",
    u"alacritty",
    u"kitty",
    u"foot",
    u"footclient",
    u"tilix",
    u"com.gexperts.Tilix",
    u"terminator",
    u"lxterminal",
    u"qterminal",
    u"mate-terminal",
    u"sakura",
    u"terminology",
    u"guake",
    u"tilda",
    u"wezterm",
    u"org.wezfurlong.wezterm",
    u"st-256color",
    u"roxterm",
};

// Terminals without a key that pastes the clipboard, as installed.
constexpr std::array<std::u16string_view, 4> kTyping = {u"xterm", u"uxterm", u"urxvt", u"rxvt"};

// Control+V scrolls there; Shift+Insert yanks the clipboard. X11 class and
// Wayland app id alike.
constexpr std::array<std::u16string_view, 1> kShiftInsert = {u"emacs"};

template <std::size_t N>
bool listed(const std::array<std::u16string_view, N>& table, const QString& appId) {
    for (const std::u16string_view name : table) {
        if (appId.compare(QStringView(name), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

PasteMethod pasteMethodFor(const QString& appId, const PasteMethodOverrides& overrides) {
    // The user's lists come first, so they can also move a built-in entry.
    if (overrides.typing.contains(appId, Qt::CaseInsensitive)) {
        return PasteMethod::Typing;
    }
    if (overrides.controlShiftV.contains(appId, Qt::CaseInsensitive)) {
        return PasteMethod::ControlShiftV;
    }
    if (overrides.shiftInsert.contains(appId, Qt::CaseInsensitive)) {
        return PasteMethod::ShiftInsert;
    }
    if (appId.isEmpty()) {
        return PasteMethod::ControlV;
    }
    if (listed(kTyping, appId)) {
        return PasteMethod::Typing;
    }
    if (listed(kShiftInsert, appId)) {
        return PasteMethod::ShiftInsert;
    }
    return listed(kControlShiftV, appId) ? PasteMethod::ControlShiftV : PasteMethod::ControlV;
}

FollowKey followKeyFor(const std::optional<QString>& stored) {
    for (const FollowKey key : {FollowKey::Tab, FollowKey::Enter}) {
        if (stored == storedValue(key)) {
            return key;
        }
    }
    return FollowKey::Nothing;
}

QString storedValue(FollowKey key) {
    switch (key) {
        case FollowKey::Tab:
            return QStringLiteral("tab");
        case FollowKey::Enter:
            return QStringLiteral("enter");
        case FollowKey::Nothing:
            break;
    }
    return QStringLiteral("none");
}

}  // namespace quillet
