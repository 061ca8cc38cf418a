#include "paste/serial_queue.h"

#include <pthread.h>

#include <cassert>

namespace quillet {

SerialQueue::SerialQueue(std::string threadName)
    : threadName_(std::move(threadName)), worker_([this] { run(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    worker_.join();
}

void SerialQueue::async(Task task) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void SerialQueue::drain() {
    assert(std::this_thread::get_id() != worker_.get_id() && "drain() from its own worker");
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return (tasks_.empty() && !busy_) || stopping_; });
}

void SerialQueue::discardPending() {
    std::lock_guard lock(mutex_);
    tasks_.clear();
    if (!busy_) {
        idle_.notify_all();
    }
}

bool SerialQueue::idle() {
    std::lock_guard lock(mutex_);
    return tasks_.empty() && !busy_;
}

void SerialQueue::run() {
    // The kernel keeps 15 characters of a thread name.
    pthread_setname_np(pthread_self(), threadName_.substr(0, 15).c_str());
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (stopping_) {
            break;
        }
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        busy_ = true;
        lock.unlock();
        task();
        lock.lock();
        busy_ = false;
        if (tasks_.empty()) {
            idle_.notify_all();
        }
    }
    idle_.notify_all();
}

}  // namespace quillet
