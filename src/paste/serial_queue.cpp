#include "paste/serial_queue.h"

#include <pthread.h>

#include <cassert>

namespace quillet {

SerialQueue::SerialQueue(std::string threadName)
    : threadName_(std::move(threadName)), worker_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    state_.change([](State& state) {
        state.stopping = true;
        state.tasks.clear();
    });
    worker_.join();
}

void SerialQueue::async(Task task) {
    if (!task) {
        return;
    }
    state_.change([&](State& state) {
        if (!state.stopping) {
            state.tasks.push_back(std::move(task));
        }
    });
}

void SerialQueue::drain() {
    assert(std::this_thread::get_id() != worker_.get_id() && "drain() from its own worker");
    state_.wait([](const State& state) { return state.idle() || state.stopping; });
}

void SerialQueue::discardPending() {
    state_.change([](State& state) { state.tasks.clear(); });
}

bool SerialQueue::idle() {
    return state_.read([](const State& state) { return state.idle(); });
}

void SerialQueue::run() {
    // The kernel keeps 15 characters of a thread name.
    pthread_setname_np(pthread_self(), threadName_.substr(0, 15).c_str());
    for (;;) {
        Task task = state_.waitThen(
            [](const State& state) { return state.stopping || !state.tasks.empty(); },
            [](State& state) -> Task {
                if (state.stopping) {
                    return {};
                }
                Task next = std::move(state.tasks.front());
                state.tasks.pop_front();
                state.busy = true;
                return next;
            });
        if (!task) {
            return;
        }
        task();
        state_.change([](State& state) { state.busy = false; });
    }
}

}  // namespace quillet
