#include "platform/x11/clipboard_x11.h"

#include "platform/x11/connection.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QGuiApplication>
#include <QMimeData>

#include <xcb/xcb.h>

#include <memory>

namespace quillet {

ClipboardX11::ClipboardX11(MainQueue& mainQueue)
    : mainQueue_(mainQueue), connection_(x11::qtConnection()) {
    if (xcb_connection_t* connection = connection_) {
        const auto atoms = x11::internAtoms(
            connection, {"CLIPBOARD", "TARGETS", "TIMESTAMP", "_QUILLET_SERVER_TIME"});
        clipboardAtom_ = atoms[0];
        targetsAtom_ = atoms[1];
        timestampAtom_ = atoms[2];
        clockAtom_ = atoms[3];
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
}

ClipboardX11::~ClipboardX11() {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

ClipboardRead ClipboardX11::read() {
    std::optional<ClipboardContent> ours;
    {
        std::lock_guard lock(mutex_);
        ours = putBack_;
    }
    // Another program may have taken the clipboard a moment ago, before the
    // UI thread has handled the news: what we put back would be read as the
    // new copy. The server knows.
    if (ours && !ownsClipboard()) {
        std::lock_guard lock(mutex_);
        putBack_.reset();
        ours.reset();
    }
    if (!ours) {
        return reader_.read();
    }
    return ClipboardRead{ClipboardRead::Status::Read, std::move(*ours), true};
}

bool ClipboardX11::ownsClipboard() const {
    if (connection_ == nullptr) {
        return true;
    }
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const auto owner = x11::own(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, clipboardAtom_), nullptr));
    return owner && (owner->owner & ~setup->resource_id_mask) == setup->resource_id_base;
}

bool ClipboardX11::writeLine(const QString& line) {
    {
        std::lock_guard lock(mutex_);
        putBack_.reset();
    }
    line_ = line;
    // A line the clipboard never took must not be pasted: the chord would
    // paste whatever is there instead.
    bool claimed = false;
    return mainQueue_.runSync([&] {
        claimed = claim([&] {
            auto mime = std::make_unique<QMimeData>();
            mime->setText(line);
            for (const HistoryMark& mark : kHistoryMarks) {
                mime->setData(QString::fromLatin1(mark.format), QByteArray(mark.value));
            }
            return mime;
        });
    }) && claimed;
}

bool ClipboardX11::restore(const ClipboardContent& content) {
    // Somebody copied after the line went out: that copy is the user's
    // newest and stays. A clipboard manager that took the line over holds
    // the line itself, and the old copy comes back as usual.
    if (!ownsClipboard()) {
        const ClipboardRead now = reader_.read();
        if (now.status == ClipboardRead::Status::Read && now.content.text != line_) {
            return true;
        }
    }
    return mainQueue_.runSync([&] {
        const bool claimed = claim([&] {
            auto mime = std::make_unique<QMimeData>();
            for (const auto& [format, bytes] : content.formats) {
                mime->setData(format, bytes);
            }
            // An empty text stays an empty text, not an empty clipboard.
            if (!mime->hasText()) {
                mime->setText(content.text);
            }
            return mime;
        });
        if (claimed) {
            keepPutBack(content);
        }
    });
}

void ClipboardX11::keepPutBack(const ClipboardContent& content) {
    // Only a claim the server took is ours; losing it later clears this. The
    // text is shared with the run it came from, so keeping it costs nothing.
    if (QGuiApplication::clipboard()->ownsClipboard()) {
        std::lock_guard lock(mutex_);
        putBack_ = content;
    }
}

bool ClipboardX11::claim(const std::function<std::unique_ptr<QMimeData>()>& content) {
    if (connection_ == nullptr) {
        QGuiApplication::clipboard()->setMimeData(content().release(), QClipboard::Clipboard);
        return true;
    }
    // Qt claims the selection with the time of the last X event it handled.
    // When another program took the clipboard after that, the server ignores
    // the claim; so Qt handles an event with the current time first, and the
    // server is asked whether the claim held: on a busy machine that event
    // may come late.
    for (int attempt = 0; attempt < 3; ++attempt) {
        refreshServerTime();
        QGuiApplication::clipboard()->setMimeData(content().release(), QClipboard::Clipboard);
        if (ownsClipboard()) {
            return true;
        }
    }
    return false;
}

void ClipboardX11::refreshServerTime() {
    xcb_connection_t* connection = x11::qtConnection();
    if (connection == nullptr || clockAtom_ == 0) {
        return;
    }
    // A property change on the root window comes back as an event stamped
    // with the server's time, which Qt records when it handles it.
    QEventLoop loop;
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    clockWait_ = &loop;
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, x11::qtRootWindow(), clockAtom_,
                        XCB_ATOM_INTEGER, 32, 0, nullptr);
    xcb_flush(connection);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    clockWait_ = nullptr;
}

void ClipboardX11::arm() {
    std::lock_guard lock(mutex_);
    watching_ = true;
    fetched_ = false;
    lostOwnership_ = false;
}

FetchResult ClipboardX11::waitForFetch(std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    if (clipboardAtom_ == 0) {
        watching_ = false;
        return FetchResult::Unknown;
    }
    changed_.wait_for(lock, deadline, [this] { return fetched_ || lostOwnership_; });
    watching_ = false;
    if (fetched_) {
        return FetchResult::Fetched;
    }
    return lostOwnership_ ? FetchResult::Unknown : FetchResult::NotFetched;
}

bool ClipboardX11::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const auto type = static_cast<std::uint8_t>(event->response_type & 0x7F);
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->atom == clockAtom_ && clockAtom_ != 0 && clockWait_ != nullptr) {
            // The loop ends after this event, once Qt has recorded its time.
            clockWait_->quit();
        }
    } else if (type == XCB_SELECTION_REQUEST) {
        const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
        // Asking which formats exist is not fetching the data.
        if (request->selection == clipboardAtom_ && request->target != targetsAtom_ &&
            request->target != timestampAtom_) {
            std::lock_guard lock(mutex_);
            if (watching_) {
                fetched_ = true;
                changed_.notify_all();
            }
        }
    } else if (type == XCB_SELECTION_CLEAR) {
        const auto* clear = reinterpret_cast<const xcb_selection_clear_event_t*>(event);
        if (clear->selection == clipboardAtom_) {
            std::lock_guard lock(mutex_);
            putBack_.reset();
            if (watching_) {
                lostOwnership_ = true;
                changed_.notify_all();
            }
        }
    }
    // Qt answers the request itself.
    return false;
}

}  // namespace quillet
