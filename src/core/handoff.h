#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace quillet {

// State that one thread changes and another waits on: the one blocking
// hand-off between the program's threads. Every change wakes every waiter,
// and wakes them while still holding the lock, so a waiter that returns and
// destroys the hand-off can never race the notifying thread.
template <typename State>
class Handoff {
public:
    Handoff() = default;
    explicit Handoff(State initial) : state_(std::move(initial)) {}
    Handoff(const Handoff&) = delete;
    Handoff& operator=(const Handoff&) = delete;

    // Runs change(state) under the lock, then wakes the waiters; returns what
    // change returns.
    template <typename Change>
    decltype(auto) change(Change&& change) {
        std::lock_guard lock(mutex_);
        struct Notify {
            std::condition_variable& changed;
            ~Notify() { changed.notify_all(); }
        } notify{changed_};
        return std::forward<Change>(change)(state_);
    }

    // Runs read(state) under the lock, without waking anyone.
    template <typename Read>
    decltype(auto) read(Read&& read) const {
        std::lock_guard lock(mutex_);
        return std::forward<Read>(read)(std::as_const(state_));
    }

    // Blocks until ready(state) holds.
    template <typename Ready>
    void wait(Ready ready) const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ready(std::as_const(state_)); });
    }

    // Blocks until ready(state) holds, then runs then(state) under the same
    // lock and returns what it returns: take a task off a queue, say.
    template <typename Ready, typename Then>
    decltype(auto) waitThen(Ready ready, Then&& then) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ready(std::as_const(state_)); });
        struct Notify {
            std::condition_variable& changed;
            ~Notify() { changed.notify_all(); }
        } notify{changed_};
        return std::forward<Then>(then)(state_);
    }

    // Blocks until ready(state) holds or the deadline passes; whether it holds.
    template <typename Clock, typename Duration, typename Ready>
    bool waitUntil(std::chrono::time_point<Clock, Duration> deadline, Ready ready) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, deadline, [&] { return ready(std::as_const(state_)); });
    }

    template <typename Rep, typename Period, typename Ready>
    bool waitFor(std::chrono::duration<Rep, Period> timeout, Ready ready) const {
        return waitUntil(std::chrono::steady_clock::now() + timeout, std::move(ready));
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    State state_{};
};

}  // namespace quillet
