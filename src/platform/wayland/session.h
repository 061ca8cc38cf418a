#pragma once

#include "platform/wayland/owned.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct wl_display;
struct wl_interface;
struct wl_registry;
struct wl_seat;

namespace quillet::wayland {

void destroyRegistry(wl_registry* registry);
void releaseSeat(wl_seat* seat);

// A connection to the compositor of our own, never Qt's, and the thread that
// serves it. Every protocol object of the backend lives on that thread: the
// services hand it their work with call(), and it answers the compositor
// (another program fetching our clipboard, say) while the paste worker and
// the UI thread do other things. The services share one session.
class Session {
public:
    // Null when no compositor answers on $WAYLAND_DISPLAY.
    static std::shared_ptr<Session> connect();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Any thread: whether the compositor offers a global of this interface.
    bool offers(const wl_interface& interface) const;

    // Any thread: runs the task on the loop thread and returns once it has
    // run. Tasks run even after the connection broke, so owners can let go.
    void call(const std::function<void()>& task);

    // The rest is for the loop thread only.

    wl_display* display() const { return display_.get(); }
    // False once the compositor went away or ended the connection.
    bool connected() const;
    // The first seat; null when the compositor has none.
    wl_seat* seat() const { return seat_.get(); }
    // WL_SEAT_CAPABILITY_* bits as last announced.
    std::uint32_t seatCapabilities() const { return seatCapabilities_; }
    // Binds the global of this interface, at most at maxVersion; null when
    // it is not offered. *version receives the version bound.
    void* bind(const wl_interface& interface, std::uint32_t maxVersion,
               std::uint32_t* version = nullptr);
    // Calls onReady whenever fd has one of events (POLLIN, POLLOUT), until
    // unwatch(fd). Errors on fd count as ready: the callback sees them.
    void watch(int fd, short events, std::function<void()> onReady);
    void unwatch(int fd);

private:
    struct DisplayDisconnect {
        void operator()(wl_display* display) const;
    };
    struct Global {
        std::uint32_t name;
        std::string interface;
        std::uint32_t version;
    };
    struct Watch {
        short events;
        std::function<void()> onReady;
    };

    Session() = default;
    bool start();
    void run();
    void runTasks();
    bool onLoopThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void onCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
    static void onSeatName(void* data, wl_seat* seat, const char* name);

    // Declared first: destroyed last, after every object on the connection.
    std::unique_ptr<wl_display, DisplayDisconnect> display_;
    Owned<wl_registry, destroyRegistry> registry_;
    Owned<wl_seat, releaseSeat> seat_;
    std::uint32_t seatCapabilities_ = 0;
    bool broken_ = false;
    std::map<int, Watch> watches_;

    mutable std::mutex mutex_;  // guards the rest
    std::vector<Global> globals_;
    std::vector<std::function<void()>> tasks_;
    bool stopping_ = false;

    UniqueFd wake_;  // an eventfd: tasks are waiting, or the loop should end
    std::thread thread_;
};

}  // namespace quillet::wayland
