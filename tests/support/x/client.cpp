// The connection itself, and what is asked of the server as a whole: the
// focus, and whether a client holds the keyboard.

#include "x/client.h"

// X11 headers after Qt's: their macros break Qt headers.
#include "x/client_impl.h"

#include <tuple>

namespace quillet::harness {

using x11::own;

bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") && x11::openDisplay() != nullptr;
}

XClient::XClient(const QString& display) : impl_(std::make_unique<Impl>()) {
    const QByteArray name = display.toLocal8Bit();
    const char* server = display.isEmpty() ? nullptr : name.constData();
    impl_->display.reset(XOpenDisplay(server));
    int screen = 0;
    impl_->xcb.reset(xcb_connect(server, &screen));
    if (!impl_->display || xcb_connection_has_error(impl_->c()) != 0) {
        impl_->xcb.reset();
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(impl_->c()));
    for (int i = 0; i < screen && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    impl_->root = screens.data->root;
    const std::string tray = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    const auto atoms =
        x11::internAtoms(impl_->c(), {"_NET_WM_PID", "_NET_WM_NAME", "UTF8_STRING", "CLIPBOARD",
                                      tray.c_str(), "WM_PROTOCOLS", "WM_DELETE_WINDOW"});
    std::tie(impl_->pidAtom, impl_->nameAtom, impl_->utf8Atom, impl_->clipboardAtom,
             impl_->trayAtom, impl_->protocolsAtom, impl_->deleteAtom) =
        std::tie(atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6]);
}

XClient::~XClient() = default;

bool XClient::connected() const {
    return impl_->xcb != nullptr;
}

XClient& x() {
    static XClient client;
    return client;
}

std::uint32_t XClient::focusedWindow() {
    const auto reply =
        own(xcb_get_input_focus_reply(impl_->c(), xcb_get_input_focus(impl_->c()), nullptr));
    return reply ? reply->focus : XCB_NONE;
}

bool XClient::focus(std::uint32_t window) {
    // Asked again until it holds: a window just shown may not be viewable yet.
    return waitUntil(
        [&] {
            if (focusedWindow() == window) {
                return true;
            }
            xcb_set_input_focus(impl_->c(), XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
            xcb_flush(impl_->c());
            return false;
        },
        5s);
}

std::uint32_t XClient::root() const {
    return impl_->root;
}

bool XClient::keyboardGrabbed() {
    xcb_connection_t* c = impl_->c();
    const auto reply =
        own(xcb_grab_keyboard_reply(c,
                                    xcb_grab_keyboard(c, 0, impl_->root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr));
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        xcb_flush(c);
    }
    return reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
}

}  // namespace quillet::harness
