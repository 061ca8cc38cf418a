// Synthetic input through XTest, the keys that reach a window, and key grabs
// like another program's.

#include "x/client.h"

// X11 headers after Qt's: their macros break Qt headers.
#include "x/client_impl.h"

#include <X11/extensions/XTest.h>
#include <xcb/xcbext.h>

#include <cstdlib>

namespace quillet::harness {

using x11::own;

void XClient::down(const std::vector<std::string>& keys) {
    for (const auto& key : keys) {
        XTestFakeKeyEvent(impl_->display.get(), impl_->keycode(key), True, CurrentTime);
    }
    XSync(impl_->display.get(), False);
}

void XClient::up(const std::vector<std::string>& keys) {
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        XTestFakeKeyEvent(impl_->display.get(), impl_->keycode(*key), False, CurrentTime);
    }
    XSync(impl_->display.get(), False);
}

void XClient::pressAgain(const std::string& key) {
    XTestFakeKeyEvent(impl_->display.get(), impl_->keycode(key), False, CurrentTime);
    XTestFakeKeyEvent(impl_->display.get(), impl_->keycode(key), True, CurrentTime);
    XSync(impl_->display.get(), False);
}

void XClient::chord(const std::vector<std::string>& keys, Clock::duration hold) {
    down(keys);
    runFor(hold);
    up(keys);
}

void XClient::click(QPoint point) {
    Display* display = impl_->display.get();
    XTestFakeMotionEvent(display, -1, point.x(), point.y(), CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
}

bool XClient::answers(Clock::duration timeout) {
    xcb_connection_t* c = impl_->c();
    const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(c);
    xcb_flush(c);
    impl_->answeredAt = static_cast<std::uint16_t>(cookie.sequence);
    void* reply = nullptr;
    // Reading events reads the socket; a reply is only looked for in what was read.
    const bool answered = waitUntil(
        [&] {
            keys();
            return xcb_poll_for_reply(c, cookie.sequence, &reply, nullptr) != 0;
        },
        timeout);
    std::free(reply);
    return answered;
}

void XClient::watchKeys(std::uint32_t window) {
    xcb_connection_t* c = impl_->c();
    std::vector<xcb_window_t> pending{window};
    while (!pending.empty()) {
        const xcb_window_t next = pending.back();
        pending.pop_back();
        const std::uint32_t mask = XCB_EVENT_MASK_KEY_PRESS;
        xcb_change_window_attributes(c, next, XCB_CW_EVENT_MASK, &mask);
        if (const auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, next), nullptr))) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            pending.insert(pending.end(), children,
                           children + xcb_query_tree_children_length(tree.get()));
        }
    }
}

XClient::KeyCount XClient::keys() {
    // An event carries the number of the last request the server had done
    // for this client when it made the event.
    while (const auto event = own(xcb_poll_for_event(impl_->c()))) {
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
            ++impl_->keys.all;
            impl_->keys.afterAnswer += event->sequence == impl_->answeredAt ? 1 : 0;
        }
    }
    return impl_->keys;
}

std::vector<std::uint32_t> XClient::keyboardMapping() {
    xcb_connection_t* c = impl_->c();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto reply = own(xcb_get_keyboard_mapping_reply(
        c,
        xcb_get_keyboard_mapping(
            c, setup->min_keycode,
            static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1)),
        nullptr));
    if (!reply) {
        return {};
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    return {keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(reply.get())};
}

bool XClient::grabKey(std::uint16_t modifiers, const std::string& key) {
    xcb_connection_t* c = impl_->c();
    const auto error = own(
        xcb_request_check(c, xcb_grab_key_checked(c, 1, impl_->root, modifiers, impl_->keycode(key),
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    return error == nullptr;
}

bool XClient::grabbedElsewhere(std::uint16_t modifiers, const std::string& key) {
    if (!grabKey(modifiers, key)) {
        return true;
    }
    xcb_ungrab_key(impl_->c(), impl_->keycode(key), impl_->root, modifiers);
    xcb_flush(impl_->c());
    return false;
}

}  // namespace quillet::harness
