#include "bench_support.h"

#include "paste/app_state.h"
#include "paste/line_builder.h"
#include "platform/display_x11.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSocketNotifier>
#include <QStandardPaths>

// X11 headers after Qt's: their macros break Qt headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace quillet::bench {

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

void runFor(Clock::duration duration) {
    runUntil(Clock::now() + duration, [] { return false; });
}

bool haveDisplay() {
    const char* name = std::getenv("DISPLAY");
    return name != nullptr && *name != '\0' && x11::openDisplay() != nullptr;
}

std::vector<char*> withDefaultFlags(int argc, char* argv[], const std::vector<char*>& flags) {
    std::vector<char*> args{argv[0]};
    args.insert(args.end(), flags.begin(), flags.end());
    args.insert(args.end(), argv + 1, argv + argc);
    args.push_back(nullptr);
    return args;
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

// ---------------------------------------------------------------------------

void XcbDisconnect::operator()(xcb_connection_t* connection) const {
    xcb_disconnect(connection);
}

std::uint32_t internAtom(xcb_connection_t* connection, const char* name) {
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

struct TrayWatch::Impl {
    XcbConnection connection;
    xcb_window_t root = 0;
    int screen = 0;
    xcb_atom_t pidAtom = XCB_ATOM_NONE;
    std::unique_ptr<QSocketNotifier> notifier;
    // The first window docked per process, and when.
    struct Docked {
        Clock::time_point at;
        xcb_window_t window = 0;
    };
    std::map<qint64, Docked> docked;

    // Qt names the process on every window it creates (_NET_WM_PID).
    std::optional<qint64> owner(xcb_window_t window) {
        const XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection.get(),
            xcb_get_property(connection.get(), 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1),
            nullptr));
        if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
            return std::nullopt;
        }
        return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    }
};

TrayWatch::TrayWatch() : impl_(std::make_unique<Impl>()) {
    impl_->connection.reset(xcb_connect(nullptr, &impl_->screen));
    if (xcb_connection_has_error(impl_->connection.get()) != 0) {
        impl_->connection.reset();
        return;
    }
    xcb_screen_iterator_t screens =
        xcb_setup_roots_iterator(xcb_get_setup(impl_->connection.get()));
    for (int i = 0; i < impl_->screen && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    impl_->root = screens.data->root;
    impl_->pidAtom = internAtom(impl_->connection.get(), "_NET_WM_PID");
    // Reparenting a top-level window is reported to the root's substructure.
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(impl_->connection.get(), impl_->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(impl_->connection.get());
    impl_->notifier = std::make_unique<QSocketNotifier>(
        xcb_get_file_descriptor(impl_->connection.get()), QSocketNotifier::Read);
    QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, [this] { readEvents(); });
}

TrayWatch::~TrayWatch() = default;

bool TrayWatch::trayPresent() {
    if (!impl_->connection) {
        return false;
    }
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(impl_->screen);
    const xcb_atom_t selection = internAtom(impl_->connection.get(), name.c_str());
    const XcbReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        impl_->connection.get(), xcb_get_selection_owner(impl_->connection.get(), selection),
        nullptr));
    return reply && reply->owner != XCB_WINDOW_NONE;
}

std::optional<Clock::time_point> TrayWatch::dockedAt(qint64 pid) {
    readEvents();
    const auto found = impl_->docked.find(pid);
    return found == impl_->docked.end() ? std::nullopt : std::optional(found->second.at);
}

std::optional<std::uint32_t> TrayWatch::dockedWindow(qint64 pid) {
    readEvents();
    const auto found = impl_->docked.find(pid);
    return found == impl_->docked.end() ? std::nullopt : std::optional(found->second.window);
}

void TrayWatch::readEvents() {
    if (!impl_->connection) {
        return;
    }
    for (;;) {
        const XcbReply<xcb_generic_event_t> event(xcb_poll_for_event(impl_->connection.get()));
        if (!event) {
            break;
        }
        const auto now = Clock::now();
        if ((event->response_type & 0x7f) != XCB_REPARENT_NOTIFY) {
            continue;
        }
        const auto* reparent = reinterpret_cast<const xcb_reparent_notify_event_t*>(event.get());
        // Away from the root: into the tray host (there is no window manager).
        if (reparent->parent == impl_->root) {
            continue;
        }
        if (const auto pid = impl_->owner(reparent->window)) {
            impl_->docked.try_emplace(*pid, Impl::Docked{now, reparent->window});
        }
    }
}

// ---------------------------------------------------------------------------

const char* subjectName(Subject subject) {
    return subject == Subject::Quillet ? "quillet" : "bare_tray";
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

Program::Program(Subject subject, qsizetype storedRun) : subject_(subject), storedRun_(storedRun) {
    QObject::connect(&process_, &QProcess::readyReadStandardError, [this] {
        output_ += process_.readAllStandardError();
        if (!armedAt_ && output_.contains("Quillet is running")) {
            armedAt_ = Clock::now();
        }
    });
    QObject::connect(&process_, &QProcess::readyReadStandardOutput,
                     [this] { output_ += process_.readAllStandardOutput(); });
}

Program::~Program() {
    stop();
}

QString Program::settingsFile() const {
    return configHome_.filePath(QStringLiteral("tarnwick/Quillet.conf"));
}

bool Program::fail(const std::string& message) {
    if (error_.empty()) {
        error_ = std::string(subjectName(subject_)) + ": " + message;
        if (!output_.isEmpty()) {
            error_ += "\nit said:\n" + output_.toStdString();
        }
    }
    return false;
}

bool Program::start(TrayWatch& tray) {
    if (!configHome_.isValid() || !runtimeDir_.isValid()) {
        return fail("cannot create temporary folders");
    }
    if (subject_ == Subject::Quillet && !QFile::exists(settingsFile())) {
        QDir().mkpath(configHome_.filePath(QStringLiteral("tarnwick")));
        QFile seed(settingsFile());
        if (!seed.open(QIODevice::WriteOnly) ||
            seed.write("[General]\nhotkeyCode=9\nhotkeyModifiers=1835008\n") < 0) {
            return fail("cannot store a shortcut in its settings folder");
        }
        seed.close();
        if (storedRun_ > 0) {
            // Written the way the program writes it: JSON under one key.
            AppState run;
            run.sourceClipboardContent = sampleText(storedRun_);
            run.lines = buildLines(run.sourceClipboardContent);
            QSettings settings(settingsFile(), QSettings::IniFormat);
            settings.setValue(QString::fromUtf16(kAppStateKey), encodeAppState(run));
            settings.sync();
            if (settings.status() != QSettings::NoError) {
                return fail("cannot store a run in its settings folder");
            }
        }
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome_.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir_.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    process_.setProcessEnvironment(env);
    process_.setProgram(subject_ == Subject::Quillet ? QStringLiteral(QUILLET_BIN)
                                                     : QStringLiteral(QUILLET_BARE_TRAY_BIN));
    output_.clear();
    armedAt_.reset();
    dockedAt_.reset();

    startedAt_ = Clock::now();
    process_.start();
    const bool ready = runUntil(Clock::now() + 15s, [&] {
        if (!dockedAt_ && process_.state() == QProcess::Running) {
            dockedAt_ = tray.dockedAt(process_.processId());
        }
        const bool armed = subject_ == Subject::BareTray || armedAt_.has_value();
        return (armed && dockedAt_) || process_.state() == QProcess::NotRunning;
    });
    if (process_.state() == QProcess::NotRunning) {
        return fail("it ended at start-up");
    }
    if (!ready) {
        return fail(dockedAt_ ? "its shortcut was not armed within 15 s"
                              : "its icon did not dock in the tray within 15 s");
    }
    if (subject_ == Subject::Quillet && !output_.contains("Quillet is running. Press")) {
        return fail("it runs without its shortcut");
    }
    return true;
}

bool Program::stop() {
    if (process_.state() == QProcess::NotRunning) {
        return true;
    }
    process_.terminate();
    if (!runUntil(Clock::now() + 10s,
                  [this] { return process_.state() == QProcess::NotRunning; })) {
        process_.kill();
        process_.waitForFinished(3000);
        return fail("it ignored SIGTERM for 10 s");
    }
    // The bare program has no handler: SIGTERM ends it by default.
    if (subject_ == Subject::Quillet &&
        (process_.exitStatus() != QProcess::NormalExit || process_.exitCode() != 0)) {
        return fail("it exited with status " + std::to_string(process_.exitCode()) + " on SIGTERM");
    }
    return true;
}

// ---------------------------------------------------------------------------

FileStamp fileStamp(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return {static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

namespace {

constexpr std::array<KeySym, 4> kShortcut{XK_Control_L, XK_Alt_L, XK_Super_L, XK_v};
constexpr auto kHold = 20ms;
constexpr auto kStepDeadline = 5s;

}  // namespace

struct Typist::Impl {
    x11::DisplayPtr display = x11::openDisplay();
    std::array<::KeyCode, kShortcut.size()> codes{};
    int generation = 0;

    Atom clipboard() { return XInternAtom(display.get(), "CLIPBOARD", False); }
    void keys(bool down) {
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const ::KeyCode code = down ? codes[i] : codes[codes.size() - 1 - i];
            XTestFakeKeyEvent(display.get(), code, down ? True : False, CurrentTime);
        }
        XFlush(display.get());
    }
};

Typist::Typist() : impl_(std::make_unique<Impl>()) {
    if (impl_->display && x11::hasXTest(impl_->display.get())) {
        for (std::size_t i = 0; i < kShortcut.size(); ++i) {
            impl_->codes[i] = XKeysymToKeycode(impl_->display.get(), kShortcut[i]);
        }
    }
    field_.setWindowTitle(QStringLiteral("quillet-bench-target"));
    field_.resize(480, 120);
}

Typist::~Typist() = default;

bool Typist::fail(const std::string& message) {
    if (error_.empty()) {
        error_ = message;
    }
    return false;
}

namespace {

// Each copy's lines name their copy, so that no copy repeats an earlier one.
void appendListLine(QByteArray& text, int generation, int index) {
    text += 'g' + QByteArray::number(generation) + " item " +
            QByteArray::number(index).rightJustified(4, '0') + " 名称 value";
}

}  // namespace

bool Typist::canCopy() {
    if (std::any_of(impl_->codes.begin(), impl_->codes.end(), [](::KeyCode c) { return c == 0; })) {
        return fail("the X server lacks XTest or a key of Control+Alt+Super+V");
    }
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
        return fail("xclip is missing (scripts/setup installs it)");
    }
    return true;
}

bool Typist::copyList(int lines) {
    if (!canCopy()) {
        return false;
    }
    ++impl_->generation;
    lines_.clear();
    QByteArray text;
    for (int i = 0; i < lines; ++i) {
        QByteArray line;
        appendListLine(line, impl_->generation, i);
        lines_.append(QString::fromUtf8(line));
        text += line + '\n';
    }
    next_ = 0;
    return copy(text);
}

bool Typist::copyBulk(qsizetype bytes) {
    if (!canCopy()) {
        return false;
    }
    ++impl_->generation;
    QByteArray text;
    text.reserve(bytes + 64);
    for (int i = 0; text.size() < bytes; ++i) {
        appendListLine(text, impl_->generation, i);
        text += '\n';
    }
    lines_ = {QString::fromUtf8(text.left(text.indexOf('\n')))};
    next_ = 0;
    return copy(text);
}

bool Typist::copy(const QByteArray& text) {
    // xclip's parent exits once it has read the text; a child of it keeps
    // serving the clipboard.
    const Window before = XGetSelectionOwner(impl_->display.get(), impl_->clipboard());
    QProcess xclip;
    xclip.setStandardOutputFile(QProcess::nullDevice());
    xclip.setStandardErrorFile(QProcess::nullDevice());
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i")});
    xclip.write(text);
    xclip.closeWriteChannel();
    const bool exited =
        runUntil(Clock::now() + 10s, [&] { return xclip.state() == QProcess::NotRunning; });
    if (!exited || xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) {
        return fail("xclip could not copy the text");
    }
    return runUntil(Clock::now() + 5s,
                    [&] {
                        const Window owner =
                            XGetSelectionOwner(impl_->display.get(), impl_->clipboard());
                        return owner != None && owner != before;
                    }) ||
           fail("xclip did not take over the clipboard");
}

Typist::Keystroke Typist::strike() {
    const auto down = Clock::now();
    impl_->keys(true);
    runFor(kHold);
    impl_->keys(false);
    return {down, Clock::now()};
}

bool Typist::focusField() {
    Display* display = impl_->display.get();
    const auto focused = [&] {
        Window window = 0;
        int revert = 0;
        XGetInputFocus(display, &window, &revert);
        return field_.isActiveWindow() && field_.hasFocus() && window == field_.winId();
    };
    if (focused()) {
        return true;
    }
    field_.show();
    field_.activateWindow();
    field_.setFocus();
    if (runUntil(Clock::now() + 2s, focused)) {
        return true;
    }
    XSetInputFocus(display, static_cast<Window>(field_.winId()), RevertToParent, CurrentTime);
    XFlush(display);
    field_.setFocus();
    return runUntil(Clock::now() + 3s, focused) ||
           fail("the text field does not get the keyboard focus");
}

bool Typist::press(const Program& program) {
    if (next_ >= lines_.size()) {
        return fail("the copied list ran out");
    }
    if (!focusField()) {
        return false;
    }
    field_.clear();
    const QString& expected = lines_[next_];
    const FileStamp before = fileStamp(program.settingsFile());
    strike();

    bool wrong = false;
    const bool done = runUntil(Clock::now() + kStepDeadline, [&] {
        const QString text = field_.toPlainText();
        wrong = !expected.startsWith(text);
        return wrong || (text == expected && fileStamp(program.settingsFile()) != before);
    });
    if (wrong) {
        return fail(QStringLiteral("press %1: expected \"%2\", the field got \"%3\"")
                        .arg(pressed_ + 1)
                        .arg(expected, field_.toPlainText())
                        .toStdString());
    }
    if (!done) {
        return fail(QStringLiteral("press %1: \"%2\" %3 within 5 s")
                        .arg(pressed_ + 1)
                        .arg(expected, field_.toPlainText() == expected
                                           ? QStringLiteral("pasted, but the step did not save")
                                           : QStringLiteral("not pasted"))
                        .toStdString());
    }
    ++next_;
    ++pressed_;
    return true;
}

// ---------------------------------------------------------------------------

Harness::Harness(int& argc, char** argv, const char* name)
    : name_(name),
      args_(withDefaultFlags(argc, argv, {tabular_.data()})),
      argc_(static_cast<int>(args_.size()) - 1) {
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
    if (!tray_->trayPresent()) {
        std::cout << name_
                  << ": skipped, it needs a system tray host on the X server (scripts/bench "
                     "starts trayer).\n";
        return;
    }
    usable_ = true;
}

Harness::~Harness() = default;

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
