#include "platform/qt/main_queue_qt.h"

#include <QThread>

#include <memory>

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

bool MainQueueQt::runSync(Task task) {
    Q_ASSERT_X(QThread::currentThread() != thread(), "MainQueueQt::runSync",
               "a synchronous submission from the UI thread would wait for itself");
    if (QThread::currentThread() == thread()) {
        task();
        return true;
    }
    // Shared so that a caller released by shutDown() leaves nothing dangling.
    struct Call {
        bool finished = false;
    };
    auto call = std::make_shared<Call>();
    post([this, call, task = std::move(task)] {
        task();
        std::lock_guard lock(mutex_);
        call->finished = true;
        done_.notify_all();
    });
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return call->finished || shutDown_; });
    return call->finished;
}

void MainQueueQt::shutDown() {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    tasks_.clear();
    done_.notify_all();
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
