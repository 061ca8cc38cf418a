#pragma once

// What the kernel says about a process (/proc) and about a file.

#include <QString>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

namespace quillet::bench {

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

}  // namespace quillet::bench
