#pragma once

// What the parts of XClient share: its connections, the atoms it uses and
// what it has seen. Include after Qt's headers: X11's macros break them.

#include "x/client.h"

#include "platform/x11/connection.h"

#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <optional>
#include <stdexcept>
#include <string>

namespace quillet::harness {

struct XClient::Impl {
    x11::DisplayPtr display;  // Xlib, for XTest
    x11::XcbConnection xcb;   // for everything else: its errors are replies, not exits
    xcb_window_t root = XCB_NONE;
    xcb_window_t clipboardWindow = XCB_NONE;
    xcb_window_t requestor = XCB_NONE;
    std::optional<std::uint16_t> answeredAt;  // the sequence number of the last answers() request
    KeyCount keys;
    xcb_window_t requestorWindow = XCB_NONE;  // ours, when we ask for the clipboard
    xcb_atom_t pidAtom{}, nameAtom{}, utf8Atom{}, clipboardAtom{}, trayAtom{}, protocolsAtom{},
        deleteAtom{};

    xcb_connection_t* c() const { return xcb.get(); }

    ::KeyCode keycode(const std::string& key) const {
        const KeySym sym = XStringToKeysym(key.c_str());
        const ::KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display.get(), sym);
        if (code == 0) {
            throw std::runtime_error("no keycode for the key " + key);
        }
        return code;
    }

    QByteArray property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) const {
        const auto reply = x11::own(xcb_get_property_reply(
            c(), xcb_get_property(c(), 0, window, name, type, 0, 4096), nullptr));
        if (!reply || reply->type == XCB_NONE) {
            return {};
        }
        return {static_cast<const char*>(xcb_get_property_value(reply.get())),
                xcb_get_property_value_length(reply.get())};
    }
};

}  // namespace quillet::harness
