#include "platform/x11/key_receipt.h"

// X11 headers after the program's own (which pull in Qt): they define macros
// that break Qt headers.
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <deque>

namespace quillet::x11 {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kSendEventBit = 0x80;

// An application's windows asked to redraw a pixel, and looked at for it:
// enough for the one that draws (a terminal's text area inside its shell),
// few for a large tree.
constexpr std::size_t kMostWindows = 16;
constexpr int kMostVisits = 64;

// A focus deeper than this below its top-level window is not followed up.
constexpr int kMostLevels = 64;

std::uint8_t typeOf(const xcb_generic_event_t* event) {
    return event->response_type & ~kSendEventBit;
}

}  // namespace

KeyReceipts::KeyReceipts() {
    int screen = 0;
    connection_.reset(xcb_connect(nullptr, &screen));
    xcb_connection_t* c = connection_.get();
    if (xcb_connection_has_error(c) != 0) {
        connection_.reset();
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    root_ = screens.data->root;
    const auto atoms = internAtoms(c, {"WM_PROTOCOLS", "_NET_WM_PING"});
    protocolsAtom_ = atoms[0];
    pingAtom_ = atoms[1];
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(c, &xcb_damage_id);
    if (damage != nullptr && damage->present != 0 &&
        own(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr))) {
        damageEvent_ = damage->first_event;
    }
}

std::optional<std::vector<std::uint32_t>> KeyReceipts::protocolsOf(std::uint32_t window) {
    xcb_connection_t* c = connection_.get();
    const auto reply = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, protocolsAtom_, XCB_ATOM_ATOM, 0, 64), nullptr));
    if (!reply || reply->type != XCB_ATOM_ATOM || reply->format != 32) {
        return std::nullopt;
    }
    const auto* atoms = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(atoms,
                                      atoms + xcb_get_property_value_length(reply.get()) / 4);
}

std::uint32_t KeyReceipts::focusedApplication() {
    xcb_connection_t* c = connection_.get();
    if (c == nullptr) {
        return 0;
    }
    const auto focus = own(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        focus->focus == root_) {
        return 0;
    }
    xcb_window_t window = focus->focus;
    for (int level = 0; level < kMostLevels; ++level) {
        if (protocolsOf(window)) {
            return window;
        }
        const auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree) {
            return 0;  // gone meanwhile
        }
        if (tree->parent == XCB_NONE || tree->parent == tree->root) {
            return window;
        }
        window = tree->parent;
    }
    return window;
}

Receipt KeyReceipts::ask(std::uint32_t window, Clock::time_point deadline) {
    xcb_connection_t* c = connection_.get();
    if (c == nullptr || window == 0) {
        return Receipt::Impossible;
    }
    // Answers to questions that ran out of time earlier.
    while (own(xcb_poll_for_event(c))) {
    }
    const auto protocols = protocolsOf(window);
    if (protocols &&
        std::find(protocols->begin(), protocols->end(), pingAtom_) != protocols->end()) {
        return ping(window, deadline);
    }
    return redraw(window, deadline);
}

Receipt KeyReceipts::ping(std::uint32_t window, Clock::time_point deadline) {
    xcb_connection_t* c = connection_.get();
    // The answer goes to the root window, to those who listen there for
    // changes of its children (as the standard asks) or of itself (as Qt sends).
    const std::uint32_t listen =
        XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &listen);
    const std::uint32_t stamp = ++stamp_;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = protocolsAtom_;
    message.data.data32[0] = pingAtom_;
    message.data.data32[1] = stamp;
    message.data.data32[2] = window;
    const bool sent =
        !own(xcb_request_check(c, xcb_send_event_checked(c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                                                         reinterpret_cast<const char*>(&message))));
    const bool came =
        sent && waitForEvent(deadline, [&](const xcb_generic_event_t* event) {
            if (typeOf(event) != XCB_CLIENT_MESSAGE) {
                return false;
            }
            const auto* answer = reinterpret_cast<const xcb_client_message_event_t*>(event);
            return answer->type == protocolsAtom_ && answer->data.data32[0] == pingAtom_ &&
                   answer->data.data32[1] == stamp && answer->data.data32[2] == window;
        });
    const std::uint32_t none = 0;
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &none);
    xcb_flush(c);
    if (!sent) {
        return Receipt::Impossible;  // the window is gone, and its keys with it
    }
    return came ? Receipt::Came : Receipt::Late;
}

Receipt KeyReceipts::redraw(std::uint32_t window, Clock::time_point deadline) {
    if (damageEvent_ < 0) {
        return Receipt::Impossible;
    }
    xcb_connection_t* c = connection_.get();
    struct Watched {
        xcb_window_t window;
        xcb_damage_damage_t damage;
        std::int16_t x;  // the pixel asked for, in its window
        std::int16_t y;
    };
    std::vector<Watched> watched;
    // The bottom right pixel: in a terminal's border, where its text never
    // goes, so only the answer draws it.
    std::deque<xcb_window_t> pending{window};
    for (int visits = 0; !pending.empty() && watched.size() < kMostWindows && visits < kMostVisits;
         ++visits) {
        const xcb_window_t next = pending.front();
        pending.pop_front();
        const auto attributes =
            own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, next), nullptr));
        const auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, next), nullptr));
        const auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, next), nullptr));
        if (!attributes || !geometry || !tree) {
            continue;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        pending.insert(pending.end(), children,
                       children + xcb_query_tree_children_length(tree.get()));
        if (attributes->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT ||
            attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
            continue;
        }
        const Watched pixel{next, xcb_generate_id(c),
                            static_cast<std::int16_t>(geometry->width - 1),
                            static_cast<std::int16_t>(geometry->height - 1)};
        xcb_damage_create(c, pixel.damage, next, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        watched.push_back(pixel);
    }
    if (watched.empty()) {
        return Receipt::Impossible;
    }
    // A new damage object reports its whole window at once: not an answer.
    own(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    while (own(xcb_poll_for_event(c))) {
    }
    for (const Watched& pixel : watched) {
        xcb_expose_event_t expose{};
        expose.response_type = XCB_EXPOSE;
        expose.window = pixel.window;
        expose.x = static_cast<std::uint16_t>(pixel.x);
        expose.y = static_cast<std::uint16_t>(pixel.y);
        expose.width = 1;
        expose.height = 1;
        xcb_send_event(c, 0, pixel.window, XCB_EVENT_MASK_EXPOSURE,
                       reinterpret_cast<const char*>(&expose));
    }
    const bool came = waitForEvent(deadline, [&](const xcb_generic_event_t* event) {
        if (typeOf(event) != damageEvent_ + XCB_DAMAGE_NOTIFY) {
            return false;
        }
        const auto* notify = reinterpret_cast<const xcb_damage_notify_event_t*>(event);
        const xcb_rectangle_t& area = notify->area;
        return std::any_of(watched.begin(), watched.end(), [&](const Watched& pixel) {
            return pixel.damage == notify->damage && area.x <= pixel.x &&
                   pixel.x < area.x + area.width && area.y <= pixel.y &&
                   pixel.y < area.y + area.height;
        });
    });
    for (const Watched& pixel : watched) {
        xcb_damage_destroy(c, pixel.damage);
    }
    xcb_flush(c);
    return came ? Receipt::Came : Receipt::Late;
}

template <typename Answers>
bool KeyReceipts::waitForEvent(Clock::time_point deadline, Answers answers) {
    xcb_connection_t* c = connection_.get();
    xcb_flush(c);
    for (;;) {
        while (const auto event = own(xcb_poll_for_event(c))) {
            if (answers(event.get())) {
                return true;
            }
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || xcb_connection_has_error(c) != 0) {
            return false;
        }
        pollfd socket{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&socket, 1, static_cast<int>(left));
    }
}

}  // namespace quillet::x11
