// What a press of the shortcut costs the user, end to end: the real program
// pastes into a text field of this process on a real X server. Per press:
// keys up -> line in the field (the time column), keys down -> line in the
// field, keys down -> position saved (the whole step). Then bursts of presses
// faster than the program can serve them.
//
// It presses keys and takes over the clipboard: run it on a private server
// (scripts/bench does), not on your desktop.

#include "platform/display_x11.h"

#include <QApplication>
#include <QDir>
#include <QFileSystemWatcher>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

// X11 headers after Qt's: their macros break Qt headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace quillet {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kListLines = 400;
constexpr auto kHold = 20ms;
constexpr int kBurstPresses = 10;
constexpr auto kBurstSpacing = 60ms;
// The program's own floor per step: 50 ms settle, >= 100 ms for the fetch,
// 50 ms after the restore.
constexpr auto kStepFloor = 200ms;
constexpr auto kStepDeadline = 5s;
// The loop sleeps until an event arrives, but never longer than this, so
// that conditions nobody signals (the clipboard owner) are seen too.
constexpr auto kPoll = 5ms;

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Nearest rank: the value at or below which 95 % of the repetitions fall.
double p95(const std::vector<double>& values) {
    if (values.empty()) {
        return 0.0;
    }
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(sorted.size())));
    return sorted[std::max<std::size_t>(rank, 1) - 1];
}

// Runs the event loop until done() holds or the deadline passes. Pastes
// reach the text field and file changes are seen only while it runs.
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
        wake.start(std::min<std::chrono::milliseconds>(left, kPoll));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void runFor(Clock::duration duration) {
    runUntil(Clock::now() + duration, [] { return false; });
}

// CPU time all threads of a process have used so far, from the scheduler's
// books (nanoseconds, unlike the 10 ms ticks of /proc/PID/stat).
std::optional<Clock::duration> cpuTime(qint64 pid) {
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty()) {
        return std::nullopt;
    }
    std::chrono::nanoseconds total{};
    for (const QString& thread : threads) {
        QFile stats(tasks.filePath(thread + QStringLiteral("/schedstat")));
        if (!stats.open(QIODevice::ReadOnly)) {
            return std::nullopt;
        }
        total += std::chrono::nanoseconds(stats.readAll().split(' ').value(0).toLongLong());
    }
    return total;
}

bool haveDisplay() {
    const char* name = std::getenv("DISPLAY");
    return name != nullptr && *name != '\0' && x11::openDisplay() != nullptr;
}

// The shortcut, pressed on a connection of our own as a user's keyboard would.
class ShortcutKeys {
public:
    ShortcutKeys() : display_(x11::openDisplay()) {
        if (display_ && x11::hasXTest(display_.get())) {
            for (std::size_t i = 0; i < kSyms.size(); ++i) {
                codes_[i] = XKeysymToKeycode(display_.get(), kSyms[i]);
            }
        }
    }
    ~ShortcutKeys() {
        if (down_) {
            up();
        }
    }
    ShortcutKeys(const ShortcutKeys&) = delete;
    ShortcutKeys& operator=(const ShortcutKeys&) = delete;

    bool usable() const {
        return std::none_of(codes_.begin(), codes_.end(), [](::KeyCode c) { return c == 0; });
    }
    Display* display() const { return display_.get(); }

    Clock::time_point down() {
        const auto at = Clock::now();
        for (const ::KeyCode code : codes_) {
            XTestFakeKeyEvent(display_.get(), code, True, CurrentTime);
        }
        XFlush(display_.get());
        down_ = true;
        return at;
    }
    Clock::time_point up() {
        for (auto it = codes_.rbegin(); it != codes_.rend(); ++it) {
            XTestFakeKeyEvent(display_.get(), *it, False, CurrentTime);
        }
        XFlush(display_.get());
        down_ = false;
        return Clock::now();
    }

private:
    static constexpr std::array<KeySym, 4> kSyms{XK_Control_L, XK_Alt_L, XK_Super_L, XK_v};
    x11::DisplayPtr display_;
    std::array<::KeyCode, 4> codes_{};
    bool down_ = false;
};

// Times of one measured series of presses.
struct Presses {
    std::vector<Clock::time_point> downs;
    std::vector<Clock::time_point> releases;
    std::vector<Clock::time_point> arrivals;
    Clock::time_point saved;
    // What the program's steps cost in CPU, when the kernel tells.
    std::optional<Clock::duration> programCpu;
};

// The program, the text field it pastes into and the copied list, kept
// across repetitions: started on first use, stopped at the end.
class Session {
public:
    Session() {
        edit_.setWindowTitle(QStringLiteral("quillet-bench-target"));
        edit_.resize(480, 240);
        QObject::connect(&edit_, &QPlainTextEdit::textChanged, [this] { onTextChanged(); });
        QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged,
                         [this] { checkSaved(); });
        QObject::connect(&program_, &QProcess::readyReadStandardError,
                         [this] { programOutput_ += program_.readAllStandardError(); });
        QObject::connect(&program_, &QProcess::readyReadStandardOutput,
                         [this] { programOutput_ += program_.readAllStandardOutput(); });
    }

    ~Session() {
        if (program_.state() == QProcess::NotRunning) {
            return;
        }
        program_.terminate();
        const bool ended = runUntil(Clock::now() + 10s,
                                    [this] { return program_.state() == QProcess::NotRunning; });
        if (!ended) {
            std::cerr << "quillet_bench_press: the program ignored SIGTERM for 10 s; killed\n";
            program_.kill();
            program_.waitForFinished(3000);
        } else if (program_.exitStatus() != QProcess::NormalExit || program_.exitCode() != 0) {
            std::cerr << "quillet_bench_press: the program exited with status "
                      << program_.exitCode() << " on SIGTERM:\n"
                      << programOutput_.toStdString();
        }
        if (inPlaceWrites_ > 0) {
            std::cerr << "quillet_bench_press: " << inPlaceWrites_
                      << " saves rewrote the settings file in place instead of replacing it\n";
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    // Whether the last run() gave up because of an earlier failure.
    bool failedBefore() const { return failedBefore_; }

    // `presses` presses `spacing` apart (each one after the previous step
    // saved when spacing is zero); the lines must arrive one each, in order.
    std::optional<Presses> run(int presses, Clock::duration spacing) {
        failedBefore_ = failed();
        if (failedBefore_ || (!started_ && !start()) || !ensureLines(presses)) {
            return std::nullopt;
        }
        return measure(presses, spacing);
    }

private:
    bool start() {
        started_ = true;
        if (!keys_.usable()) {
            return fail("the X server lacks XTest or a key of Control+Alt+Super+V");
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
            return fail("xclip is missing (scripts/setup installs it)");
        }
        if (!configHome_.isValid() || !runtimeDir_.isValid()) {
            return fail("cannot create temporary folders");
        }
        // A stored shortcut, as after the first run: otherwise the program
        // opens its shortcut dialog, which holds the shortcut back.
        QDir().mkpath(configHome_.filePath(QStringLiteral("tarnwick")));
        QFile seed(configHome_.filePath(QStringLiteral("tarnwick/Quillet.conf")));
        if (!seed.open(QIODevice::WriteOnly) ||
            seed.write("[General]\nhotkeyCode=9\nhotkeyModifiers=1835008\n") < 0) {
            return fail("cannot store the shortcut in the settings folder");
        }
        seed.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome_.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir_.path());
        program_.setProcessEnvironment(env);
        program_.setProgram(QStringLiteral(QUILLET_BIN));
        program_.start();
        const bool running = runUntil(Clock::now() + 15s, [this] {
            return programOutput_.contains("Quillet is running") ||
                   program_.state() == QProcess::NotRunning;
        });
        if (!running || program_.state() == QProcess::NotRunning) {
            return fail("the program did not arm its shortcut within 15 s:\n" +
                        programOutput_.toStdString());
        }
        if (!programOutput_.contains("Quillet is running. Press")) {
            return fail("the program runs without its shortcut:\n" + programOutput_.toStdString());
        }

        const QString folder = configHome_.filePath(QStringLiteral("tarnwick"));
        settingsFile_ = QFile::encodeName(folder + QStringLiteral("/Quillet.conf"));
        if (!watcher_.addPath(folder)) {
            return fail("cannot watch the settings folder " + folder.toStdString());
        }
        checkSaved();

        edit_.show();
        return focusTarget();
    }

    // A bare X server has no window manager to hand out the focus.
    bool focusTarget() {
        const auto focused = [this] {
            Window window = 0;
            int revert = 0;
            XGetInputFocus(keys_.display(), &window, &revert);
            return edit_.isActiveWindow() && edit_.hasFocus() && window == edit_.winId();
        };
        if (focused()) {
            return true;
        }
        edit_.activateWindow();
        edit_.setFocus();
        if (runUntil(Clock::now() + 2s, focused)) {
            return true;
        }
        XSetInputFocus(keys_.display(), static_cast<Window>(edit_.winId()), RevertToParent,
                       CurrentTime);
        XFlush(keys_.display());
        edit_.setFocus();
        return runUntil(Clock::now() + 3s, focused) ||
               fail("the text field does not get the keyboard focus");
    }

    // A fresh list when the current one would run out within this series;
    // its first line is pasted unmeasured, so that measured presses continue
    // a run as most presses do.
    bool ensureLines(int presses) {
        if (next_ + presses <= lines_.size()) {
            return true;
        }
        ++generation_;
        lines_.clear();
        for (int i = 0; i < kListLines; ++i) {
            lines_.append(
                QStringLiteral("g%1 line %2 名称").arg(generation_).arg(i, 3, 10, QChar(u'0')));
        }
        next_ = 0;
        return copyList() && measure(1, {}).has_value();
    }

    // Copies the list as another program would. xclip's parent exits once it
    // has read the text; a child of it serves the clipboard, possibly to us.
    bool copyList() {
        const Window before = XGetSelectionOwner(keys_.display(), clipboardAtom());
        QProcess xclip;
        xclip.setStandardOutputFile(QProcess::nullDevice());
        xclip.setStandardErrorFile(QProcess::nullDevice());
        xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"),
                                              QStringLiteral("clipboard"), QStringLiteral("-i")});
        xclip.write(lines_.join(u'\n').toUtf8() + '\n');
        xclip.closeWriteChannel();
        const bool exited =
            runUntil(Clock::now() + 10s, [&] { return xclip.state() == QProcess::NotRunning; });
        if (!exited || xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) {
            return fail("xclip could not copy the list");
        }
        // Its claim may still be on the way to the server when the parent exits.
        return runUntil(Clock::now() + 5s,
                        [&] {
                            const Window owner =
                                XGetSelectionOwner(keys_.display(), clipboardAtom());
                            return owner != None && owner != before;
                        }) ||
               fail("xclip did not take over the clipboard");
    }

    Atom clipboardAtom() {
        if (clipboard_ == None) {
            clipboard_ = XInternAtom(keys_.display(), "CLIPBOARD", False);
        }
        return clipboard_;
    }

    std::optional<Presses> measure(int presses, Clock::duration spacing) {
        if (!focusTarget()) {
            return std::nullopt;
        }
        {
            const QSignalBlocker quiet(edit_);
            edit_.clear();
        }
        expected_ = lines_.mid(next_, presses);
        arrivedText_.clear();
        arrivals_.clear();
        wrongText_.reset();

        Presses result;
        const auto cpuBefore = cpuTime(program_.processId());
        const auto first = Clock::now();
        for (int i = 0; i < presses; ++i) {
            if (spacing > Clock::duration::zero()) {
                runUntil(first + i * spacing, [] { return false; });
            } else if (i > 0 && !waitForStep(i)) {
                return std::nullopt;
            }
            result.downs.push_back(keys_.down());
            runFor(kHold);
            result.releases.push_back(keys_.up());
        }
        if (!waitForStep(presses)) {
            return std::nullopt;
        }
        result.arrivals = arrivals_;
        result.saved = lastSave_;
        if (const auto cpuAfter = cpuTime(program_.processId()); cpuBefore && cpuAfter) {
            result.programCpu = *cpuAfter - *cpuBefore;
        }
        next_ += presses;
        return result;
    }

    // Until `count` lines arrived and the step of the last one saved.
    bool waitForStep(int count) {
        const bool done = runUntil(Clock::now() + count * kStepDeadline, [&] {
            return wrongText_ || (arrivals_.size() == static_cast<std::size_t>(count) &&
                                  lastSave_ > arrivals_.back());
        });
        if (wrongText_) {
            return fail(
                QStringLiteral("line %1 of the list: expected \"%2\", the field got \"%3\"")
                    .arg(next_ + static_cast<qsizetype>(arrivals_.size()))
                    .arg(expected_.value(static_cast<qsizetype>(arrivals_.size())), *wrongText_)
                    .toStdString());
        }
        if (!done) {
            const bool arrived = arrivals_.size() == static_cast<std::size_t>(count);
            return fail(
                QStringLiteral("line %1 of the list (\"%2\"): %3 within %4 s; the field "
                               "holds \"%5\"")
                    .arg(next_ + static_cast<qsizetype>(arrivals_.size()))
                    .arg(expected_.value(static_cast<qsizetype>(arrivals_.size())),
                         arrived ? QStringLiteral("pasted, but the step did not save")
                                 : QStringLiteral("not pasted"))
                    .arg(std::chrono::duration_cast<std::chrono::seconds>(count * kStepDeadline)
                             .count())
                    .arg(edit_.toPlainText())
                    .toStdString() +
                "\nthe program said:\n" + programOutput_.toStdString());
        }
        return true;
    }

    // Every paste is one insertion, so the field must grow by exactly the
    // next expected line each time.
    void onTextChanged() {
        const auto now = Clock::now();
        const QString text = edit_.toPlainText();
        if (text == arrivedText_ || wrongText_) {
            return;
        }
        const auto index = static_cast<qsizetype>(arrivals_.size());
        if (index < expected_.size() && text == arrivedText_ + expected_[index]) {
            arrivedText_ = text;
            arrivals_.push_back(now);
        } else {
            wrongText_ = text.startsWith(arrivedText_) ? text.mid(arrivedText_.size()) : text;
        }
    }

    // The program replaces the settings file (temporary file, then rename)
    // at the end of every step.
    void checkSaved() {
        struct stat info {};
        if (::stat(settingsFile_.constData(), &info) != 0) {
            return;
        }
        const Stamp stamp{info.st_ino, info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
        if (stamp != stamp_) {
            if (stamp.inode == stamp_.inode && stamp_.inode != 0) {
                ++inPlaceWrites_;
            }
            stamp_ = stamp;
            lastSave_ = Clock::now();
        }
    }

    bool fail(const std::string& message) {
        if (error_.empty()) {
            error_ = message;
        }
        return false;
    }

    struct Stamp {
        ino_t inode = 0;
        time_t sec = 0;
        long nsec = 0;
        bool operator==(const Stamp&) const = default;
    };

    QTemporaryDir configHome_;
    QTemporaryDir runtimeDir_;
    QProcess program_;
    QByteArray programOutput_;
    QPlainTextEdit edit_;
    ShortcutKeys keys_;
    Atom clipboard_ = None;
    QFileSystemWatcher watcher_;
    QByteArray settingsFile_;
    Stamp stamp_;
    Clock::time_point lastSave_;
    int inPlaceWrites_ = 0;

    bool started_ = false;
    std::string error_;
    bool failedBefore_ = false;
    int generation_ = 0;
    QStringList lines_;
    qsizetype next_ = 0;
    QStringList expected_;
    QString arrivedText_;
    std::vector<Clock::time_point> arrivals_;
    std::optional<QString> wrongText_;
};

void skip(benchmark::State& state, const Session& session) {
    state.SkipWithError(session.failedBefore() ? "skipped after the failure above"
                                               : session.error().c_str());
}

// One press at a time, each after the previous step saved.
void pressOneLine(benchmark::State& state, Session& session) {
    for (auto _ : state) {
        const auto presses = session.run(1, {});
        if (!presses) {
            skip(state, session);
            break;
        }
        state.SetIterationTime(seconds(presses->arrivals[0] - presses->releases[0]));
        state.counters["line_from_down_ms"] = millis(presses->arrivals[0] - presses->downs[0]);
        state.counters["step_ms"] = millis(presses->saved - presses->downs[0]);
        if (presses->programCpu) {
            state.counters["program_cpu_ms"] = millis(*presses->programCpu);
        }
    }
}

// Presses faster than the program's steps: they queue, and every line must
// still arrive once and in order. The time column runs from the first press
// to the last line; the rate counts until the last step saved.
void pressBurst(benchmark::State& state, Session& session) {
    for (auto _ : state) {
        const auto presses = session.run(kBurstPresses, kBurstSpacing);
        if (!presses) {
            skip(state, session);
            break;
        }
        const auto total = presses->saved - presses->downs.front();
        const double lines = static_cast<double>(presses->arrivals.size());
        const double limit = 1.0 / seconds(kStepFloor);
        state.SetIterationTime(seconds(presses->arrivals.back() - presses->downs.front()));
        state.counters["total_ms"] = millis(total);
        state.counters["lines"] = lines;
        state.counters["lines_per_s"] = lines / seconds(total);
        state.counters["pct_of_limit"] = 100.0 * lines / seconds(total) / limit;
        if (presses->programCpu) {
            state.counters["program_cpu_ms"] = millis(*presses->programCpu);
        }
    }
}

}  // namespace
}  // namespace quillet

int main(int argc, char* argv[]) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (!quillet::haveDisplay()) {
        std::cout << "quillet_bench_press: skipped, it needs an X server ($DISPLAY is not set or "
                     "cannot be opened). scripts/bench starts a private one.\n";
        return 0;
    }
    // Qt wants one; the user's is none of our business.
    const QTemporaryDir runtimeDir;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtimeDir.isValid()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    }
    // The program and its shortcut live on X11; so must the target.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    quillet::Session session;
    const auto configure = [](benchmark::internal::Benchmark* bench, int repetitions) {
        bench->Repetitions(repetitions)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->ComputeStatistics("p95", quillet::p95)
            ->ReportAggregatesOnly(true);
    };
    configure(benchmark::RegisterBenchmark(
                  "BM_PressOneLine",
                  [&session](benchmark::State& state) { quillet::pressOneLine(state, session); }),
              60);
    const std::string burst = "BM_PressBurst/presses:" + std::to_string(quillet::kBurstPresses) +
                              "/spacing_ms:" + std::to_string(quillet::kBurstSpacing.count());
    configure(benchmark::RegisterBenchmark(
                  burst.c_str(),
                  [&session](benchmark::State& state) { quillet::pressBurst(state, session); }),
              10);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (session.failed()) {
        std::cerr << "quillet_bench_press: " << session.error() << '\n';
        return 1;
    }
    return 0;
}
