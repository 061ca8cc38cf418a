#include "platform/desktop_route.h"

#include <QStringTokenizer>

namespace quillet {

bool desktopNamed(QStringView currentDesktop, QStringView name) {
    for (const QStringView part : currentDesktop.tokenize(u':')) {
        if (part.trimmed().compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

Route chooseRoute(const SessionFacts& facts) {
    if (!facts.qtOnWayland) {
        return {Route::Desktop::X11, Route::Keys::X11, Route::Shortcut::X11};
    }
    // GNOME lends neither data-control nor a virtual keyboard; its RemoteDesktop
    // portal (43) would ask with a dialog and take the focus, mutter's own API does not.
    if (desktopNamed(facts.currentDesktop, u"GNOME") &&
        (facts.mutterRemoteDesktop || facts.portalClipboard)) {
        return {Route::Desktop::Gnome, Route::Keys::Gnome, Route::Shortcut::UserBinds};
    }
    if (!facts.dataControl) {
        return {};
    }
    Route route{Route::Desktop::Wayland, Route::Keys::VirtualKeyboard, Route::Shortcut::UserBinds};
    if (!facts.virtualKeyboard && facts.portalKeyboard) {
        route.keys = Route::Keys::Portal;
    }
    if (desktopNamed(facts.currentDesktop, u"KDE") && facts.portalShortcuts) {
        route.shortcut = Route::Shortcut::Portal;
    }
    return route;
}

}  // namespace quillet
