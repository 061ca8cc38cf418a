#include "platform/display_x11.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xcb.h>

namespace quillet::x11 {

void DisplayCloser::operator()(_XDisplay* display) const {
    if (display != nullptr) {
        XCloseDisplay(display);
    }
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
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    return screens.rem > 0 ? screens.data->root : 0;
}

}  // namespace quillet::x11
