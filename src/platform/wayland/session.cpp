#include "platform/wayland/session.h"

#include "core/handoff.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>

namespace quillet::wayland {

void destroyRegistry(wl_registry* registry) {
    wl_registry_destroy(registry);
}

void releaseSeat(wl_seat* seat) {
    if (wl_seat_get_version(seat) >= WL_SEAT_RELEASE_SINCE_VERSION) {
        wl_seat_release(seat);
    } else {
        wl_seat_destroy(seat);
    }
}

void Session::DisplayDisconnect::operator()(wl_display* display) const {
    wl_display_disconnect(display);
}

std::shared_ptr<Session> Session::connect() {
    // The constructor is private; make_shared cannot reach it.
    std::shared_ptr<Session> session(new Session);
    if (!session->start()) {
        return nullptr;
    }
    return session;
}

bool Session::start() {
    display_.reset(wl_display_connect(nullptr));
    if (!display_) {
        return false;
    }
    wake_.reset(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake_) {
        return false;
    }
    static constexpr wl_registry_listener registryListener{&Session::onGlobal,
                                                           &Session::onGlobalRemove};
    registry_.reset(wl_display_get_registry(display_.get()));
    wl_registry_add_listener(registry_.get(), &registryListener, this);
    if (wl_display_roundtrip(display_.get()) < 0) {
        return false;
    }
    if (auto* seat = static_cast<wl_seat*>(bind(wl_seat_interface, 5))) {
        static constexpr wl_seat_listener seatListener{&Session::onCapabilities,
                                                       &Session::onSeatName};
        seat_.reset(seat);
        wl_seat_add_listener(seat, &seatListener, this);
        // The capabilities come with the next round trip.
        if (wl_display_roundtrip(display_.get()) < 0) {
            return false;
        }
    }
    // From here on only the loop thread touches the connection.
    thread_ = std::thread([this] { run(); });
    return true;
}

Session::~Session() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_.get(), &one, sizeof one);
    if (thread_.joinable()) {
        thread_.join();
    }
    // The services have let go of their objects by now; the seat, the
    // registry and the connection follow in the members' order.
}

bool Session::offers(const wl_interface& interface) const {
    std::lock_guard lock(mutex_);
    return std::any_of(globals_.begin(), globals_.end(),
                       [&](const Global& global) { return global.interface == interface.name; });
}

void Session::call(const std::function<void()>& task) {
    if (onLoopThread() || !thread_.joinable()) {
        task();
        return;
    }
    Handoff<bool> finished(false);
    {
        std::lock_guard lock(mutex_);
        tasks_.emplace_back([&] {
            task();
            finished.change([](bool& done) { done = true; });
        });
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wake_.get(), &one, sizeof one);
    finished.wait([](bool done) { return done; });
}

bool Session::connected() const {
    return !broken_ && wl_display_get_error(display_.get()) == 0;
}

void* Session::bind(const wl_interface& interface, std::uint32_t maxVersion,
                    std::uint32_t* version) {
    std::optional<Global> found;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(globals_.begin(), globals_.end(), [&](const Global& global) {
            return global.interface == interface.name;
        });
        if (it != globals_.end()) {
            found = *it;
        }
    }
    if (!found) {
        return nullptr;
    }
    const std::uint32_t bound = std::min(found->version, maxVersion);
    if (version != nullptr) {
        *version = bound;
    }
    return wl_registry_bind(registry_.get(), found->name, &interface, bound);
}

void Session::watch(int fd, short events, std::function<void()> onReady) {
    watches_[fd] = Watch{events, std::move(onReady)};
}

void Session::unwatch(int fd) {
    watches_.erase(fd);
}

void Session::runTasks() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(mutex_);
        tasks.swap(tasks_);
    }
    for (const auto& task : tasks) {
        task();
    }
}

void Session::run() {
    pthread_setname_np(pthread_self(), "wayland");
    // Serving the clipboard writes into pipes whose reader may be gone: such
    // a write must fail with EPIPE, not end the program.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    wl_display* display = display_.get();
    const int displayFd = wl_display_get_fd(display);
    std::vector<pollfd> fds;
    std::vector<int> ready;
    for (;;) {
        runTasks();
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        bool flushing = false;
        if (!broken_) {
            wl_display_dispatch_pending(display);
            // The socket may be full: then wait until it takes more.
            flushing = wl_display_flush(display) < 0 && errno == EAGAIN;
            broken_ = wl_display_get_error(display) != 0;
        }

        fds.clear();
        fds.push_back({wake_.get(), POLLIN, 0});
        if (!broken_) {
            fds.push_back({displayFd, static_cast<short>(POLLIN | (flushing ? POLLOUT : 0)), 0});
        }
        for (const auto& [fd, watch] : watches_) {
            fds.push_back({fd, watch.events, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            continue;  // EINTR
        }

        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read = ::read(wake_.get(), &count, sizeof count);
        }
        std::size_t next = 1;
        if (!broken_) {
            const short revents = fds[next++].revents;
            if ((revents & (POLLERR | POLLHUP)) != 0 ||
                ((revents & POLLIN) != 0 && wl_display_dispatch(display) < 0)) {
                broken_ = true;
            }
        }
        // Callbacks may change the watches: collect first, then call.
        ready.clear();
        for (; next < fds.size(); ++next) {
            if (fds[next].revents != 0) {
                ready.push_back(fds[next].fd);
            }
        }
        for (const int fd : ready) {
            if (const auto it = watches_.find(fd); it != watches_.end()) {
                const auto onReady = it->second.onReady;
                onReady();
            }
        }
    }
}

void Session::onGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
                       std::uint32_t version) {
    auto* session = static_cast<Session*>(data);
    std::lock_guard lock(session->mutex_);
    session->globals_.push_back(Global{name, interface, version});
}

void Session::onGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto* session = static_cast<Session*>(data);
    std::lock_guard lock(session->mutex_);
    std::erase_if(session->globals_, [&](const Global& global) { return global.name == name; });
}

void Session::onCapabilities(void* data, wl_seat*, std::uint32_t capabilities) {
    static_cast<Session*>(data)->seatCapabilities_ = capabilities;
}

void Session::onSeatName(void*, wl_seat*, const char*) {}

}  // namespace quillet::wayland
