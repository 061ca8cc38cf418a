#pragma once

#include "doubles/guarded.h"
#include "platform/main_queue.h"

#include <deque>
#include <mutex>

namespace quillet {

// A main queue whose posted tasks wait until the test runs them.
class ManualMainQueue final : public MainQueue, private Guarded {
public:
    void post(Task task) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(task));
    }

    // Runs the posted tasks (and any they post) in order; returns how many ran.
    int runPending() {
        int ran = 0;
        for (;;) {
            Task task;
            {
                std::lock_guard lock(mutex_);
                if (pending_.empty()) {
                    return ran;
                }
                task = std::move(pending_.front());
                pending_.pop_front();
            }
            task();
            ++ran;
        }
    }

    std::size_t pendingCount() const {
        return locked([&] { return pending_.size(); });
    }

    void shutDown() override {}

private:
    std::deque<Task> pending_;
};

}  // namespace quillet
