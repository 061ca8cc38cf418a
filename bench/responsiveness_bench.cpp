// How free the program's UI thread (the one that opens its tray menu) stays
// while a press works through a big clipboard. A thread of this benchmark,
// on an X connection of its own, pings the program's tray icon window with
// _NET_WM_PING, one ping at a time and at most one every 5 ms; Qt answers on
// its GUI thread, so a round trip is about how long a click on the icon
// would wait. Per clipboard size and repetition, on a freshly started
// program: the round trips over a second at rest before the press, and from
// the keys going down until the first line arrived in a text field of this
// process and the step saved (the time column). xclip holds the copy, as
// another program would.
//
// It presses keys and takes over the clipboard: run it on a private server
// with a tray host (scripts/bench does), not on your desktop.

#include "figures.h"
#include "harness.h"
#include "kernel_figures.h"
#include "platform/x11/connection.h"
#include "subject.h"
#include "typist.h"
#include "x/protocol_message.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>
// xcb_poll_for_reply: waiting for a reply without blocking.
#include <xcb/xcbext.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillet::bench {
namespace {

constexpr auto kPingInterval = 5ms;
// A ping unanswered for this long counts as lost and the next one goes out.
constexpr auto kPingDeadline = 30s;
constexpr auto kRestProbe = 1s;
// Reading, splitting and saving 100 MiB takes seconds, not minutes.
constexpr auto kStepDeadline = 180s;

struct RoundTrip {
    Clock::time_point sent;
    double totalMs = 0;
    // Until the X server had handled the ping: when this is most of the
    // round trip, the server was busy, not the program.
    double serverMs = 0;
};

struct Series {
    std::vector<RoundTrip> trips;
    int unanswered = 0;
};

// Pings one window from a thread and an X connection of its own, so that
// no round trip waits for this process's event loop.
class Pinger {
public:
    explicit Pinger(std::uint32_t window) : window_(window) {
        connection_.reset(xcb_connect(nullptr, nullptr));
        if (xcb_connection_has_error(c()) != 0) {
            error_ = "cannot open an X connection for the pings";
            return;
        }
        const auto tree =
            x11::own(xcb_query_tree_reply(c(), xcb_query_tree(c(), window_), nullptr));
        const auto atoms = x11::internAtoms(c(), {"WM_PROTOCOLS", "_NET_WM_PING"});
        protocols_ = atoms[0];
        ping_ = atoms[1];
        if (!tree || protocols_ == XCB_NONE || ping_ == XCB_NONE) {
            error_ = "the tray icon window is gone";
            return;
        }
        root_ = tree->root;
        // Qt sends the answer to the root window for its StructureNotify
        // listeners (not SubstructureNotify ones).
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c(), root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c());
        thread_ = std::thread([this] { run(); });
    }

    ~Pinger() {
        {
            const std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    Pinger(const Pinger&) = delete;
    Pinger& operator=(const Pinger&) = delete;

    const std::string& error() const { return error_; }

    void begin() {
        {
            const std::lock_guard lock(mutex_);
            series_ = {};
            active_ = true;
        }
        changed_.notify_all();
    }

    // Sends no more; the ping on its way still gets its answer or deadline.
    Series end() {
        std::unique_lock lock(mutex_);
        active_ = false;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !busy_; });
        return std::exchange(series_, {});
    }

private:
    xcb_connection_t* c() const { return connection_.get(); }

    void run() {
        std::uint32_t sequence = 0;
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return active_ || quit_; });
            if (quit_) {
                return;
            }
            busy_ = true;
            while (active_ && !quit_) {
                lock.unlock();
                const auto sent = Clock::now();
                const auto trip = ping(++sequence);
                lock.lock();
                if (trip) {
                    series_.trips.push_back(*trip);
                } else {
                    ++series_.unanswered;
                }
                changed_.wait_until(lock, sent + kPingInterval,
                                    [this] { return !active_ || quit_; });
            }
            busy_ = false;
            changed_.notify_all();
        }
    }

    bool isAnswer(const xcb_generic_event_t& event, std::uint32_t sequence) const {
        if ((event.response_type & 0x7f) != XCB_CLIENT_MESSAGE) {
            return false;
        }
        const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
        return message.type == protocols_ && message.format == 32 &&
               message.data.data32[0] == ping_ && message.data.data32[1] == sequence &&
               message.data.data32[2] == window_;
    }

    std::optional<RoundTrip> ping(std::uint32_t sequence) {
        const auto sent = Clock::now();
        // The sequence in the timestamp's place: Qt sends the message back
        // unchanged, and an answer to an earlier, lost ping must not count
        // for this one.
        sendProtocolMessage(c(), window_, protocols_, {ping_, sequence, window_});
        // Answered once the server has handled every request before it.
        const xcb_get_input_focus_cookie_t marker = xcb_get_input_focus(c());
        xcb_flush(c());

        std::optional<Clock::time_point> handled;
        std::optional<Clock::time_point> answered;
        const auto deadline = sent + kPingDeadline;
        for (;;) {
            if (!handled) {
                void* reply = nullptr;
                xcb_generic_error_t* error = nullptr;
                if (xcb_poll_for_reply(c(), marker.sequence, &reply, &error) != 0) {
                    handled = Clock::now();
                }
                // Only the moment counts.
                const auto ownedReply = x11::own(reply);
                const auto ownedError = x11::own(error);
            }
            // Also reads what poll_for_reply left queued, so poll() below
            // only waits for what is still to come.
            while (const auto next = x11::own(xcb_poll_for_event(c()))) {
                if (!answered && isAnswer(*next, sequence)) {
                    answered = Clock::now();
                }
            }
            if (handled && answered) {
                return RoundTrip{sent, millis(*answered - sent), millis(*handled - sent)};
            }
            const auto now = Clock::now();
            if (now >= deadline || quit_ || xcb_connection_has_error(c()) != 0) {
                if (!handled) {
                    xcb_discard_reply(c(), marker.sequence);
                }
                return std::nullopt;
            }
            // Short slices, so that quitting never waits out a lost ping.
            const auto slice = std::chrono::ceil<std::chrono::milliseconds>(
                std::min<Clock::duration>(deadline - now, 50ms));
            pollfd socket{xcb_get_file_descriptor(c()), POLLIN, 0};
            ::poll(&socket, 1, static_cast<int>(slice.count()));
        }
    }

    x11::XcbConnection connection_;
    const xcb_window_t window_;
    xcb_window_t root_ = XCB_NONE;
    xcb_atom_t protocols_ = XCB_NONE;
    xcb_atom_t ping_ = XCB_NONE;
    std::string error_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool active_ = false;
    bool busy_ = false;
    std::atomic<bool> quit_ = false;
    Series series_;
    std::thread thread_;
};

// What one repetition saw.
struct Outcome {
    Series rest;
    Series step;
    Typist::Keystroke keys;
    Clock::time_point line;
    Clock::time_point saved;
};

// The text field and the copies, kept across repetitions; the program is
// started afresh for each.
class Rig {
public:
    explicit Rig(Harness& harness) : harness_(harness) {
        typist_.field().onChange = [this](const QString& text, Clock::time_point at) {
            onTextChanged(text, at);
        };
    }

    std::optional<Outcome> measure(qsizetype bytes) {
        if (!failure_.beginRow()) {
            return std::nullopt;
        }
        Program program(programOptions(Subject::Quillet));
        if (!harness_.start(program)) {
            return fail(program.error());
        }
        const auto window = harness_.tray().dockedWindow(program.pid());
        if (!window) {
            return fail("the program's tray icon window is unknown");
        }
        // A first press brings the paste path into memory; the user's copy
        // of the program has made that press long ago.
        if (!typist_.copyList(2) || !typist_.press(program) || !typist_.copyBulk(bytes) ||
            !typist_.readyField()) {
            return fail(typist_.error());
        }
        expected_ = typist_.remaining().front();
        line_.reset();
        wrongText_.reset();

        Pinger pinger(*window);
        if (!pinger.error().empty()) {
            return fail(pinger.error());
        }
        Outcome outcome;
        pinger.begin();
        runFor(kRestProbe);
        outcome.rest = pinger.end();
        if (outcome.rest.trips.empty()) {
            return fail("the program's tray icon does not answer _NET_WM_PING");
        }

        const QString settings = program.stateFile();
        const FileStamp before = fileStamp(settings);
        std::optional<Clock::time_point> saved;
        const auto checkSaved = [&] {
            if (!saved && fileStamp(settings) != before) {
                saved = Clock::now();
            }
        };
        // Times the save to the rename rather than to the next look.
        QFileSystemWatcher watcher({QFileInfo(settings).path()});
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, checkSaved);

        pinger.begin();
        outcome.keys = typist_.strike();
        const bool done = waitUntil(
            [&] {
                checkSaved();
                return wrongText_ || (line_ && saved);
            },
            outcome.keys.down + kStepDeadline - Clock::now());
        outcome.step = pinger.end();
        if (wrongText_) {
            return fail(QStringLiteral("expected \"%1\", the field got \"%2\"")
                            .arg(expected_, wrongText_->left(200))
                            .toStdString());
        }
        if (!done) {
            return fail(std::string(line_ ? "the line arrived, but the step did not save"
                                          : "the line did not arrive") +
                        " within 180 s\nthe program said:\n" + program.output().toStdString());
        }
        typist_.pasted(1);
        outcome.line = *line_;
        outcome.saved = *saved;
        if (!program.stop()) {
            return fail(program.error());
        }
        return outcome;
    }

    // Reports the failure once; the rows after it just say they skipped.
    void skip(benchmark::State& state) { failure_.report(state, harness_); }

private:
    void onTextChanged(const QString& text, Clock::time_point at) {
        if (line_ || wrongText_ || text.isEmpty()) {
            return;
        }
        if (text == expected_) {
            line_ = at;
        } else if (!expected_.startsWith(text)) {
            wrongText_ = text;
        }
    }

    std::nullopt_t fail(const std::string& message) {
        failure_.record(message);
        return std::nullopt;
    }

    Harness& harness_;
    Typist typist_;
    QString expected_;
    std::optional<Clock::time_point> line_;
    std::optional<QString> wrongText_;
    FirstFailure failure_;
};

void reportSeries(benchmark::State& state, const std::string& prefix, const Series& series) {
    std::vector<double> totals;
    totals.reserve(series.trips.size());
    for (const RoundTrip& trip : series.trips) {
        totals.push_back(trip.totalMs);
    }
    state.counters[prefix + "_med_ms"] = percentile(totals, 0.5);
    state.counters[prefix + "_p95_ms"] = percentile(totals, 0.95);
    state.counters[prefix + "_max_ms"] = percentile(totals, 1.0);
}

void pressWithBigClipboard(benchmark::State& state, Rig& rig, qsizetype bytes) {
    for (auto _ : state) {
        const auto outcome = rig.measure(bytes);
        if (!outcome) {
            rig.skip(state);
            break;
        }
        state.SetIterationTime(seconds(outcome->saved - outcome->keys.down));
        state.counters["line_ms"] = millis(outcome->line - outcome->keys.down);
        reportSeries(state, "rest", outcome->rest);
        reportSeries(state, "ping", outcome->step);
        const auto& trips = outcome->step.trips;
        const auto slowest = std::max_element(
            trips.begin(), trips.end(),
            [](const RoundTrip& a, const RoundTrip& b) { return a.totalMs < b.totalMs; });
        if (slowest != trips.end()) {
            // Which part of the step held it: the line goes on the clipboard
            // after the read, the old text comes back about 100 ms later.
            state.counters["max_at_ms"] = millis(slowest->sent - outcome->keys.down);
            state.counters["max_server_ms"] = slowest->serverMs;
        }
        state.counters["pings"] = static_cast<double>(trips.size());
        state.counters["lost"] = outcome->rest.unanswered + outcome->step.unanswered;
    }
}

}  // namespace

int benchmarks(Harness& harness) {
    Rig rig(harness);
    // Sizes in MiB of copied text, with repetitions: the big one takes
    // tens of seconds a press.
    for (const auto& [mib, repetitions] : {std::pair{1, 5}, std::pair{100, 3}}) {
        const std::string name = "BM_Responsiveness/clipboard_MiB:" + std::to_string(mib);
        const qsizetype bytes = qsizetype(mib) << 20;
        harness
            .add(name, [&rig, bytes](
                           benchmark::State& state) { pressWithBigClipboard(state, rig, bytes); })
            ->Repetitions(repetitions)
            ->ComputeStatistics("max",
                                [](const std::vector<double>& v) { return percentile(v, 1.0); });
    }
    return harness.run();
}

}  // namespace quillet::bench
