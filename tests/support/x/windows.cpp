// Finding a program's windows: by name, its tray icon, its notices and menu.

#include "x/client.h"
#include "x/protocol_message.h"

// X11 headers after Qt's: their macros break Qt headers.
#include "x/client_impl.h"

#include <algorithm>

namespace quillet::harness {

using x11::own;

namespace {

// Tray icons are no bigger than this and sit no lower; windows are larger.
constexpr int kTrayBand = 48;

}  // namespace

std::vector<XWindow> XClient::windows(qint64 pid) {
    std::vector<XWindow> found;
    xcb_connection_t* c = impl_->c();
    std::vector<xcb_window_t> pending{impl_->root};
    while (!pending.empty()) {
        const xcb_window_t window = pending.back();
        pending.pop_back();
        const auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree) {
            continue;  // gone meanwhile
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        pending.insert(pending.end(), children,
                       children + xcb_query_tree_children_length(tree.get()));
        const QByteArray owner = impl_->property(window, impl_->pidAtom, XCB_ATOM_CARDINAL);
        if (owner.size() != 4 || *reinterpret_cast<const std::uint32_t*>(owner.data()) != pid) {
            continue;
        }
        const auto attributes =
            own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
        const auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
        const auto place = own(xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, window, impl_->root, 0, 0), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry || !place) {
            continue;
        }
        QByteArray name = impl_->property(window, impl_->nameAtom, impl_->utf8Atom);
        if (name.isEmpty()) {
            name = impl_->property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
        }
        found.push_back({window,
                         QRect(place->dst_x, place->dst_y, geometry->width, geometry->height),
                         QString::fromUtf8(name)});
    }
    return found;
}

namespace {

std::optional<XWindow> first(const std::vector<XWindow>& windows,
                             const std::function<bool(const XWindow&)>& pred) {
    const auto found = std::find_if(windows.begin(), windows.end(), pred);
    return found == windows.end() ? std::nullopt : std::optional(*found);
}

}  // namespace

std::optional<XWindow> XClient::windowNamed(qint64 pid, const QString& name) {
    return first(windows(pid), [&](const XWindow& w) { return w.name == name; });
}

std::optional<XWindow> XClient::waitForWindow(qint64 pid, const QString& name, bool focused,
                                              Clock::duration timeout) {
    std::optional<XWindow> found;
    const bool shown = waitUntil(
        [&] {
            found = windowNamed(pid, name);
            return found && (!focused || focusedWindow() == found->id);
        },
        timeout);
    return shown ? found : std::nullopt;
}

std::optional<XWindow> XClient::trayIcon(qint64 pid) {
    return first(windows(pid), [](const XWindow& w) {
        return w.geometry.width() <= kTrayBand && w.geometry.height() <= kTrayBand &&
               w.geometry.top() < kTrayBand;
    });
}

std::optional<XWindow> XClient::notice(qint64 pid) {
    return first(windows(pid), [](const XWindow& w) {
        return w.name == QStringLiteral("Quillet") && w.geometry.height() > kTrayBand;
    });
}

bool XClient::openTrayMenu(qint64 pid, const QString& title) {
    // The tray host may still be laying out its icons: the click goes where
    // the icon has stayed put, and again when no menu comes.
    std::optional<XWindow> icon;
    return waitUntil(
        [&] {
            const auto now = trayIcon(pid);
            const bool still = now && icon && now->geometry == icon->geometry;
            icon = now;
            if (!still) {
                runFor(200ms);
                return false;
            }
            click(icon->geometry.center());
            return waitUntil([&] { return windowNamed(pid, title) && keyboardGrabbed(); }, 3s);
        },
        20s);
}

bool XClient::closeNotice(qint64 pid, Clock::duration timeout) {
    std::optional<XWindow> shown;
    if (!waitUntil([&] { return (shown = notice(pid)).has_value(); }, timeout)) {
        return false;
    }
    click(shown->geometry.center());
    return waitUntil([&] { return !notice(pid); }, 10s);
}

void XClient::close(std::uint32_t window) {
    sendProtocolMessage(impl_->c(), window, impl_->protocolsAtom,
                        {impl_->deleteAtom, XCB_CURRENT_TIME, 0});
    xcb_flush(impl_->c());
}

bool XClient::trayPresent() {
    const auto reply = own(xcb_get_selection_owner_reply(
        impl_->c(), xcb_get_selection_owner(impl_->c(), impl_->trayAtom), nullptr));
    return reply && reply->owner != XCB_NONE;
}

}  // namespace quillet::harness
