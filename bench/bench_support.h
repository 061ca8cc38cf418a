#pragma once

// Shared by the benchmarks that run whole programs on a real X server: the
// kernel's figures for a process, the program under test with a settings
// folder of its own, the moment its icon docks in the tray, and a user who
// presses the shortcut into a text field of the benchmark.

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct xcb_connection_t;

namespace quillet::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

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

// Runs the event loop until done() holds or the deadline passes. Conditions
// nobody signals are looked at again every few milliseconds.
template <typename Done>
bool runUntil(Clock::time_point deadline, Done&& done) {
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

void runFor(Clock::duration duration);

// Whether $DISPLAY names a server we can open.
bool haveDisplay();

// Owners of what xcb hands out: a connection, and replies and events, which
// the caller frees.
struct XcbDisconnect {
    void operator()(xcb_connection_t* connection) const;
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;
struct XcbFree {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// The atom of that name, created if need be; 0 when the server fails.
std::uint32_t internAtom(xcb_connection_t* connection, const char* name);

// Adds flags ahead of the user's, who can still override them.
std::vector<char*> withDefaultFlags(int argc, char* argv[], const std::vector<char*>& flags);

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

// Notes every window the tray host takes in (its reparenting away from the
// root window), with the time and the process that made it. Events are read
// as they arrive while the Qt event loop runs.
class TrayWatch {
public:
    TrayWatch();
    ~TrayWatch();
    TrayWatch(const TrayWatch&) = delete;
    TrayWatch& operator=(const TrayWatch&) = delete;

    // Whether a tray host holds the system tray selection of the screen.
    bool trayPresent();
    // When a window of this process was first docked, if it was.
    std::optional<Clock::time_point> dockedAt(qint64 pid);
    // That window: the process's tray icon.
    std::optional<std::uint32_t> dockedWindow(qint64 pid);

private:
    void readEvents();

    struct Impl;
    std::unique_ptr<Impl> impl_;
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
// Chinese, as the step benchmark uses.
QString sampleText(qsizetype chars);

// Quillet itself, or the bare Qt tray program for comparison.
enum class Subject { Quillet, BareTray };
const char* subjectName(Subject subject);

// A program under test in a process of its own, with private settings and
// runtime folders. Quillet finds a shortcut already stored, as on every
// start after the first, so no dialog opens.
class Program {
public:
    // storedRun: the characters of copied text the stored run holds at
    // start-up (none when 0), as after the user pasted from a big clipboard.
    explicit Program(Subject subject, qsizetype storedRun = 0);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Starts it and waits until it is ready: docked in the tray, and for
    // Quillet also its shortcut armed. Records the moments on the way.
    bool start(TrayWatch& tray);
    // SIGTERM, then waits for the exit.
    bool stop();

    qint64 pid() const { return process_.processId(); }
    QString settingsFile() const;
    Clock::time_point startedAt() const { return startedAt_; }
    std::optional<Clock::time_point> armedAt() const { return armedAt_; }
    std::optional<Clock::time_point> dockedAt() const { return dockedAt_; }
    // What it has written to stdout and stderr so far.
    const QByteArray& output() const { return output_; }
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& message);

    Subject subject_;
    qsizetype storedRun_;
    QTemporaryDir configHome_;
    QTemporaryDir runtimeDir_;
    QProcess process_;
    QByteArray output_;
    Clock::time_point startedAt_;
    std::optional<Clock::time_point> armedAt_;
    std::optional<Clock::time_point> dockedAt_;
    std::string error_;
};

// A user who copies a list and presses Control+Alt+Super+V into a text
// field of this process, one press after the previous step saved.
class Typist {
public:
    Typist();
    ~Typist();
    Typist(const Typist&) = delete;
    Typist& operator=(const Typist&) = delete;

    // Copies `lines` fresh lines; the program must then paste them in order.
    bool copyList(int lines);
    // Copies about `bytes` of fresh lines of the same kind; only the first
    // is kept as due, since one press is what a copy that big is timed by.
    bool copyBulk(qsizetype bytes);
    // One press; true once the next line arrived and the step saved.
    bool press(const Program& program);
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
    // Gives the field the keyboard focus, which on a bare X server no
    // window manager hands out.
    bool focusField();
    QPlainTextEdit& field() { return field_; }
    // The copied lines not pasted yet, in the order they are due.
    QStringList remaining() const { return lines_.mid(next_); }
    void pasted(int count) {
        next_ += count;
        pressed_ += count;
    }

private:
    bool fail(const std::string& message);
    bool canCopy();
    // Hands the text to xclip, which then owns the clipboard.
    bool copy(const QByteArray& text);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    QPlainTextEdit field_;
    QStringList lines_;
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
