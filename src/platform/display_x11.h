#pragma once

// Small RAII helpers around the X connections the program uses. No X11
// header leaks from here: callers that need Xlib include it themselves,
// after their Qt headers.

#include <cstdint>
#include <memory>

struct _XDisplay;
struct xcb_connection_t;

namespace quillet::x11 {

struct DisplayCloser {
    void operator()(_XDisplay* display) const;
};
// A private Xlib connection, closed when it goes out of scope.
using DisplayPtr = std::unique_ptr<_XDisplay, DisplayCloser>;

// Opens a connection of our own to $DISPLAY; null when there is none.
DisplayPtr openDisplay();

// Whether the server offers the XTEST extension (synthetic input).
bool hasXTest(_XDisplay* display);

// Qt's own xcb connection and root window; null / 0 when Qt does not run on
// X11 (offscreen tests, Wayland).
xcb_connection_t* qtConnection();
std::uint32_t qtRootWindow();

}  // namespace quillet::x11
