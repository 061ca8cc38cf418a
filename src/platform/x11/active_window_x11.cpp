#include "platform/x11/active_window_x11.h"

#include <QByteArrayList>

#include <xcb/xcb.h>

namespace quillet {

namespace {

using x11::own;

// The class half of WM_CLASS ("XTerm" of "xterm\0XTerm\0"), or "".
QString windowClass(xcb_connection_t* c, xcb_window_t window) {
    const auto reply = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
    if (!reply) {
        return {};
    }
    const QByteArray value(static_cast<const char*>(xcb_get_property_value(reply.get())),
                           xcb_get_property_value_length(reply.get()));
    const QByteArrayList parts = value.split('\0');
    return parts.size() >= 2 ? QString::fromLatin1(parts[1]) : QString();
}

xcb_window_t parentOf(xcb_connection_t* c, xcb_window_t window) {
    const auto reply = own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
    return reply && reply->parent != reply->root ? reply->parent : xcb_window_t{XCB_WINDOW_NONE};
}

}  // namespace

QString ActiveWindowX11::appId() {
    if (!connection_ || xcb_connection_has_error(connection_.get()) != 0) {
        connection_.reset(xcb_connect(nullptr, nullptr));
        if (xcb_connection_has_error(connection_.get()) != 0) {
            return {};
        }
        activeAtom_ = x11::internAtoms(connection_.get(), {"_NET_ACTIVE_WINDOW"}).front();
    }
    xcb_connection_t* c = connection_.get();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

    xcb_window_t window = XCB_WINDOW_NONE;
    if (const auto active = own(xcb_get_property_reply(
            c, xcb_get_property(c, 0, root, activeAtom_, XCB_ATOM_WINDOW, 0, 1), nullptr));
        active && xcb_get_property_value_length(active.get()) == 4) {
        window = *static_cast<const xcb_window_t*>(xcb_get_property_value(active.get()));
    }
    if (window == XCB_WINDOW_NONE) {
        const auto focus = own(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        window = focus ? focus->focus : xcb_window_t{XCB_WINDOW_NONE};
    }
    // PointerRoot and None name no application.
    for (int depth = 0;
         window != XCB_WINDOW_NONE && window != XCB_INPUT_FOCUS_POINTER_ROOT && depth < 32;
         ++depth) {
        if (QString found = windowClass(c, window); !found.isEmpty()) {
            return found;
        }
        window = parentOf(c, window);
    }
    return {};
}

}  // namespace quillet
