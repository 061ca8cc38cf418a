#pragma once

#include "core/handoff.h"

#include <deque>
#include <functional>
#include <string>
#include <thread>

namespace quillet {

// A serial queue on one worker thread: tasks run one at a time, in
// submission order; none is dropped or merged. The destructor lets the
// running task finish, drops the ones still waiting and joins the worker.
class SerialQueue {
public:
    using Task = std::function<void()>;

    // threadName: what tools like top show for the worker (15 characters).
    explicit SerialQueue(std::string threadName);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(Task task);

    // Blocks until every task submitted so far has run.
    void drain();

    // Drops the tasks that have not started; the running one goes on.
    void discardPending();

    // Whether no task is running or waiting.
    bool idle();

private:
    void run();

    struct State {
        std::deque<Task> tasks;
        bool busy = false;
        bool stopping = false;
        bool idle() const { return tasks.empty() && !busy; }
    };

    const std::string threadName_;
    Handoff<State> state_;
    std::thread worker_;  // last: starts after the rest is ready
};

}  // namespace quillet
