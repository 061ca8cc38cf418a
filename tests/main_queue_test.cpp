#include "platform/main_queue_qt.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quillet {
namespace {

// Runs the UI thread's events until `done` holds or ten seconds pass.
bool spinUntil(const std::function<bool()>& done) {
    const QDeadlineTimer deadline(10'000);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

bool onUiThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

TEST(MainQueueQt, RunsTasksInSubmissionOrderOnTheUiThread) {
    MainQueueQt queue;
    std::vector<int> ran;
    bool allOnUiThread = true;
    for (int i = 0; i < 100; ++i) {
        queue.post([&, i] {
            allOnUiThread = allOnUiThread && onUiThread();
            ran.push_back(i);
        });
    }
    EXPECT_TRUE(ran.empty()) << "post returns before the task runs";
    ASSERT_TRUE(spinUntil([&] { return ran.size() == 100; }));
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(ran[i], i);
    }
    EXPECT_TRUE(allOnUiThread);
}

TEST(MainQueueQt, RunSyncRunsOnTheUiThreadAndReturnsAfterwards) {
    MainQueueQt queue;
    std::atomic<bool> finished = false;
    bool result = false;
    bool ranOnUiThread = false;
    std::vector<int> seen;  // written on the UI thread, read by the caller after the return
    std::vector<int> seenByCaller;
    std::thread caller([&] {
        for (int i = 0; i < 20; ++i) {
            result = queue.runSync([&, i] {
                ranOnUiThread = onUiThread();
                seen.push_back(i);
            });
            if (!result || !ranOnUiThread) {
                break;
            }
            seenByCaller.push_back(seen.back());
        }
        finished = true;
    });
    const bool done = spinUntil([&] { return finished.load(); });
    if (!done) {
        queue.shutDown();
    }
    caller.join();
    ASSERT_TRUE(done);
    EXPECT_TRUE(result);
    EXPECT_TRUE(ranOnUiThread);
    EXPECT_EQ(seenByCaller.size(), 20u);
    EXPECT_EQ(seenByCaller, seen);
}

TEST(MainQueueQt, TaskInANestedEventLoopHoldsTheQueue) {
    MainQueueQt queue;
    std::vector<std::string> events;
    queue.post([&] {
        events.push_back("dialog opens");
        queue.post([&] { events.push_back("later task"); });
        // A modal dialog's loop: runs every queued call, then closes.
        QEventLoop modal;
        QMetaObject::invokeMethod(&modal, &QEventLoop::quit, Qt::QueuedConnection);
        modal.exec();
        events.push_back("dialog closes");
    });
    ASSERT_TRUE(spinUntil([&] { return events.size() == 3; }));
    EXPECT_EQ(events, (std::vector<std::string>{"dialog opens", "dialog closes", "later task"}));
}

// Swallows the queue's wake-up call and shuts the queue down instead, so the
// task waits in the queue while its caller is blocked.
class ShutDownOnWake final : public QObject {
public:
    explicit ShutDownOnWake(MainQueueQt& queue) : queue_(queue) {}
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() != QEvent::MetaCall) {
            return false;
        }
        queue_.shutDown();
        woken = true;
        return true;
    }
    std::atomic<bool> woken = false;

private:
    MainQueueQt& queue_;
};

TEST(MainQueueQt, ShutDownReleasesWaitingCallersAndDropsTasks) {
    MainQueueQt queue;
    ShutDownOnWake filter(queue);
    queue.installEventFilter(&filter);
    std::atomic<bool> taskRan = false;
    std::atomic<bool> finished = false;
    bool result = true;
    std::thread caller([&] {
        result = queue.runSync([&] { taskRan = true; });
        finished = true;
    });
    const bool released = spinUntil([&] { return finished.load(); });
    if (!released) {
        queue.shutDown();
    }
    caller.join();
    queue.removeEventFilter(&filter);
    ASSERT_TRUE(released);
    EXPECT_TRUE(filter.woken);
    EXPECT_FALSE(result);

    // Nothing runs once the queue is shut down, neither the waiting task nor new ones.
    bool posted = false;
    queue.post([&] { posted = true; });
    bool lateResult = true;
    std::atomic<bool> lateFinished = false;
    std::thread lateCaller([&] {
        lateResult = queue.runSync([&] { taskRan = true; });
        lateFinished = true;
    });
    EXPECT_TRUE(spinUntil([&] { return lateFinished.load(); }));
    lateCaller.join();
    EXPECT_FALSE(lateResult);
    EXPECT_FALSE(taskRan);
    EXPECT_FALSE(posted);
}

}  // namespace
}  // namespace quillet
