#include "platform/qt/main_queue_qt.h"

namespace quillet {

MainQueueQt::MainQueueQt() = default;

MainQueueQt::~MainQueueQt() {
    shutDown();
}

void MainQueueQt::post(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (shutDown_) {
            return;
        }
        tasks_.push_back(std::move(task));
    }
    QMetaObject::invokeMethod(this, &MainQueueQt::drain, Qt::QueuedConnection);
}

void MainQueueQt::shutDown() {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    tasks_.clear();
}

void MainQueueQt::drain() {
    // Re-entered from a modal loop that a task runs: the tasks after it run
    // there, in order, so that no paste step waits for the user.
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) {
                break;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace quillet
