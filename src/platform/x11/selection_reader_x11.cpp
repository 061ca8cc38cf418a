#include "platform/x11/selection_reader_x11.h"

#include "platform/clipboard_rules.h"
#include "platform/x11/connection.h"

#include <QByteArray>
#include <QString>

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace quillet {

namespace {

using x11::own;
template <typename T>
using Owned = x11::XcbReply<T>;

std::uint8_t eventType(const xcb_generic_event_t& event) {
    return static_cast<std::uint8_t>(event.response_type & 0x7F);
}

struct Atoms {
    xcb_atom_t clipboard = XCB_NONE;
    xcb_atom_t targets = XCB_NONE;
    xcb_atom_t incr = XCB_NONE;
    xcb_atom_t property = XCB_NONE;  // where owners put what we asked for
};

using clipboard::Fetched;
using Outcome = Fetched::Outcome;

// What the owner handed over, and the type it named.
struct Transfer {
    Fetched data;
    xcb_atom_t type = XCB_NONE;
};

}  // namespace

// The connection and the window the owner delivers into.
struct SelectionReaderX11::Session {
    x11::XcbConnection connection;
    xcb_window_t window = XCB_NONE;
    Atoms atoms;

    static std::unique_ptr<Session> open();
    xcb_connection_t* get() const { return connection.get(); }
};

std::unique_ptr<SelectionReaderX11::Session> SelectionReaderX11::Session::open() {
    auto session = std::make_unique<Session>();
    session->connection.reset(xcb_connect(nullptr, nullptr));
    xcb_connection_t* c = session->get();
    if (xcb_connection_has_error(c) != 0) {
        return nullptr;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (screen == nullptr) {
        return nullptr;
    }
    // The window goes with the connection; property changes tell us when
    // the next piece of a long transfer is there.
    session->window = xcb_generate_id(c);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, session->window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    const auto atoms = x11::internAtoms(c, {"CLIPBOARD", "TARGETS", "INCR", "_QUILLET_SELECTION"});
    if (std::find(atoms.begin(), atoms.end(), XCB_NONE) != atoms.end()) {
        return nullptr;
    }
    session->atoms = Atoms{atoms[0], atoms[1], atoms[2], atoms[3]};
    return session;
}

namespace {

// One read of the clipboard, under the limits of the whole read.
class Reading {
public:
    Reading(xcb_connection_t* c, xcb_window_t window, const Atoms& atoms,
            const clipboard::ReadLimits& limits, const std::atomic<bool>& cancelled)
        : c_(c),
          window_(window),
          clipboard_(atoms.clipboard),
          targets_(atoms.targets),
          incr_(atoms.incr),
          property_(atoms.property),
          budget_(limits, cancelled) {}

    // Everything the clipboard holds: the text and every kept format.
    ClipboardRead content() {
        if (!hasOwner()) {
            return {};
        }
        const Transfer list = fetch(targets_);
        if (list.data.outcome == Outcome::NoAnswer || list.data.outcome == Outcome::TooLarge) {
            return clipboard::failedRead(list.data.outcome);
        }
        std::vector<xcb_atom_t> offered = atomsOf(list);
        if (offered.empty()) {
            // An owner that cannot list its formats may still give text.
            offered = x11::internAtoms(c_, {"UTF8_STRING", "STRING"});
        }
        const auto read = clipboard::readOffered(namesOf(offered), budget_, [&](std::size_t i) {
            Transfer transfer = fetch(offered[i]);
            transfer.data.latin1 = transfer.type == XCB_ATOM_STRING;
            return std::move(transfer.data);
        });
        // An X owner never changes under a read: a new one's answers would
        // name another time.
        return read.value_or(clipboard::failedRead(Outcome::NoAnswer));
    }

private:
    bool hasOwner() const {
        const auto reply = own(
            xcb_get_selection_owner_reply(c_, xcb_get_selection_owner(c_, clipboard_), nullptr));
        return reply && reply->owner != XCB_NONE;
    }

    // Asks the owner for the data in one format and takes it in, whole.
    Transfer fetch(xcb_atom_t target) {
        xcb_delete_property(c_, window_, property_);
        xcb_convert_selection(c_, window_, clipboard_, target, property_, XCB_CURRENT_TIME);
        xcb_flush(c_);
        const auto notify = waitFor([&](const xcb_generic_event_t& event) {
            if (eventType(event) != XCB_SELECTION_NOTIFY) {
                return false;
            }
            const auto& n = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
            return n.requestor == window_ && n.selection == clipboard_ && n.target == target;
        });
        if (!notify) {
            return {Outcome::NoAnswer};
        }
        if (reinterpret_cast<const xcb_selection_notify_event_t*>(notify.get())->property ==
            XCB_NONE) {
            return {Outcome::Refused};
        }
        const auto first = takeProperty();
        if (!first) {
            return {Outcome::NoAnswer};
        }
        if (first->bytes_after > 0) {
            return {Outcome::TooLarge};
        }
        Transfer transfer{Outcome::Done, first->type};
        if (first->type != incr_) {
            transfer.data.bytes = valueOf(*first);
        } else if (const Outcome outcome = takeIncrementally(*first, transfer.data.bytes);
                   outcome != Outcome::Done) {
            return {outcome};
        }
        return transfer;
    }

    static std::vector<xcb_atom_t> atomsOf(const Transfer& transfer) {
        if (transfer.type != XCB_ATOM_ATOM) {
            return {};
        }
        const QByteArray& bytes = transfer.data.bytes;
        std::vector<xcb_atom_t> atoms(static_cast<std::size_t>(bytes.size()) / sizeof(xcb_atom_t));
        std::memcpy(atoms.data(), bytes.constData(), atoms.size() * sizeof(xcb_atom_t));
        return atoms;
    }

    std::vector<std::string> namesOf(const std::vector<xcb_atom_t>& atoms) const {
        std::vector<xcb_get_atom_name_cookie_t> cookies;
        cookies.reserve(atoms.size());
        for (const xcb_atom_t atom : atoms) {
            cookies.push_back(xcb_get_atom_name(c_, atom));
        }
        std::vector<std::string> names;
        names.reserve(atoms.size());
        for (const auto cookie : cookies) {
            const auto reply = own(xcb_get_atom_name_reply(c_, cookie, nullptr));
            names.emplace_back(reply ? std::string(xcb_get_atom_name_name(reply.get()),
                                                   static_cast<std::size_t>(
                                                       xcb_get_atom_name_name_length(reply.get())))
                                     : std::string());
        }
        return names;
    }

private:
    // Waits for the first event that matches, until the read's deadline;
    // the others are of no use to a read and are dropped.
    template <typename Match>
    Owned<xcb_generic_event_t> waitFor(Match&& match) {
        for (;;) {
            while (auto event = own(xcb_poll_for_event(c_))) {
                if (match(*event)) {
                    return event;
                }
            }
            const int wait = budget_.nextWait();
            if (xcb_connection_has_error(c_) != 0 || wait == 0) {
                return own<xcb_generic_event_t>(nullptr);
            }
            pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
            poll(&fd, 1, wait);
        }
    }

    // Reads and deletes the property; deleting it asks the owner of a long
    // transfer for the next piece.
    Owned<xcb_get_property_reply_t> takeProperty() {
        const std::int64_t words = std::min<std::int64_t>(
            budget_.bytesLeft() / 4 + 1, std::numeric_limits<std::uint32_t>::max());
        return own(xcb_get_property_reply(
            c_,
            xcb_get_property(c_, 1, window_, property_, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             static_cast<std::uint32_t>(words)),
            nullptr));
    }

    static QByteArray valueOf(xcb_get_property_reply_t& reply) {
        return QByteArray(static_cast<const char*>(xcb_get_property_value(&reply)),
                          xcb_get_property_value_length(&reply));
    }

    Outcome takeIncrementally(xcb_get_property_reply_t& announcement, QByteArray& bytes) {
        // The announcement carries a lower bound of the size.
        if (xcb_get_property_value_length(&announcement) >= 4) {
            std::uint32_t atLeast = 0;
            std::memcpy(&atLeast, xcb_get_property_value(&announcement), sizeof atLeast);
            if (!budget_.fits(atLeast)) {
                return Outcome::TooLarge;
            }
            // Only a hint from another program: not all of it up front.
            bytes.reserve(std::min<std::int64_t>(atLeast, std::int64_t{64} * 1024 * 1024));
        }
        for (;;) {
            const auto next = waitFor([&](const xcb_generic_event_t& event) {
                if (eventType(event) != XCB_PROPERTY_NOTIFY) {
                    return false;
                }
                const auto& n = reinterpret_cast<const xcb_property_notify_event_t&>(event);
                return n.window == window_ && n.atom == property_ &&
                       n.state == XCB_PROPERTY_NEW_VALUE;
            });
            if (!next) {
                return Outcome::NoAnswer;
            }
            const auto piece = takeProperty();
            if (!piece) {
                return Outcome::NoAnswer;
            }
            const int length = xcb_get_property_value_length(piece.get());
            // An empty piece ends the transfer.
            if (length == 0) {
                return Outcome::Done;
            }
            if (piece->bytes_after > 0 || !budget_.fits(bytes.size() + length)) {
                return Outcome::TooLarge;
            }
            bytes.append(static_cast<const char*>(xcb_get_property_value(piece.get())), length);
        }
    }

    xcb_connection_t* c_;
    xcb_window_t window_;
    xcb_atom_t clipboard_;
    xcb_atom_t targets_;
    xcb_atom_t incr_;
    xcb_atom_t property_;
    clipboard::ReadBudget budget_;
};

}  // namespace

SelectionReaderX11::SelectionReaderX11() : SelectionReaderX11(Limits{}) {}

SelectionReaderX11::SelectionReaderX11(Limits limits) : limits_(limits) {}

SelectionReaderX11::~SelectionReaderX11() = default;

ClipboardRead SelectionReaderX11::read() {
    if (cancelled_) {
        return clipboard::failedRead(Outcome::NoAnswer);
    }
    if (!session_ || xcb_connection_has_error(session_->get()) != 0) {
        session_ = Session::open();
        if (!session_) {
            return clipboard::failedRead(Outcome::NoAnswer);
        }
    }
    ClipboardRead result =
        Reading(session_->get(), session_->window, session_->atoms, limits_, cancelled_).content();
    if (result.status != ClipboardRead::Status::Read || result.partial) {
        // An answer that comes late must not reach the next read.
        session_.reset();
    }
    return result;
}

}  // namespace quillet
