#include "platform/wayland/xwayland_keys.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <thread>
#include <utility>

namespace quillet::wayland {

void XwaylandKeys::Disconnect::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);
}

XwaylandKeys::XwaylandKeys(std::string display) : display_(std::move(display)) {}

XwaylandKeys::~XwaylandKeys() = default;

bool XwaylandKeys::waitUntilReleased(std::chrono::milliseconds deadline) {
    if (display_.empty()) {
        return true;
    }
    // Made on first use: a lazy Xwayland starts when a client connects, and
    // only a line to type needs it (X11 terminals get their lines typed).
    if (!connection_ || xcb_connection_has_error(connection_.get()) != 0) {
        connection_.reset(xcb_connect(display_.c_str(), nullptr));
    }
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const std::unique_ptr<xcb_query_keymap_reply_t, decltype(&std::free)> reply(
            xcb_query_keymap_reply(connection_.get(), xcb_query_keymap(connection_.get()), nullptr),
            &std::free);
        if (!reply) {
            return true;  // no Xwayland to ask, nor an X11 window to type into
        }
        if (std::all_of(std::begin(reply->keys), std::end(reply->keys),
                        [](std::uint8_t bits) { return bits == 0; })) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace quillet::wayland
