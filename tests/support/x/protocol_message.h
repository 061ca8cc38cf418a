#pragma once

#include <array>
#include <cstdint>

struct xcb_connection_t;

namespace quillet::harness {

// Sends the window's client a WM_PROTOCOLS message, as a window manager
// does: the protocol's atom (WM_DELETE_WINDOW, _NET_WM_PING) and the words
// after it. It goes out with the next flush.
void sendProtocolMessage(xcb_connection_t* connection, std::uint32_t window,
                         std::uint32_t protocolsAtom, std::array<std::uint32_t, 3> data);

}  // namespace quillet::harness
