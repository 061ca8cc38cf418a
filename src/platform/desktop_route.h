#pragma once

#include <QStringView>

namespace quillet {

// What main finds out about the session before it picks the services.
struct SessionFacts {
    bool qtOnWayland = false;
    QStringView currentDesktop;        // XDG_CURRENT_DESKTOP, names joined by ':'
    bool dataControl = false;          // the compositor lends its clipboard
    bool virtualKeyboard = false;      // the compositor lends a keyboard
    bool mutterRemoteDesktop = false;  // org.gnome.Mutter.RemoteDesktop answers
    bool portalClipboard = false;      // the portal lists a Clipboard for remote desktops
    bool portalKeyboard = false;       // the portal answered with a keyboard among its devices
    bool portalShortcuts = false;      // the portal answered with a GlobalShortcuts version
};

// Which services the program uses. The portal's interfaces are listed by
// whatever backends are installed, whichever desktop runs (sway with
// xdg-desktop-portal-kde lists GlobalShortcuts): the desktop's name decides
// what is worth asking the portal for.
struct Route {
    enum class Desktop { X11, Wayland, Gnome, Unsupported };
    enum class Keys { X11, VirtualKeyboard, Portal, Gnome };
    enum class Shortcut { X11, Portal, UserBinds };

    Desktop desktop = Desktop::Unsupported;
    Keys keys = Keys::X11;
    Shortcut shortcut = Shortcut::X11;

    friend bool operator==(const Route&, const Route&) = default;
};

Route chooseRoute(const SessionFacts& facts);

// Whether the colon-separated desktop names hold `name`, in any case.
bool desktopNamed(QStringView currentDesktop, QStringView name);

}  // namespace quillet
