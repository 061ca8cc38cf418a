#pragma once

// RAII owners of what X hands out, and the connections the program uses. No
// X11 header leaks from here: callers that need Xlib or xcb include it
// themselves, after their Qt headers.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

struct _XDisplay;
struct xcb_connection_t;

namespace quillet::x11 {

struct DisplayCloser {
    void operator()(_XDisplay* display) const;
};
// A private Xlib connection, closed when it goes out of scope.
using DisplayPtr = std::unique_ptr<_XDisplay, DisplayCloser>;

struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const;
};
// A private xcb connection, closed when it goes out of scope.
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

// xcb replies and events belong to the caller, who frees them.
struct XcbFree {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;
template <typename T>
XcbReply<T> own(T* reply) {
    return XcbReply<T>(reply);
}

// Opens a connection of our own to $DISPLAY; null when there is none.
DisplayPtr openDisplay();

// Whether the server offers the XTEST extension (synthetic input).
bool hasXTest(_XDisplay* display);

// Qt's own xcb connection and root window; null / 0 when Qt does not run on
// X11 (offscreen tests, Wayland).
xcb_connection_t* qtConnection();
std::uint32_t qtRootWindow();

// The atoms of these names, created if need be; 0 where the server failed.
std::vector<std::uint32_t> internAtoms(xcb_connection_t* connection,
                                       const std::vector<const char*>& names);

}  // namespace quillet::x11
