#include "x/clipboard.h"

#include "platform/x11/selection_owner_x11.h"
#include "x/client.h"

#include <QProcess>

// X11 headers after Qt's: their macros break Qt headers.
#include "x/client_impl.h"

#include <chrono>
#include <memory>
#include <thread>

namespace quillet::harness {

using x11::own;

std::uint32_t XClient::clipboardOwner() {
    const auto reply = own(xcb_get_selection_owner_reply(
        impl_->c(), xcb_get_selection_owner(impl_->c(), impl_->clipboardAtom), nullptr));
    return reply ? reply->owner : XCB_NONE;
}

bool XClient::takeClipboard() {
    xcb_connection_t* c = impl_->c();
    impl_->clipboardWindow = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, impl_->clipboardWindow, impl_->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, impl_->clipboardWindow, impl_->clipboardAtom, XCB_CURRENT_TIME);
    return clipboardOwner() == impl_->clipboardWindow;
}

bool XClient::clipboardRequested() {
    xcb_connection_t* c = impl_->c();
    while (const auto event = own(xcb_poll_for_event(c))) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            impl_->requestor =
                reinterpret_cast<const xcb_selection_request_event_t*>(event.get())->requestor;
        }
    }
    return impl_->requestor != XCB_NONE &&
           own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, impl_->requestor),
                                               nullptr)) != nullptr;
}

std::optional<QByteArray> XClient::convertClipboard(const std::string& target, std::uint32_t time) {
    xcb_connection_t* c = impl_->c();
    if (impl_->requestorWindow == XCB_NONE) {
        impl_->requestorWindow = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, impl_->requestorWindow, impl_->root, 0, 0, 1, 1,
                          0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    }
    const xcb_atom_t atom = x11::internAtoms(c, {target.c_str()})[0];
    xcb_convert_selection(c, impl_->requestorWindow, impl_->clipboardAtom, atom, atom, time);
    xcb_flush(c);
    for (const auto until = Clock::now() + 5s; Clock::now() < until;) {
        const auto event = own(xcb_poll_for_event(c));
        if (!event) {
            std::this_thread::sleep_for(1ms);
        } else if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
            if (reinterpret_cast<const xcb_selection_notify_event_t*>(event.get())->property ==
                XCB_NONE) {
                return std::nullopt;
            }
            return impl_->property(impl_->requestorWindow, atom, XCB_GET_PROPERTY_TYPE_ANY);
        }
    }
    return std::nullopt;
}

bool copy(const QByteArray& data, const QString& mimeType) {
    const std::uint32_t before = x().clipboardOwner();
    QProcess xclip;
    xclip.setStandardOutputFile(QProcess::nullDevice());
    xclip.setStandardErrorFile(QProcess::nullDevice());
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-t"), mimeType, QStringLiteral("-i")});
    if (!xclip.waitForStarted(5000)) {
        return false;
    }
    xclip.write(data);
    xclip.closeWriteChannel();
    // Its parent exits once it has read everything; the child serves the copy.
    if (!waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 60s) ||
        xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) {
        return false;
    }
    return waitUntil(
        [&] {
            const std::uint32_t owner = x().clipboardOwner();
            return owner != XCB_NONE && owner != before;
        },
        5s);
}

bool copy(const ClipboardContent& content) {
    // Another program's, on a connection of its own that the next copy closes.
    static std::unique_ptr<SelectionOwnerX11> owner;
    owner = std::make_unique<SelectionOwnerX11>();
    return owner->claim(selectionTargets(content)) != 0;
}

QByteArray clipboardData(const QString& mimeType) {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-o"), QStringLiteral("-t"), mimeType});
    // With the event loop running: this process may be the one serving it.
    QByteArray output;
    if (!waitUntil(
            [&] {
                output += xclip.readAllStandardOutput();
                return xclip.state() == QProcess::NotRunning;
            },
            10s)) {
        xclip.kill();
        xclip.waitForFinished(1000);
        return {};
    }
    return output + xclip.readAllStandardOutput();
}

}  // namespace quillet::harness
