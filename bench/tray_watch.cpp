#include "tray_watch.h"

#include "platform/x11/connection.h"

#include <QObject>
#include <QSocketNotifier>

// X11 headers after Qt's: their macros break Qt headers.
#include <xcb/xcb.h>

#include <map>

namespace quillet::bench {

using x11::own;

struct TrayWatch::Impl {
    x11::XcbConnection connection;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t pidAtom = XCB_NONE;
    std::unique_ptr<QSocketNotifier> notifier;
    struct Docked {
        Clock::time_point at;
        xcb_window_t window = XCB_NONE;
    };
    std::map<qint64, Docked> docked;  // the first window per process

    void readEvents() {
        xcb_connection_t* c = connection.get();
        while (const auto event = own(xcb_poll_for_event(c))) {
            const auto now = Clock::now();
            const auto* reparent =
                reinterpret_cast<const xcb_reparent_notify_event_t*>(event.get());
            // Away from the root: into the tray host (there is no window manager).
            if ((event->response_type & 0x7f) != XCB_REPARENT_NOTIFY || reparent->parent == root) {
                continue;
            }
            // Qt names the process on every window it makes.
            const auto pid = own(xcb_get_property_reply(
                c, xcb_get_property(c, 0, reparent->window, pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                nullptr));
            if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) == 4) {
                docked.try_emplace(
                    *static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get())),
                    Docked{now, reparent->window});
            }
        }
    }
};

TrayWatch::TrayWatch() : impl_(std::make_unique<Impl>()) {
    int screen = 0;
    impl_->connection.reset(xcb_connect(nullptr, &screen));
    xcb_connection_t* c = impl_->connection.get();
    if (xcb_connection_has_error(c) != 0) {
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    impl_->root = screens.data->root;
    impl_->pidAtom = x11::internAtoms(c, {"_NET_WM_PID"})[0];
    // Reparenting a top-level window is reported to the root's substructure.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, impl_->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    impl_->notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated,
                     [this] { impl_->readEvents(); });
}

TrayWatch::~TrayWatch() = default;

std::optional<Clock::time_point> TrayWatch::dockedAt(qint64 pid) {
    impl_->readEvents();
    const auto found = impl_->docked.find(pid);
    return found == impl_->docked.end() ? std::nullopt : std::optional(found->second.at);
}

std::optional<std::uint32_t> TrayWatch::dockedWindow(qint64 pid) {
    impl_->readEvents();
    const auto found = impl_->docked.find(pid);
    return found == impl_->docked.end() ? std::nullopt : std::optional(found->second.window);
}

}  // namespace quillet::bench
