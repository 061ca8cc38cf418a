#include "x/protocol_message.h"

#include <xcb/xcb.h>

#include <algorithm>

namespace quillet::harness {

void sendProtocolMessage(xcb_connection_t* connection, std::uint32_t window,
                         std::uint32_t protocolsAtom, std::array<std::uint32_t, 3> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = protocolsAtom;
    std::copy(data.begin(), data.end(), event.data.data32);
    // With no event mask it goes to the client that made the window.
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
}

}  // namespace quillet::harness
