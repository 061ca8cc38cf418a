#pragma once

// The one way the tests and benchmarks wait: on a condition, with a deadline,
// while Qt's events go on (the program under test may need this process's
// answer, a clipboard request say).

#include <QCoreApplication>
#include <QTimer>

#include <chrono>

namespace quillet::harness {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Runs the event loop until done() holds or the time is up, and says which.
// Wakes for every event and at least every 5 ms, so that conditions nobody
// signals are looked at again soon, and events are timed as they arrive.
template <typename Done>
bool waitUntil(Done&& done, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    for (;;) {
        if (done()) {
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        wake.start(std::min<std::chrono::milliseconds>(left, 5ms));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

inline void runFor(Clock::duration duration) {
    waitUntil([] { return false; }, duration);
}

}  // namespace quillet::harness
