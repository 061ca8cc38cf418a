#pragma once

#include "platform/main_queue.h"

#include <QObject>

#include <deque>
#include <mutex>

namespace quillet {

// The main queue on Qt's event loop. Qt runs queued calls inside nested
// (modal) loops too, so a task that shows a dialog holds nothing back.
class MainQueueQt final : public QObject, public MainQueue {
    Q_OBJECT

public:
    // Lives in the thread that creates it, which must be the UI thread.
    MainQueueQt();
    ~MainQueueQt() override;

    void post(Task task) override;

    void shutDown() override;

private:
    void drain();

    std::mutex mutex_;
    std::deque<Task> tasks_;
    bool shutDown_ = false;
};

}  // namespace quillet
