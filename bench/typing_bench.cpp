// Typing a long line into xterm (which has no key that pastes the
// clipboard), and what it costs every other program on the X server. Per
// line: keys down -> the whole line in xterm (the time column), and the
// round trips another client makes meanwhile, back to back on a thread and a
// connection of their own (median and longest). Lines of 1,000 and 10,000
// characters: ASCII only, and mixed with Chinese from a set larger than the
// server's spare keys, so keys are lent, read and given back on the way.
//
// It presses keys and takes over the clipboard: run it on a private server
// with a tray host (scripts/bench does), not on your desktop.

#include "figures.h"
#include "harness.h"
#include "platform/x11/connection.h"
#include "subject.h"
#include "x/client.h"
#include "x/clipboard.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace quillet::bench {
namespace {

constexpr auto kLineDeadline = 120s;

// Round trips from a thread of their own until stopped.
class RoundTrips {
public:
    RoundTrips() : connection_(xcb_connect(nullptr, nullptr)) {
        thread_ = std::thread([this] {
            xcb_connection_t* c = connection_.get();
            while (!stop_ && xcb_connection_has_error(c) == 0) {
                const auto sent = Clock::now();
                x11::own(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
                trips_.push_back(millis(Clock::now() - sent));
            }
        });
    }
    // The round trips' times, in milliseconds.
    std::vector<double> stop() {
        stop_ = true;
        thread_.join();
        return trips_;
    }

private:
    x11::XcbConnection connection_;
    std::atomic<bool> stop_ = false;
    std::vector<double> trips_;
    std::thread thread_;
};

// xterm with `cat` on a raw tty as its shell: the file holds what it got.
class Xterm {
public:
    Xterm() {
        xterm_.start(QStringLiteral("xterm"),
                     {QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
                      QStringLiteral("stty raw -echo; exec cat > '%1'").arg(file_)});
    }
    ~Xterm() {
        xterm_.terminate();
        xterm_.waitForFinished(5000);
    }
    Xterm(const Xterm&) = delete;
    Xterm& operator=(const Xterm&) = delete;

    bool focus() {
        std::optional<XWindow> window;
        return waitUntil(
                   [&] {
                       const auto windows = x().windows(xterm_.processId());
                       if (!windows.empty() && QFile::exists(file_)) {
                           window = windows.front();
                       }
                       return window.has_value();
                   },
                   20s) &&
               x().focus(window->id);
    }
    qsizetype size() const { return QFile(file_).size(); }

private:
    QTemporaryDir dir_;
    QString file_ = dir_.filePath(QStringLiteral("typed"));
    QProcess xterm_;
};

QString line(qsizetype chars, bool mixed) {
    QString text = QStringLiteral("Start");
    for (int i = 0; text.size() < chars; ++i) {
        text += QStringLiteral(" word%1").arg(i % 100);
        if (mixed) {
            text += QChar(0x4E00 + i % 60);
        }
    }
    return text.left(chars).trimmed();  // the program trims the lines it pastes
}

void typeLine(benchmark::State& state, Harness& harness, qsizetype chars, bool mixed) {
    Program program(programOptions(Subject::Quillet));
    Xterm xterm;
    if (!harness.start(program) || !xterm.focus()) {
        harness.fail(state, "no program or no xterm: " + program.error());
        return;
    }
    const QByteArray text = line(chars, mixed).toUtf8();
    qsizetype typed = 0;
    for (auto _ : state) {
        if (!copy(text)) {
            harness.fail(state, "the copy failed");
            return;
        }
        RoundTrips trips;
        const auto down = Clock::now();
        x().chord(kDefaultChord, 20ms);
        const bool arrived =
            waitUntil([&] { return xterm.size() >= typed + text.size(); }, kLineDeadline);
        const auto done = Clock::now();
        const std::vector<double> waits = trips.stop();
        if (!arrived) {
            harness.fail(state, "the line did not arrive within 120 s");
            return;
        }
        typed += text.size();
        state.SetIterationTime(seconds(done - down));
        state.counters["trips"] = static_cast<double>(waits.size());
        state.counters["trip_med_ms"] = percentile(waits, 0.5);
        state.counters["trip_max_ms"] = percentile(waits, 1.0);
    }
}

}  // namespace

int benchmarks(Harness& harness) {
    for (const qsizetype chars : {1'000, 10'000}) {
        for (const bool mixed : {false, true}) {
            const std::string name =
                "BM_Typing/chars:" + std::to_string(chars) + (mixed ? "/mixed_chinese" : "/ascii");
            harness
                .add(name, [&harness, chars, mixed](
                               benchmark::State& state) { typeLine(state, harness, chars, mixed); })
                ->Repetitions(3);
        }
    }
    return harness.run();
}

}  // namespace quillet::bench
