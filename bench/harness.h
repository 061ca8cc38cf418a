#pragma once

// The frame of the benchmarks that run whole programs on a real X server
// (the session itself is the test harness's).

#include "tray_watch.h"
#include "x/program.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillet::bench {

using namespace harness;

// The frame of these benchmark programs: flags, the X server and its tray
// host, the Qt application, and an exit status that reports failures.
class Harness {
public:
    // Counters print as table columns unless the flags say otherwise. The
    // program's name leads its messages.
    Harness(int& argc, char** argv);
    ~Harness();
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    // False when the flags were wrong or there is no X server or tray
    // host; run() then explains and returns the status to exit with.
    bool usable() const { return usable_; }
    TrayWatch& tray() { return *tray_; }
    // Starts the program and waits until its icon has docked as well.
    bool start(Program& program);
    // From the start of its process to its icon docked.
    Clock::duration dockTime(Program& program) {
        return *tray_->dockedAt(program.pid()) - program.startedAt();
    }
    // A row that times one run of whole programs by hand, in milliseconds
    // unless changed.
    benchmark::internal::Benchmark* add(const std::string& name,
                                        std::function<void(benchmark::State&)> row);
    // Marks the benchmark failed; the message is repeated at the end.
    void fail(benchmark::State& state, const std::string& message);
    int run();

private:
    std::string name_;
    std::string tabular_ = "--benchmark_counters_tabular=true";
    std::vector<char*> args_;
    int argc_ = 0;
    bool usable_ = false;
    int status_ = 0;
    QTemporaryDir runtimeDir_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<TrayWatch> tray_;
    std::vector<std::string> failures_;
};

// The row again `times` times, reported as its mean, median, p95 and spread.
benchmark::internal::Benchmark* repeated(benchmark::internal::Benchmark* row, int times);

// Each benchmark program's own part, called from the shared main() once the
// harness is usable: registers its rows, keeps what they share alive while
// they run, and returns the status of harness.run().
int benchmarks(Harness& harness);

// The first failure of a rig that several benchmark rows share: the row
// where it happened reports it, the rows after it only say they skipped.
class FirstFailure {
public:
    // At the start of a row: false when an earlier row already failed.
    bool beginRow() {
        failedBefore_ = !message_.empty();
        return !failedBefore_;
    }
    // Keeps the first message only; later ones follow from it.
    void record(const std::string& message) {
        if (message_.empty()) {
            message_ = message;
        }
    }
    void report(benchmark::State& state, Harness& harness) const;

private:
    std::string message_;
    bool failedBefore_ = false;
};

}  // namespace quillet::bench
