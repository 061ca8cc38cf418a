#include "platform/x11/selection_owner_x11.h"

#include "core/handoff.h"
#include "platform/clipboard_rules.h"
#include "platform/x11/connection.h"

#include <QString>

#include <xcb/xcb.h>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <thread>

namespace quillet {

namespace {

using Clock = std::chrono::steady_clock;
using x11::own;

// Server times are milliseconds that wrap around after 49 days.
bool notBefore(std::uint32_t time, std::uint32_t since) {
    return static_cast<std::int32_t>(time - since) >= 0;
}

std::uint8_t eventType(const xcb_generic_event_t& event) {
    return static_cast<std::uint8_t>(event.response_type & 0x7F);
}

// A late request names a time within these: the put-back before a line,
// the line, and the put-back after it.
constexpr std::size_t kKeptClaims = 3;

}  // namespace

SelectionTargets selectionTargets(const ClipboardContent& content) {
    SelectionTargets targets;
    // An empty text stays an empty text; an empty clipboard stays empty.
    if (const std::optional<QByteArray> utf8 = clipboard::utf8Text(content)) {
        targets.push_back({"UTF8_STRING", "UTF8_STRING", *utf8, true});
        targets.push_back({"TEXT", "UTF8_STRING", *utf8, true});
        // Question marks in place of what Latin-1 lacks would paste wrong text.
        if (std::all_of(content.text.begin(), content.text.end(),
                        [](QChar c) { return c.unicode() < 0x100; })) {
            targets.push_back({"STRING", "STRING", content.text.toLatin1(), true});
        }
    }
    for (auto& [name, bytes] : clipboard::putBackFormats(content)) {
        if (name != "UTF8_STRING") {
            const bool text = clipboard::isTextFormat(name);
            targets.push_back({name, name, std::move(bytes), text});
        }
    }
    return targets;
}

struct SelectionOwnerX11::Impl {
    // A target of one claim, as the server names it.
    struct Offered {
        xcb_atom_t target;
        xcb_atom_t type;
        QByteArray bytes;
        bool text;
    };
    struct Claim {
        std::uint64_t id = 0;
        std::uint32_t time = 0;  // the server's, when the claim was made
        std::shared_ptr<const std::vector<Offered>> offered;
        bool retired = false;  // its line went unfetched: refused from then on
    };
    // Data going out in pieces: the requestor deletes the property for the next.
    struct Transfer {
        xcb_window_t requestor;
        xcb_atom_t property;
        xcb_atom_t type;
        QByteArray bytes;
        qsizetype sent;
        std::uint64_t claim;
        bool counts;  // the watched line's text
        Clock::time_point quietUntil;
    };

    explicit Impl(Limits limits);
    ~Impl();

    bool call(const std::function<void()>& task);
    void poke() const;
    void run();
    void drainEvents();
    void handle(const xcb_generic_event_t& event);
    std::optional<std::uint32_t> serverTime();
    std::uint64_t claimNow(SelectionTargets wanted);
    bool holdsNow(std::uint64_t claim);
    std::optional<Claim> claimAt(std::uint32_t time);
    void onRequest(const xcb_selection_request_event_t& request);
    bool convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property,
                 const Claim& claim);
    bool convertMultiple(xcb_window_t requestor, xcb_atom_t property, const Claim& claim);
    void send(xcb_window_t requestor, xcb_atom_t property, const Offered& offered,
              const Claim& claim);
    void onPropertyNotify(const xcb_property_notify_event_t& event);
    void finish(std::vector<Transfer>::iterator transfer, bool whole);
    void dropTransfers(const std::function<bool(const Transfer&)>& which);

    const Limits limits;
    x11::XcbConnection connection;
    xcb_connection_t* c = nullptr;
    xcb_window_t window = XCB_NONE;
    xcb_atom_t clipboard{}, targets{}, timestamp{}, multiple{}, incr{};
    xcb_atom_t stamp = XCB_NONE;  // changed on our window for the server's time
    std::size_t piece = 0;
    int wake = -1;  // an eventfd: tasks wait, or the loop should end
    std::thread thread;

    // The loop thread's.
    std::map<std::string, xcb_atom_t> atoms;
    std::vector<Transfer> transfers;
    std::optional<std::uint32_t> stamped;
    std::vector<std::uint64_t> delivered;  // claims whose text goes out with this answer

    // What the loop thread and its callers share.
    struct Shared {
        std::vector<std::function<void()>> tasks;
        std::uint64_t queued = 0;
        std::uint64_t done = 0;
        bool stopping = false;
        bool ended = false;  // no loop runs: the connection broke, or never was
        std::deque<Claim> claims;
        std::uint64_t lastId = 0;
        bool owned = false;
        std::optional<std::uint32_t> lostAt;  // the new owner's time
        std::size_t liveTransfers = 0;
        clipboard::FetchWatch watch;

        void end() {
            ended = true;
            owned = false;
            watch.close();
        }
    };
    Handoff<Shared> shared;
};

SelectionOwnerX11::Impl::Impl(Limits given) : limits(given) {
    connection.reset(xcb_connect(nullptr, nullptr));
    c = connection.get();
    const xcb_screen_t* screen = xcb_connection_has_error(c) == 0
                                     ? xcb_setup_roots_iterator(xcb_get_setup(c)).data
                                     : nullptr;
    wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const auto fixed = screen != nullptr
                           ? x11::internAtoms(c, {"CLIPBOARD", "TARGETS", "TIMESTAMP", "MULTIPLE",
                                                  "INCR", "_QUILLET_TIMESTAMP"})
                           : std::vector<std::uint32_t>{};
    if (wake < 0 || fixed.empty() ||
        std::find(fixed.begin(), fixed.end(), XCB_NONE) != fixed.end()) {
        shared.change([](Shared& s) { s.end(); });
        return;
    }
    clipboard = fixed[0];
    targets = fixed[1];
    timestamp = fixed[2];
    multiple = fixed[3];
    incr = fixed[4];
    stamp = fixed[5];
    window = xcb_generate_id(c);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                      &events);
    // The request's own header goes with each piece.
    piece = std::min<std::size_t>(limits.piece,
                                  std::size_t{xcb_get_maximum_request_length(c)} * 4 - 64);
    xcb_flush(c);
    thread = std::thread([this] { run(); });
}

SelectionOwnerX11::Impl::~Impl() {
    shared.change([](Shared& s) { s.stopping = true; });
    poke();
    if (thread.joinable()) {
        thread.join();
    }
    if (wake >= 0) {
        ::close(wake);
    }
}

void SelectionOwnerX11::Impl::poke() const {
    const std::uint64_t one = 1;
    if (::write(wake, &one, sizeof one) < 0) {
        // Already woken: the counter is full of earlier pokes.
    }
}

bool SelectionOwnerX11::Impl::call(const std::function<void()>& task) {
    const std::uint64_t ticket = shared.change([&](Shared& s) -> std::uint64_t {
        if (s.ended) {
            return 0;
        }
        s.tasks.push_back(task);
        return ++s.queued;
    });
    if (ticket == 0) {
        return false;
    }
    poke();
    return shared.waitThen([&](const Shared& s) { return s.done >= ticket || s.ended; },
                           [&](const Shared& s) { return s.done >= ticket; });
}

void SelectionOwnerX11::Impl::run() {
    pthread_setname_np(pthread_self(), "clipboard-owner");
    std::vector<std::function<void()>> batch;
    for (;;) {
        drainEvents();
        const bool stopping = shared.change([&](Shared& s) {
            batch.swap(s.tasks);
            return s.stopping;
        });
        if (stopping) {
            break;
        }
        if (!batch.empty()) {
            for (const auto& task : batch) {
                task();
                shared.change([](Shared& s) { ++s.done; });
            }
            batch.clear();
            xcb_flush(c);
            // A task's round trips may have queued events: they come first.
            continue;
        }
        dropTransfers([now = Clock::now()](const Transfer& t) { return t.quietUntil <= now; });
        xcb_flush(c);
        if (xcb_connection_has_error(c) != 0) {
            break;
        }
        // Until the first requestor that stops asking for pieces is given up.
        int timeout = -1;
        for (const Transfer& transfer : transfers) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(transfer.quietUntil - Clock::now());
            const int ms = static_cast<int>(std::clamp<std::int64_t>(left.count(), 1, 60'000));
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        pollfd fds[] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {wake, POLLIN, 0}};
        poll(fds, 2, timeout);
        std::uint64_t pokes = 0;
        if (::read(wake, &pokes, sizeof pokes) < 0) {
            // Nobody poked.
        }
    }
    shared.change([](Shared& s) { s.end(); });
}

void SelectionOwnerX11::Impl::drainEvents() {
    while (const auto event = own(xcb_poll_for_event(c))) {
        handle(*event);
    }
}

void SelectionOwnerX11::Impl::handle(const xcb_generic_event_t& event) {
    switch (eventType(event)) {
        case 0: {
            // A requestor whose window went away takes no more pieces.
            const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
            if (error.error_code == XCB_WINDOW) {
                dropTransfers([&](const Transfer& t) { return t.requestor == error.resource_id; });
            }
            break;
        }
        case XCB_SELECTION_REQUEST:
            onRequest(reinterpret_cast<const xcb_selection_request_event_t&>(event));
            break;
        case XCB_SELECTION_CLEAR: {
            const auto& clear = reinterpret_cast<const xcb_selection_clear_event_t&>(event);
            if (clear.selection == clipboard && clear.owner == window) {
                shared.change([&](Shared& s) {
                    s.owned = false;
                    s.lostAt = clear.time;
                    s.watch.lost(s.watch.watched());
                });
            }
            break;
        }
        case XCB_PROPERTY_NOTIFY:
            onPropertyNotify(reinterpret_cast<const xcb_property_notify_event_t&>(event));
            break;
        default:
            break;
    }
}

std::optional<std::uint32_t> SelectionOwnerX11::Impl::serverTime() {
    // Changing a property of ours comes back as an event with the server's time.
    stamped.reset();
    xcb_change_property(c, XCB_PROP_MODE_APPEND, window, stamp, XCB_ATOM_INTEGER, 32, 0, nullptr);
    xcb_flush(c);
    const auto until = Clock::now() + std::chrono::seconds(2);
    for (;;) {
        drainEvents();
        if (stamped) {
            return stamped;
        }
        if (xcb_connection_has_error(c) != 0 || Clock::now() >= until) {
            return std::nullopt;
        }
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        poll(&fd, 1, 20);
    }
}

std::uint64_t SelectionOwnerX11::Impl::claimNow(SelectionTargets wanted) {
    std::set<std::string> missing;
    for (const SelectionTarget& target : wanted) {
        for (const std::string* name : {&target.name, &target.type}) {
            if (!atoms.contains(*name)) {
                missing.insert(*name);
            }
        }
    }
    const std::vector<const char*> names = [&] {
        std::vector<const char*> list;
        for (const std::string& name : missing) {
            list.push_back(name.c_str());
        }
        return list;
    }();
    const std::vector<std::uint32_t> interned = x11::internAtoms(c, names);
    for (std::size_t i = 0; i < names.size(); ++i) {
        atoms.emplace(names[i], interned[i]);
    }
    auto offered = std::make_shared<std::vector<Offered>>();
    for (SelectionTarget& target : wanted) {
        const xcb_atom_t atom = atoms[target.name];
        if (atom != XCB_NONE) {
            offered->push_back({atom, atoms[target.type], std::move(target.bytes), target.text});
        }
    }

    const std::optional<std::uint32_t> last =
        shared.read([](const Shared& s) -> std::optional<std::uint32_t> {
            return s.claims.empty() ? std::nullopt : std::optional(s.claims.back().time);
        });
    std::optional<std::uint32_t> time = serverTime();
    // Each claim a millisecond of its own: a request names exactly one.
    for (int tries = 0; time && last && !notBefore(*time, *last + 1) && tries < 10; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        time = serverTime();
    }
    if (!time) {
        return 0;
    }
    const std::uint64_t id = shared.change([&](Shared& s) {
        s.claims.push_back({++s.lastId, *time, std::move(offered), false});
        return s.lastId;
    });
    xcb_set_selection_owner(c, window, clipboard, *time);
    const auto owner =
        own(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    const bool ours = owner && owner->owner == window;
    return shared.change([&](Shared& s) -> std::uint64_t {
        if (!ours) {
            std::erase_if(s.claims, [&](const Claim& claim) { return claim.id == id; });
            return 0;
        }
        s.owned = true;
        s.lostAt.reset();
        while (s.claims.size() > kKeptClaims) {
            s.claims.pop_front();
        }
        return id;
    });
}

bool SelectionOwnerX11::Impl::holdsNow(std::uint64_t claim) {
    const auto owner =
        own(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
    return owner && owner->owner == window && shared.read([&](const Shared& s) {
        return s.owned && !s.claims.empty() && s.claims.back().id == claim;
    });
}

std::optional<SelectionOwnerX11::Impl::Claim> SelectionOwnerX11::Impl::claimAt(std::uint32_t time) {
    return shared.read([&](const Shared& s) -> std::optional<Claim> {
        const Claim* found = nullptr;
        if (time == XCB_CURRENT_TIME) {
            if (s.owned && !s.claims.empty()) {
                found = &s.claims.back();
            }
        } else if (!s.lostAt || !notBefore(time, *s.lostAt)) {
            // The clipboard as it was at that time; refused from before our first claim.
            const auto it =
                std::find_if(s.claims.rbegin(), s.claims.rend(),
                             [&](const Claim& claim) { return notBefore(time, claim.time); });
            found = it != s.claims.rend() ? &*it : nullptr;
        }
        if (found == nullptr || found->retired) {
            return std::nullopt;
        }
        return *found;
    });
}

void SelectionOwnerX11::Impl::onRequest(const xcb_selection_request_event_t& request) {
    // Requestors of old name no property: the target's name stands for it.
    const xcb_atom_t property = request.property != XCB_NONE ? request.property : request.target;
    bool answered = false;
    if (request.selection == clipboard) {
        if (const std::optional<Claim> claim = claimAt(request.time)) {
            answered = request.target == multiple
                           ? request.property != XCB_NONE &&
                                 convertMultiple(request.requestor, property, *claim)
                           : convert(request.requestor, request.target, property, *claim);
        }
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = answered ? property : XCB_NONE;
    xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
    xcb_flush(c);
    if (!delivered.empty()) {
        shared.change([&](Shared& s) {
            for (const std::uint64_t id : delivered) {
                s.watch.delivered(id);
            }
        });
        delivered.clear();
    }
}

bool SelectionOwnerX11::Impl::convert(xcb_window_t requestor, xcb_atom_t target,
                                      xcb_atom_t property, const Claim& claim) {
    if (target == targets) {
        std::vector<xcb_atom_t> list{targets, timestamp, multiple};
        for (const Offered& offered : *claim.offered) {
            list.push_back(offered.target);
        }
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(list.size()), list.data());
        return true;
    }
    if (target == timestamp) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1,
                            &claim.time);
        return true;
    }
    const auto offered = std::find_if(claim.offered->begin(), claim.offered->end(),
                                      [&](const Offered& o) { return o.target == target; });
    if (offered == claim.offered->end()) {
        return false;
    }
    send(requestor, property, *offered, claim);
    return true;
}

bool SelectionOwnerX11::Impl::convertMultiple(xcb_window_t requestor, xcb_atom_t property,
                                              const Claim& claim) {
    // Pairs of target and property; a pair we cannot convert gets None.
    const auto reply = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, requestor, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 16),
        nullptr));
    if (!reply || reply->format != 32) {
        return false;
    }
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    std::vector<xcb_atom_t> pairs(values, values + xcb_get_property_value_length(reply.get()) / 4);
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
        if (pairs[i] == multiple || pairs[i + 1] == XCB_NONE ||
            !convert(requestor, pairs[i], pairs[i + 1], claim)) {
            pairs[i + 1] = XCB_NONE;
        }
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, reply->type, 32,
                        static_cast<std::uint32_t>(pairs.size()), pairs.data());
    return true;
}

void SelectionOwnerX11::Impl::send(xcb_window_t requestor, xcb_atom_t property,
                                   const Offered& offered, const Claim& claim) {
    const auto size = static_cast<std::size_t>(offered.bytes.size());
    if (size <= piece) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, offered.type, 8,
                            static_cast<std::uint32_t>(size), offered.bytes.constData());
        if (offered.text) {
            delivered.push_back(claim.id);
        }
        return;
    }
    // A property reused for a new request ends the transfer it carried.
    dropTransfers(
        [&](const Transfer& t) { return t.requestor == requestor && t.property == property; });
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, requestor, XCB_CW_EVENT_MASK, &events);
    const auto atLeast = static_cast<std::uint32_t>(
        std::min<std::size_t>(size, std::numeric_limits<std::uint32_t>::max()));
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, requestor, property, incr, 32, 1, &atLeast);
    shared.change([&](Shared& s) {
        const bool counts = offered.text && claim.id == s.watch.watched();
        if (counts) {
            s.watch.began(claim.id);
        }
        transfers.push_back({requestor, property, offered.type, offered.bytes, 0, claim.id, counts,
                             Clock::now() + limits.quiet});
        s.liveTransfers = transfers.size();
    });
}

void SelectionOwnerX11::Impl::onPropertyNotify(const xcb_property_notify_event_t& event) {
    if (event.window == window) {
        if (event.atom == stamp) {
            stamped = event.time;
        }
        return;
    }
    if (event.state != XCB_PROPERTY_DELETE) {
        return;
    }
    const auto transfer = std::find_if(transfers.begin(), transfers.end(), [&](const Transfer& t) {
        return t.requestor == event.window && t.property == event.atom;
    });
    if (transfer == transfers.end()) {
        return;
    }
    const bool retired = shared.read([&](const Shared& s) {
        return std::any_of(s.claims.begin(), s.claims.end(), [&](const Claim& claim) {
            return claim.id == transfer->claim && claim.retired;
        });
    });
    if (retired) {
        finish(transfer, false);
        return;
    }
    const auto next =
        std::min<qsizetype>(static_cast<qsizetype>(piece), transfer->bytes.size() - transfer->sent);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, transfer->requestor, transfer->property,
                        transfer->type, 8, static_cast<std::uint32_t>(next),
                        transfer->bytes.constData() + transfer->sent);
    transfer->sent += next;
    transfer->quietUntil = Clock::now() + limits.quiet;
    // The empty piece ends it.
    if (next == 0) {
        xcb_flush(c);
        finish(transfer, true);
    }
}

void SelectionOwnerX11::Impl::finish(std::vector<Transfer>::iterator transfer, bool whole) {
    const xcb_window_t requestor = transfer->requestor;
    const std::uint64_t claim = transfer->claim;
    const bool counts = transfer->counts;
    transfers.erase(transfer);
    if (std::none_of(transfers.begin(), transfers.end(),
                     [&](const Transfer& t) { return t.requestor == requestor; })) {
        const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
        xcb_change_window_attributes(c, requestor, XCB_CW_EVENT_MASK, &none);
    }
    shared.change([&](Shared& s) {
        s.liveTransfers = transfers.size();
        if (counts) {
            s.watch.ended(claim, whole);
        }
    });
}

void SelectionOwnerX11::Impl::dropTransfers(const std::function<bool(const Transfer&)>& which) {
    for (auto it = std::find_if(transfers.begin(), transfers.end(), which); it != transfers.end();
         it = std::find_if(transfers.begin(), transfers.end(), which)) {
        finish(it, false);
    }
}

SelectionOwnerX11::SelectionOwnerX11() : SelectionOwnerX11(Limits{}) {}

SelectionOwnerX11::SelectionOwnerX11(Limits limits) : impl_(std::make_unique<Impl>(limits)) {}

SelectionOwnerX11::~SelectionOwnerX11() = default;

std::uint64_t SelectionOwnerX11::claim(SelectionTargets targets) {
    std::uint64_t id = 0;
    impl_->call([&] { id = impl_->claimNow(std::move(targets)); });
    return id;
}

bool SelectionOwnerX11::holds(std::uint64_t claim) {
    bool held = false;
    impl_->call([&] { held = impl_->holdsNow(claim); });
    return held;
}

void SelectionOwnerX11::watch(std::uint64_t claim) {
    impl_->shared.change([&](Impl::Shared& s) { s.watch.arm(claim); });
}

FetchResult SelectionOwnerX11::waitForTransfer(std::chrono::milliseconds deadline) {
    Handoff<Impl::Shared>& shared = impl_->shared;
    shared.waitFor(deadline, [](const Impl::Shared& s) { return s.watch.settled(); });
    // A transfer begun in time may end later; each piece has its own time.
    shared.wait([](const Impl::Shared& s) { return s.watch.quiet(); });
    return shared.change([](Impl::Shared& s) {
        const FetchResult result = s.watch.result();
        // The place stays where it was: a later request for this line would
        // paste it a second time.
        if (result == FetchResult::NotFetched) {
            for (Impl::Claim& claim : s.claims) {
                claim.retired = claim.retired || claim.id == s.watch.watched();
            }
        }
        s.watch.disarm();
        return result;
    });
}

void SelectionOwnerX11::waitUntilReplaced() {
    impl_->shared.wait(
        [](const Impl::Shared& s) { return s.ended || (!s.owned && s.liveTransfers == 0); });
}

}  // namespace quillet
