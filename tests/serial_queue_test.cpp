#include "platform/serial_queue.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

namespace quillet {
namespace {

// What the worker saw; only the worker writes it, the test reads after drain().
struct Trace {
    std::atomic<int> inside = 0;
    std::atomic<bool> overlapped = false;
    std::vector<std::pair<int, int>> ran;  // (submitter, sequence)
    std::thread::id worker;
    bool oneWorker = true;

    SerialQueue::Task task(int submitter, int sequence) {
        return [this, submitter, sequence] {
            if (inside.fetch_add(1) != 0) {
                overlapped = true;
            }
            if (ran.empty()) {
                worker = std::this_thread::get_id();
            }
            oneWorker = oneWorker && worker == std::this_thread::get_id();
            ran.emplace_back(submitter, sequence);
            inside.fetch_sub(1);
        };
    }
};

TEST(SerialQueue, RunsRapidSubmissionsOnceEachInOrderAndNeverTogether) {
    for (const int submitters : {1, 4}) {
        SCOPED_TRACE(submitters);
        constexpr int kTotal = 1000;
        const int perSubmitter = kTotal / submitters;
        Trace trace;
        SerialQueue queue("app.test.serial");
        std::vector<std::thread> threads;
        for (int s = 0; s < submitters; ++s) {
            threads.emplace_back([&, s] {
                for (int i = 0; i < perSubmitter; ++i) {
                    queue.async(trace.task(s, i));
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        queue.drain();

        ASSERT_EQ(trace.ran.size(), static_cast<std::size_t>(kTotal));
        std::map<int, int> next;
        for (const auto& [submitter, sequence] : trace.ran) {
            EXPECT_EQ(sequence, next[submitter]++) << "submitter " << submitter;
        }
        EXPECT_FALSE(trace.overlapped);
        EXPECT_TRUE(trace.oneWorker);
        EXPECT_NE(trace.worker, std::this_thread::get_id());
    }
}

TEST(SerialQueue, DrainWaitsForTheRunningAndWaitingTasks) {
    for (const int waiting : {0, 3}) {
        SCOPED_TRACE(waiting);
        SerialQueue queue("app.test.drain");
        std::atomic<bool> started = false;
        std::atomic<bool> release = false;
        std::atomic<int> done = 0;
        queue.async([&] {
            started = true;
            while (!release) {
                std::this_thread::yield();
            }
            ++done;
        });
        for (int i = 0; i < waiting; ++i) {
            queue.async([&] { ++done; });
        }
        while (!started) {
            std::this_thread::yield();
        }
        // Released a little later, so that drain() finds a task still running.
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            release = true;
        });
        queue.drain();
        EXPECT_EQ(done, 1 + waiting);
        releaser.join();
        queue.drain();  // idle: returns at once
    }
}

TEST(SerialQueue, NamesItsWorkerAndJoinsItOnDestruction) {
    std::atomic<bool> started = false;
    std::atomic<bool> finished = false;
    char name[16] = {};
    {
        SerialQueue queue("app.quillet.paste-worker");
        queue.async([&] {
            pthread_getname_np(pthread_self(), name, sizeof name);
            started = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            finished = true;
        });
        while (!started) {
            std::this_thread::yield();
        }
    }
    EXPECT_TRUE(finished) << "the running task completes before the queue is gone";
    EXPECT_STREQ(name, "paste-worker");
}

}  // namespace
}  // namespace quillet
