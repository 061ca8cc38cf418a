#include "platform/wayland/data_control.h"

#include "platform/wayland/owned.h"
#include "platform/wayland/protocols/ext-data-control-v1.h"
#include "platform/wayland/protocols/wlr-data-control-unstable-v1.h"
#include "platform/wayland/session.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace quillet::wayland {

namespace {

// The two protocols differ in their names only; the channel is written once
// against these.
struct Wlr {
    using Manager = zwlr_data_control_manager_v1;
    using Device = zwlr_data_control_device_v1;
    using Source = zwlr_data_control_source_v1;
    using Offer = zwlr_data_control_offer_v1;
    using DeviceListener = zwlr_data_control_device_v1_listener;
    using SourceListener = zwlr_data_control_source_v1_listener;
    using OfferListener = zwlr_data_control_offer_v1_listener;
    static const wl_interface& manager() { return zwlr_data_control_manager_v1_interface; }
    // Version 1: without the primary selection, which we leave alone.
    static constexpr std::uint32_t kVersion = 1;

    static void destroy(Manager* p) { zwlr_data_control_manager_v1_destroy(p); }
    static void destroy(Device* p) { zwlr_data_control_device_v1_destroy(p); }
    static void destroy(Source* p) { zwlr_data_control_source_v1_destroy(p); }
    static void destroy(Offer* p) { zwlr_data_control_offer_v1_destroy(p); }
    static Device* device(Manager* m, wl_seat* seat) {
        return zwlr_data_control_manager_v1_get_data_device(m, seat);
    }
    static Source* source(Manager* m) { return zwlr_data_control_manager_v1_create_data_source(m); }
    static void listen(Device* p, const DeviceListener* l, void* data) {
        zwlr_data_control_device_v1_add_listener(p, l, data);
    }
    static void listen(Source* p, const SourceListener* l, void* data) {
        zwlr_data_control_source_v1_add_listener(p, l, data);
    }
    static void listen(Offer* p, const OfferListener* l, void* data) {
        zwlr_data_control_offer_v1_add_listener(p, l, data);
    }
    static void offer(Source* p, const char* type) { zwlr_data_control_source_v1_offer(p, type); }
    static void select(Device* p, Source* s) { zwlr_data_control_device_v1_set_selection(p, s); }
    static void receive(Offer* p, const char* type, int fd) {
        zwlr_data_control_offer_v1_receive(p, type, fd);
    }
};

struct Ext {
    using Manager = ext_data_control_manager_v1;
    using Device = ext_data_control_device_v1;
    using Source = ext_data_control_source_v1;
    using Offer = ext_data_control_offer_v1;
    using DeviceListener = ext_data_control_device_v1_listener;
    using SourceListener = ext_data_control_source_v1_listener;
    using OfferListener = ext_data_control_offer_v1_listener;
    static const wl_interface& manager() { return ext_data_control_manager_v1_interface; }
    static constexpr std::uint32_t kVersion = 1;

    static void destroy(Manager* p) { ext_data_control_manager_v1_destroy(p); }
    static void destroy(Device* p) { ext_data_control_device_v1_destroy(p); }
    static void destroy(Source* p) { ext_data_control_source_v1_destroy(p); }
    static void destroy(Offer* p) { ext_data_control_offer_v1_destroy(p); }
    static Device* device(Manager* m, wl_seat* seat) {
        return ext_data_control_manager_v1_get_data_device(m, seat);
    }
    static Source* source(Manager* m) { return ext_data_control_manager_v1_create_data_source(m); }
    static void listen(Device* p, const DeviceListener* l, void* data) {
        ext_data_control_device_v1_add_listener(p, l, data);
    }
    static void listen(Source* p, const SourceListener* l, void* data) {
        ext_data_control_source_v1_add_listener(p, l, data);
    }
    static void listen(Offer* p, const OfferListener* l, void* data) {
        ext_data_control_offer_v1_add_listener(p, l, data);
    }
    static void offer(Source* p, const char* type) { ext_data_control_source_v1_offer(p, type); }
    static void select(Device* p, Source* s) { ext_data_control_device_v1_set_selection(p, s); }
    static void receive(Offer* p, const char* type, int fd) {
        ext_data_control_offer_v1_receive(p, type, fd);
    }
};

template <typename P, typename T>
void destroyProxy(T* proxy) {
    P::destroy(proxy);
}

// Writes what readers fetch from us without ever blocking the loop: a
// reader that takes its time gets the rest whenever its pipe has room.
class PipeWriters {
public:
    explicit PipeWriters(Session& session) : session_(session) {}
    ~PipeWriters() {
        for (const auto& pending : pending_) {
            session_.unwatch(pending.fd.get());
        }
    }
    PipeWriters(const PipeWriters&) = delete;
    PipeWriters& operator=(const PipeWriters&) = delete;

    // over(whole) runs once the data went out whole or was given up.
    void serve(UniqueFd fd, QByteArray bytes, std::function<void(bool whole)> over) {
        const int flags = fcntl(fd.get(), F_GETFL);
        fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
        Pending pending{std::move(fd), std::move(bytes), 0, std::move(over)};
        if (writeSome(pending)) {
            pending.over(pending.whole());
            return;
        }
        // A reader that never reads would keep its copy of the data for good:
        // only the latest few wait, the oldest is dropped.
        if (pending_.size() >= kMostPending) {
            session_.unwatch(pending_.front().fd.get());
            const auto dropped = std::move(pending_.front().over);
            pending_.pop_front();
            dropped(false);
        }
        const int raw = pending.fd.get();
        pending_.push_back(std::move(pending));
        session_.watch(raw, POLLOUT, [this, raw] { resume(raw); });
    }

private:
    static constexpr std::size_t kMostPending = 16;

    struct Pending {
        UniqueFd fd;
        QByteArray bytes;
        qsizetype written;
        std::function<void(bool whole)> over;

        bool whole() const { return written == bytes.size(); }
    };

    // True when the transfer is over, complete or failed.
    static bool writeSome(Pending& pending) {
        while (pending.written < pending.bytes.size()) {
            const ssize_t n =
                ::write(pending.fd.get(), pending.bytes.constData() + pending.written,
                        static_cast<std::size_t>(pending.bytes.size() - pending.written));
            if (n < 0) {
                return errno != EAGAIN && errno != EINTR;
            }
            pending.written += n;
        }
        return true;
    }

    void resume(int fd) {
        const auto it = std::find_if(pending_.begin(), pending_.end(),
                                     [&](const Pending& p) { return p.fd.get() == fd; });
        if (it != pending_.end() && writeSome(*it)) {
            session_.unwatch(fd);
            const bool whole = it->whole();
            const auto over = std::move(it->over);
            pending_.erase(it);
            over(whole);
        }
    }

    Session& session_;
    std::deque<Pending> pending_;
};

template <typename P>
class DataControl final : public SelectionChannel {
public:
    DataControl(Session& session, typename P::Manager* manager, Events events)
        : session_(session), events_(std::move(events)), writers_(session), manager_(manager) {
        device_.reset(P::device(manager, session.seat()));
        P::listen(device_.get(), &kDeviceListener, this);
        // The current selection arrives with the next round trip.
        wl_display_roundtrip(session_.display());
    }

    Selection selection() const override {
        const auto it = offers_.find(selection_);
        if (selection_ == nullptr || it == offers_.end()) {
            return {generation_, {}};
        }
        return {generation_, it->second.types};
    }

    bool receive(std::uint64_t generation, const std::string& mimeType, int fd) override {
        if (generation != generation_ || selection_ == nullptr) {
            return false;
        }
        P::receive(selection_, mimeType.c_str(), fd);
        wl_display_flush(session_.display());
        return true;
    }

    std::uint64_t offer(Formats formats) override {
        if (!usable()) {
            return 0;
        }
        if (formats.empty()) {
            P::select(device_.get(), nullptr);
            wl_display_flush(session_.display());
            return 0;
        }
        OwnedSource source(P::source(manager_.get()));
        P::listen(source.get(), &kSourceListener, this);
        for (const auto& format : formats) {
            P::offer(source.get(), format.first.c_str());
        }
        P::select(device_.get(), source.get());
        wl_display_flush(session_.display());
        const std::uint64_t id = ++lastSourceId_;
        typename P::Source* raw = source.get();
        sources_.emplace(raw, Served{id, std::move(formats), std::move(source)});
        return id;
    }

    bool usable() const override { return device_ != nullptr && session_.connected(); }

private:
    using OwnedOffer = Owned<typename P::Offer, destroyProxy<P, typename P::Offer>>;
    using OwnedSource = Owned<typename P::Source, destroyProxy<P, typename P::Source>>;

    struct Announced {
        std::vector<std::string> types;
        OwnedOffer offer;
    };
    struct Served {
        std::uint64_t id;
        Formats formats;
        OwnedSource source;
    };

    static void onDataOffer(void* data, typename P::Device*, typename P::Offer* offer) {
        auto* self = static_cast<DataControl*>(data);
        self->offers_.emplace(offer, Announced{{}, OwnedOffer(offer)});
        P::listen(offer, &kOfferListener, &self->offers_.at(offer).types);
    }
    static void onOfferType(void* data, typename P::Offer*, const char* type) {
        static_cast<std::vector<std::string>*>(data)->emplace_back(type);
    }
    static void onSelection(void* data, typename P::Device*, typename P::Offer* offer) {
        auto* self = static_cast<DataControl*>(data);
        self->selection_ = offer;
        ++self->generation_;
        // Offers announced before this one are of no use any more.
        std::erase_if(self->offers_, [&](const auto& entry) { return entry.first != offer; });
    }
    static void onFinished(void* data, typename P::Device*) {
        auto* self = static_cast<DataControl*>(data);
        self->selection_ = nullptr;
        self->offers_.clear();
        self->device_.reset();
    }
    static void onPrimarySelection(void*, typename P::Device*, typename P::Offer* offer) {
        // Not asked for at version 1; should one come, it is not ours to keep.
        if (offer != nullptr) {
            P::destroy(offer);
        }
    }
    static void onSend(void* data, typename P::Source* source, const char* type, int fd) {
        auto* self = static_cast<DataControl*>(data);
        UniqueFd pipe(fd);
        const auto it = self->sources_.find(source);
        if (it == self->sources_.end()) {
            return;
        }
        const Formats& formats = it->second.formats;
        const auto format = std::find_if(formats.begin(), formats.end(),
                                         [&](const auto& f) { return f.first == type; });
        if (format == formats.end()) {
            return;
        }
        const std::uint64_t id = it->second.id;
        self->events_.sending(id, format->first);
        self->writers_.serve(
            std::move(pipe), format->second,
            [self, id, name = format->first](bool whole) { self->events_.sent(id, name, whole); });
    }
    static void onCancelled(void* data, typename P::Source* source) {
        auto* self = static_cast<DataControl*>(data);
        const auto it = self->sources_.find(source);
        if (it != self->sources_.end()) {
            const std::uint64_t id = it->second.id;
            self->sources_.erase(it);
            self->events_.cancelled(id);
        }
    }

    static constexpr typename P::DeviceListener kDeviceListener{&onDataOffer, &onSelection,
                                                                &onFinished, &onPrimarySelection};
    static constexpr typename P::SourceListener kSourceListener{&onSend, &onCancelled};
    static constexpr typename P::OfferListener kOfferListener{&onOfferType};

    Session& session_;
    Events events_;
    PipeWriters writers_;
    Owned<typename P::Manager, destroyProxy<P, typename P::Manager>> manager_;
    std::map<typename P::Offer*, Announced> offers_;
    std::map<typename P::Source*, Served> sources_;
    Owned<typename P::Device, destroyProxy<P, typename P::Device>> device_;
    typename P::Offer* selection_ = nullptr;  // one of offers_, or none
    std::uint64_t generation_ = 0;
    std::uint64_t lastSourceId_ = 0;
};

template <typename P>
std::unique_ptr<SelectionChannel> openWith(Session& session, SelectionChannel::Events& events) {
    auto* manager = static_cast<typename P::Manager*>(session.bind(P::manager(), P::kVersion));
    if (manager == nullptr) {
        return nullptr;
    }
    return std::make_unique<DataControl<P>>(session, manager, std::move(events));
}

}  // namespace

bool dataControlOffered(const Session& session) {
    return session.offers(Ext::manager()) || session.offers(Wlr::manager());
}

std::unique_ptr<SelectionChannel> openSelectionChannel(Session& session,
                                                       SelectionChannel::Events events) {
    if (session.seat() == nullptr) {
        return nullptr;
    }
    if (auto channel = openWith<Ext>(session, events)) {
        return channel;
    }
    return openWith<Wlr>(session, events);
}

}  // namespace quillet::wayland
