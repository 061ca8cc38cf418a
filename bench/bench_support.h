#pragma once

// Shared by the benchmarks that run whole programs on a real X server (the
// session itself is the test harness's): the kernel's figures for a
// process, the programs compared, a user who presses the shortcut through a
// copied list, and the frame of these Google Benchmark programs.

#include "x_harness.h"

#include <QApplication>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillet::bench {

using namespace harness;

inline double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A whole number from the environment, or `fallback` when unset or not a
// positive number: lets quick runs shorten the long measurements.
int envCount(const char* name, int fallback);

// Nearest rank: the value at or below which the fraction `q` of the values
// fall (0.5 the median, 1 the largest); 0 for no values.
double percentile(const std::vector<double>& values, double q);
// The same at 95 %, in the shape Google Benchmark's statistics take.
double p95(const std::vector<double>& values);

// What the kernel says about a process's memory, in KiB.
struct Memory {
    double rss = 0;   // VmRSS of /proc/PID/status
    double anon = 0;  // RssAnon: heap and stacks, the part that is the program's alone
    double pss = 0;   // Pss of /proc/PID/smaps_rollup: shared pages split between their users
};
std::optional<Memory> readMemory(qint64 pid);

// What the kernel says about a process's activity so far.
struct Activity {
    // utime + stime of /proc/PID/stat, in clock ticks (10 ms here).
    std::int64_t cpuTicks = 0;
    // Per live thread: voluntary and involuntary context switches, and the
    // time on a CPU (/proc/PID/task/*/schedstat, in nanoseconds).
    struct ThreadCounts {
        std::int64_t voluntary = 0;
        std::int64_t involuntary = 0;
        std::chrono::nanoseconds scheduled{};
    };
    std::map<QString, ThreadCounts> threads;
};
std::optional<Activity> readActivity(qint64 pid);

// What a process did over a stretch of time. Samples taken in between keep
// the counts of threads that end before the last one; a thread that ended
// counts one wakeup more, as it had to run to end.
struct ActivityDelta {
    double cpuMs = 0;
    double scheduledMs = 0;
    std::int64_t voluntary = 0;
    std::int64_t involuntary = 0;
    std::int64_t threadsEnded = 0;
    std::int64_t wakeups() const { return voluntary + involuntary + threadsEnded; }
};

class ActivityTracker {
public:
    // False when /proc has nothing on the process.
    bool start(qint64 pid);
    // Takes a sample; call it often enough to see short-lived threads.
    bool sample();
    ActivityDelta delta() const;
    std::size_t liveThreads() const { return live_; }

private:
    qint64 pid_ = 0;
    Activity first_;
    std::int64_t lastCpuTicks_ = 0;
    // The latest counts of every thread seen since start().
    std::map<QString, Activity::ThreadCounts> seen_;
    std::size_t live_ = 0;
};

// Which version of a file is on disk. The program saves by writing a new
// file and renaming it over the old one, so each save brings a new inode;
// a new time on the same inode is a rewrite in place. All zero when the
// file cannot be read.
struct FileStamp {
    std::uint64_t inode = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
FileStamp fileStamp(const QString& path);

// About `chars` characters of copied text in lines of 40, mixed ASCII and
// Chinese.
QString sampleText(qsizetype chars);

// Notes the moment each process's first window docks in the tray host (is
// reparented away from the root), as the events arrive while the event
// loop runs.
class TrayWatch {
public:
    TrayWatch();
    ~TrayWatch();
    TrayWatch(const TrayWatch&) = delete;
    TrayWatch& operator=(const TrayWatch&) = delete;

    std::optional<Clock::time_point> dockedAt(qint64 pid);
    // That window: the process's tray icon.
    std::optional<std::uint32_t> dockedWindow(qint64 pid);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Quillet itself, or the bare Qt tray program for comparison.
enum class Subject { Quillet, BareTray };
const char* subjectName(Subject subject);
// Quillet finds a shortcut stored, as on every start after the first, and
// with `storedRun` characters the run of a copy that big.
Program::Options programOptions(Subject subject, qsizetype storedRun = 0);

// A user who copies a list and presses Control+Alt+Super+V into the target
// window, one press after the previous step saved. The window lives in this
// process: one more process beside the measured one would change what the
// kernel counts of its shared memory.
class Typist {
public:
    // Copies `lines` fresh lines; the program must then paste them in order.
    bool copyList(int lines);
    // Copies about `bytes` of fresh lines of the same kind; only the first
    // is kept as due, since one press is what a copy that big is timed by.
    bool copyBulk(qsizetype bytes);
    // One press; true once the next line arrived and the step saved.
    bool press(Program& program);
    int pressed() const { return pressed_; }
    const std::string& error() const { return error_; }

    // The pieces of press(), for callers that time the presses and watch
    // the field themselves, then report what got pasted with pasted().
    struct Keystroke {
        Clock::time_point down;  // just before the keys go down
        Clock::time_point up;    // once their release is sent, 20 ms later
    };
    // The shortcut, held and let go; does not wait for the program.
    Keystroke strike();
    // The shortcut as `xdotool key` sends it, from a process of its own:
    // every key down and up again at once. Returns once xdotool has ended,
    // as a script running one after another would.
    Keystroke chord();
    // Empties the field and gives it the keyboard focus.
    bool readyField();
    TargetWindow& field() { return field_; }
    // The copied lines not pasted yet, in the order they are due.
    QStringList remaining() const { return lines_.mid(next_); }
    void pasted(int count) {
        next_ += count;
        pressed_ += count;
    }

private:
    bool fail(const std::string& message);
    bool copyText(const QByteArray& text);

    TargetWindow field_{TargetWindow::Home::ThisProcess};
    QStringList lines_;
    int generation_ = 0;
    int next_ = 0;
    int pressed_ = 0;
    std::string error_;
};

// The frame of these benchmark programs: flags, the X server and its tray
// host, the Qt application, and an exit status that reports failures.
class Harness {
public:
    // Counters print as table columns unless the flags say otherwise.
    Harness(int& argc, char** argv, const char* name);
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
