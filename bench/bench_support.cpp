#include "bench_support.h"

#include "core/lines.h"
#include "platform/x11/connection.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>

// X11 headers after Qt's: their macros break Qt headers.
#include <xcb/xcb.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iostream>

namespace quillet::bench {

using x11::own;

int envCount(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

double percentile(const std::vector<double>& values, double q) {
    if (values.empty()) {
        return 0.0;
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

double p95(const std::vector<double>& values) {
    return percentile(values, 0.95);
}

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

QString sampleText(qsizetype chars) {
    QString text;
    text.reserve(chars);
    int line = 0;
    while (text.size() < chars) {
        text.append(QStringLiteral("  item %1 名称 value, more text here\n").arg(line++));
    }
    return text;
}

struct TrayWatch::Impl {
    x11::XcbConnection connection;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t pidAtom = XCB_NONE;
    std::unique_ptr<QSocketNotifier> notifier;
    struct Docked {
        Clock::time_point at;
        xcb_window_t window = XCB_NONE;
    };
    std::map<qint64, Docked> docked;  // the first window per process

    void readEvents() {
        xcb_connection_t* c = connection.get();
        while (const auto event = own(xcb_poll_for_event(c))) {
            const auto now = Clock::now();
            const auto* reparent =
                reinterpret_cast<const xcb_reparent_notify_event_t*>(event.get());
            // Away from the root: into the tray host (there is no window manager).
            if ((event->response_type & 0x7f) != XCB_REPARENT_NOTIFY || reparent->parent == root) {
                continue;
            }
            // Qt names the process on every window it makes.
            const auto pid = own(xcb_get_property_reply(
                c, xcb_get_property(c, 0, reparent->window, pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                nullptr));
            if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) == 4) {
                docked.try_emplace(
                    *static_cast<const std::uint32_t*>(xcb_get_property_value(pid.get())),
                    Docked{now, reparent->window});
            }
        }
    }
};

TrayWatch::TrayWatch() : impl_(std::make_unique<Impl>()) {
    int screen = 0;
    impl_->connection.reset(xcb_connect(nullptr, &screen));
    xcb_connection_t* c = impl_->connection.get();
    if (xcb_connection_has_error(c) != 0) {
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    impl_->root = screens.data->root;
    impl_->pidAtom = x11::internAtoms(c, {"_NET_WM_PID"})[0];
    // Reparenting a top-level window is reported to the root's substructure.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, impl_->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    impl_->notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c), QSocketNotifier::Read);
    QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated,
                     [this] { impl_->readEvents(); });
}

TrayWatch::~TrayWatch() = default;

std::optional<Clock::time_point> TrayWatch::dockedAt(qint64 pid) {
    impl_->readEvents();
    const auto found = impl_->docked.find(pid);
    return found == impl_->docked.end() ? std::nullopt : std::optional(found->second.at);
}

std::optional<std::uint32_t> TrayWatch::dockedWindow(qint64 pid) {
    impl_->readEvents();
    const auto found = impl_->docked.find(pid);
    return found == impl_->docked.end() ? std::nullopt : std::optional(found->second.window);
}

// ---------------------------------------------------------------------------

const char* subjectName(Subject subject) {
    return subject == Subject::Quillet ? "quillet" : "bare_tray";
}

Program::Options programOptions(Subject subject, qsizetype storedRun) {
    Program::Options options;
    if (subject == Subject::BareTray) {
        options.executable = QStringLiteral(QUILLET_BARE_TRAY_BIN);
    } else if (storedRun > 0) {
        AppState run;
        run.sourceClipboardContent = sampleText(storedRun);
        run.lines = buildLines(run.sourceClipboardContent);
        options.run = std::move(run);
    }
    return options;
}

// ---------------------------------------------------------------------------

namespace {

constexpr auto kHold = 20ms;
constexpr auto kStepDeadline = 5s;

// Each copy's lines name their copy, so that no copy repeats an earlier one.
// About 50 bytes, like a row of a list people paste from.
QByteArray listLine(int generation, int index) {
    return 'g' + QByteArray::number(generation) + " item " +
           QByteArray::number(index).rightJustified(6, '0') + " 名称 value, and a few more words";
}

}  // namespace

bool Typist::fail(const std::string& message) {
    if (error_.empty()) {
        error_ = message;
    }
    return false;
}

bool Typist::copyText(const QByteArray& text) {
    next_ = 0;
    return copy(text) || fail("xclip could not copy the text (scripts/setup installs xclip)");
}

bool Typist::copyList(int lines) {
    ++generation_;
    lines_.clear();
    QByteArray text;
    for (int i = 0; i < lines; ++i) {
        const QByteArray line = listLine(generation_, i);
        lines_.append(QString::fromUtf8(line));
        text += line + '\n';
    }
    return copyText(text);
}

bool Typist::copyBulk(qsizetype bytes) {
    ++generation_;
    QByteArray text;
    text.reserve(bytes + 64);
    for (int i = 0; text.size() < bytes; ++i) {
        text += listLine(generation_, i) + '\n';
    }
    lines_ = {QString::fromUtf8(listLine(generation_, 0))};
    return copyText(text);
}

Typist::Keystroke Typist::strike() {
    const auto down = Clock::now();
    x().down(kDefaultChord);
    runFor(kHold);
    x().up(kDefaultChord);
    return {down, Clock::now()};
}

Typist::Keystroke Typist::chord() {
    const auto down = Clock::now();
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("key"), QStringLiteral("ctrl+alt+super+v")});
    waitUntil([&] { return xdotool.state() == QProcess::NotRunning; }, 5s);
    return {down, Clock::now()};
}

bool Typist::readyField() {
    if (!field_.started()) {
        return fail("the target window did not start");
    }
    return (field_.clear() && field_.focus()) ||
           fail("the target window does not get the keyboard focus");
}

bool Typist::press(Program& program) {
    if (next_ >= lines_.size()) {
        return fail("the copied list ran out");
    }
    if (!readyField()) {
        return false;
    }
    const QString& expected = lines_[next_];
    const FileStamp before = fileStamp(program.stateFile());
    strike();

    bool wrong = false;
    const bool done = waitUntil(
        [&] {
            wrong = !expected.startsWith(field_.text());
            return wrong || (field_.text() == expected && fileStamp(program.stateFile()) != before);
        },
        kStepDeadline);
    if (!done || wrong) {
        return fail(
            QStringLiteral("press %1: expected \"%2\", the field got \"%3\"%4")
                .arg(pressed_ + 1)
                .arg(expected, field_.text(),
                     wrong ? QString() : QStringLiteral(", or the step did not save, within 5 s"))
                .toStdString());
    }
    pasted(1);
    return true;
}

// ---------------------------------------------------------------------------

Harness::Harness(int& argc, char** argv, const char* name) : name_(name) {
    // Flags of our own go first, so that the user's can still override them.
    args_ = {argv[0], tabular_.data()};
    args_.insert(args_.end(), argv + 1, argv + argc);
    argc_ = static_cast<int>(args_.size());
    args_.push_back(nullptr);
    benchmark::Initialize(&argc_, args_.data());
    if (benchmark::ReportUnrecognizedArguments(argc_, args_.data())) {
        status_ = 1;
        return;
    }
    if (!haveDisplay()) {
        std::cout << name_
                  << ": skipped, it needs an X server ($DISPLAY is not set or cannot be "
                     "opened). scripts/bench starts a private one.\n";
        return;
    }
    // Qt wants one; the user's is none of our business.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtimeDir_.isValid()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir_.path()));
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    tray_ = std::make_unique<TrayWatch>();
    if (!x().trayPresent()) {
        std::cout << name_
                  << ": skipped, it needs a system tray host on the X server (scripts/bench "
                     "starts trayer).\n";
        return;
    }
    usable_ = true;
}

Harness::~Harness() = default;

bool Harness::start(Program& program) {
    if (!program.start()) {
        return false;
    }
    waitUntil([&] { return !program.running() || tray_->dockedAt(program.pid()); }, 15s);
    if (!program.running()) {
        return program.fail("it ended at start-up");
    }
    return tray_->dockedAt(program.pid()) ||
           program.fail("its icon did not dock in the tray within 15 s");
}

void Harness::fail(benchmark::State& state, const std::string& message) {
    state.SkipWithError(message.c_str());
    failures_.push_back(message);
}

int Harness::run() {
    if (usable_) {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    for (const std::string& failure : failures_) {
        std::cerr << name_ << ": " << failure << '\n';
    }
    return failures_.empty() ? status_ : 1;
}

void FirstFailure::report(benchmark::State& state, Harness& harness) const {
    if (failedBefore_) {
        state.SkipWithError("skipped after the failure above");
    } else {
        harness.fail(state, message_);
    }
}

}  // namespace quillet::bench
