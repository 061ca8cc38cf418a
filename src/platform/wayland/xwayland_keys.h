#pragma once

#include <chrono>
#include <memory>
#include <string>

struct xcb_connection_t;

namespace quillet::wayland {

// The keys Xwayland holds down: the user's, while an X11 window has the
// keyboard focus, else none. Typed keys go out on a keymap of ours, and the
// next key of the user's brings the seat's keymap back. An X client reads
// the keymap only when it comes to our keys, so a line typed while the
// shortcut is still held reaches it as the seat's keys: typing waits here.
class XwaylandKeys {
public:
    // The display sway gives its children ($DISPLAY); none when empty.
    explicit XwaylandKeys(std::string display);
    ~XwaylandKeys();
    XwaylandKeys(const XwaylandKeys&) = delete;
    XwaylandKeys& operator=(const XwaylandKeys&) = delete;

    // Waits until no key is down, up to the deadline; false when keys were
    // still down then. True at once without Xwayland.
    bool waitUntilReleased(std::chrono::milliseconds deadline);

private:
    struct Disconnect {
        void operator()(xcb_connection_t* connection) const;
    };

    const std::string display_;
    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
};

}  // namespace quillet::wayland
