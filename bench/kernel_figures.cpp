#include "kernel_figures.h"

#include "figures.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace quillet::bench {

namespace {

QByteArray readProcFile(const QString& path) {
    QFile file(path);
    // Files in /proc report no size: read until the end.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The number after "key:" in a /proc file of "key: value [kB]" lines.
std::optional<std::int64_t> field(const QByteArray& text, QByteArrayView key) {
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith(key) && line.size() > key.size() && line[key.size()] == ':') {
            bool ok = false;
            const QByteArray value = line.mid(key.size() + 1).trimmed().split(' ').value(0);
            const std::int64_t number = value.toLongLong(&ok);
            if (ok) {
                return number;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<Memory> readMemory(qint64 pid) {
    const QByteArray status = readProcFile(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray rollup = readProcFile(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    const auto rss = field(status, "VmRSS");
    const auto anon = field(status, "RssAnon");
    const auto pss = field(rollup, "Pss");
    if (!rss || !anon || !pss) {
        return std::nullopt;
    }
    return Memory{static_cast<double>(*rss), static_cast<double>(*anon), static_cast<double>(*pss)};
}

std::optional<Activity> readActivity(qint64 pid) {
    // The command name in parentheses may hold spaces: fields count from the last ')'.
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) {
        return std::nullopt;
    }
    // Field 3 (state) comes first; utime and stime are fields 14 and 15.
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 13) {
        return std::nullopt;
    }
    Activity activity;
    activity.cpuTicks = fields[11].toLongLong() + fields[12].toLongLong();

    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray status = readProcFile(tasks.filePath(tid + QStringLiteral("/status")));
        const auto voluntary = field(status, "voluntary_ctxt_switches");
        const auto involuntary = field(status, "nonvoluntary_ctxt_switches");
        if (!voluntary || !involuntary) {
            continue;  // ended between the listing and the read
        }
        const QByteArray sched = readProcFile(tasks.filePath(tid + QStringLiteral("/schedstat")));
        activity.threads[tid] = {*voluntary, *involuntary,
                                 std::chrono::nanoseconds(sched.split(' ').value(0).toLongLong())};
    }
    if (activity.threads.empty()) {
        return std::nullopt;
    }
    return activity;
}

bool ActivityTracker::start(qint64 pid) {
    pid_ = pid;
    const auto now = readActivity(pid);
    if (!now) {
        return false;
    }
    first_ = *now;
    lastCpuTicks_ = now->cpuTicks;
    seen_ = now->threads;
    live_ = now->threads.size();
    return true;
}

bool ActivityTracker::sample() {
    const auto now = readActivity(pid_);
    if (!now) {
        return false;
    }
    lastCpuTicks_ = now->cpuTicks;
    for (const auto& [tid, counts] : now->threads) {
        seen_[tid] = counts;
    }
    live_ = now->threads.size();
    return true;
}

ActivityDelta ActivityTracker::delta() const {
    static const double tickMs = 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    ActivityDelta delta;
    delta.cpuMs = static_cast<double>(lastCpuTicks_ - first_.cpuTicks) * tickMs;
    std::chrono::nanoseconds scheduled{};
    for (const auto& [tid, now] : seen_) {
        const auto then = first_.threads.find(tid);
        const Activity::ThreadCounts start =
            then == first_.threads.end() ? Activity::ThreadCounts{} : then->second;
        delta.voluntary += now.voluntary - start.voluntary;
        delta.involuntary += now.involuntary - start.involuntary;
        scheduled += now.scheduled - start.scheduled;
    }
    delta.scheduledMs = millis(scheduled);
    delta.threadsEnded = static_cast<std::int64_t>(seen_.size()) - static_cast<std::int64_t>(live_);
    return delta;
}

FileStamp fileStamp(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return {static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

}  // namespace quillet::bench
