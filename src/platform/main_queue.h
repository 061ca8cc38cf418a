#pragma once

#include <functional>

namespace quillet {

// The serial queue of the UI thread. Tasks run in submission order; while a
// task runs a modal dialog, the tasks submitted meanwhile run inside the
// dialog's loop, so that a paste step never waits for the user to answer.
class MainQueue {
public:
    using Task = std::function<void()>;

    virtual ~MainQueue() = default;

    // Any thread; returns at once.
    virtual void post(Task task) = 0;

    // Drops waiting tasks and refuses later submissions. Called before the UI thread stops.
    virtual void shutDown() = 0;
};

}  // namespace quillet
