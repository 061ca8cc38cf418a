#pragma once

#include <functional>

namespace quillet {

// The serial queue of the UI thread. Tasks run one at a time in submission
// order; a task that runs a modal dialog holds the queue until the dialog
// closes, and tasks submitted meanwhile wait for it.
class MainQueue {
public:
    using Task = std::function<void()>;

    virtual ~MainQueue() = default;

    // Any thread; returns at once.
    virtual void post(Task task) = 0;

    // From another thread only: blocks until the task has run. Returns false,
    // without running it, when the queue has been shut down.
    virtual bool runSync(Task task) = 0;

    // Drops waiting tasks, releases every synchronous caller and refuses
    // later submissions. Called before the UI thread stops.
    virtual void shutDown() = 0;
};

}  // namespace quillet
