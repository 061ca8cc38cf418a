#include "platform/x11/connection.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xcb.h>

#include <cstring>

namespace quillet::x11 {

void DisplayCloser::operator()(_XDisplay* display) const {
    if (display != nullptr) {
        XCloseDisplay(display);
    }
}

void XcbDisconnect::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);
}

DisplayPtr openDisplay() {
    return DisplayPtr(XOpenDisplay(nullptr));
}

bool hasXTest(_XDisplay* display) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return display != nullptr &&
           XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor) == True;
}

xcb_connection_t* qtConnection() {
    if (qGuiApp == nullptr) {
        return nullptr;
    }
    const auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    // Under the offscreen platform the interface exists but its handles are null.
    return native != nullptr ? native->connection() : nullptr;
}

std::uint32_t qtRootWindow() {
    xcb_connection_t* connection = qtConnection();
    if (connection == nullptr) {
        return 0;
    }
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    return screens.rem > 0 ? screens.data->root : 0;
}

std::vector<std::uint32_t> internAtoms(xcb_connection_t* connection,
                                       const std::vector<const char*>& names) {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (const char* name : names) {
        cookies.push_back(
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    }
    std::vector<std::uint32_t> atoms;
    atoms.reserve(names.size());
    for (const auto cookie : cookies) {
        const auto reply = own(xcb_intern_atom_reply(connection, cookie, nullptr));
        atoms.push_back(reply ? reply->atom : std::uint32_t{XCB_ATOM_NONE});
    }
    return atoms;
}

}  // namespace quillet::x11
