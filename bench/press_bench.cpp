// What a press of the shortcut costs the user, end to end: the real program
// pastes into a text field of this process on a real X server. Per press:
// keys up -> line in the field (the time column), keys down -> line in the
// field, keys down -> position saved (the whole step). Then bursts of presses
// faster than the program can serve them. Each with a short list, a list of
// 50,000 lines (2.5 MB) and one of 10 MiB: a press must cost the same.
//
// It presses keys and takes over the clipboard: run it on a private server
// with a tray host (scripts/bench does), not on your desktop.

#include "figures.h"
#include "harness.h"
#include "kernel_figures.h"
#include "subject.h"
#include "typist.h"

#include <QFileInfo>
#include <QFileSystemWatcher>

#include <benchmark/benchmark.h>

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace quillet::bench {
namespace {

constexpr int kBurstPresses = 10;
constexpr auto kBurstSpacing = 60ms;
// The program's own floor per step: 50 ms settle, >= 100 ms for the fetch
// and 150 ms without another after it, 50 ms after the restore.
constexpr auto kStepFloor = 250ms;
constexpr auto kStepDeadline = 5s;

// Times of one measured series of presses.
struct Presses {
    std::vector<Typist::Keystroke> keys;
    std::vector<Clock::time_point> arrivals;
    Clock::time_point saved;
    // What the program's steps cost in CPU, when the kernel tells.
    std::optional<double> programCpuMs;
};

// The program, the text field it pastes into and the copied list, kept
// across repetitions: started on first use, stopped at the end.
class Session {
public:
    // Every list's rows type into the same field: one window, one focus.
    Session(Harness& harness, Typist& typist, int listLines)
        : harness_(harness), typist_(typist), listLines_(listLines) {
        QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged,
                         [this] { checkSaved(); });
    }

    ~Session() { stop(); }

    // Ends the program: only one can hold the shortcut.
    void stop() {
        if (started_ && program_.running() && !program_.stop()) {
            std::cerr << "quillet_bench_press: " << program_.error() << '\n';
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // `presses` presses `spacing` apart (each one after the previous step
    // saved when spacing is zero); the lines must arrive one each, in order.
    std::optional<Presses> run(int presses, Clock::duration spacing) {
        if (!failure_.beginRow() || (!started_ && !start()) || !ensureLines(presses)) {
            return std::nullopt;
        }
        return measure(presses, spacing, [this] { return typist_.strike(); });
    }

    // The same just after copying a fresh list: the first press reads it
    // and starts a new run.
    std::optional<Presses> runNewList(int presses, Clock::duration spacing, bool chords) {
        if (!failure_.beginRow() || (!started_ && !start())) {
            return std::nullopt;
        }
        setUpField();
        copied_ = true;
        if (!typist_.copyList(std::max(listLines_, presses + 1))) {
            fail(typist_.error());
            return std::nullopt;
        }
        return measure(presses, spacing,
                       [this, chords] { return chords ? typist_.chord() : typist_.strike(); });
    }

    // Reports the failure once; the rows after it just say they skipped.
    void skip(benchmark::State& state) { failure_.report(state, harness_); }

private:
    bool start() {
        started_ = true;
        if (!harness_.start(program_)) {
            return fail(program_.error());
        }
        // A new run replaces the file (the folder changes), a press rewrites
        // its index in place (the file changes).
        const QString folder = QFileInfo(program_.stateFile()).path();
        if (!watcher_.addPath(folder)) {
            return fail("cannot watch the state folder " + folder.toStdString());
        }
        QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, [this] { checkSaved(); });
        checkSaved();
        return true;
    }

    // A fresh list when the current one would run out within this series;
    // its first line is pasted unmeasured, so that measured presses continue
    // a run as most presses do.
    void setUpField() {
        typist_.field().onChange = [this](const QString& text, Clock::time_point at) {
            onTextChanged(text, at);
        };
    }

    bool ensureLines(int presses) {
        setUpField();
        // The list in the typist's hands may be another session's.
        if (copied_ && typist_.remaining().size() >= presses) {
            return true;
        }
        copied_ = true;
        if (!typist_.copyList(std::max(listLines_, presses + 1))) {
            return fail(typist_.error());
        }
        return measure(1, {}, [this] { return typist_.strike(); }).has_value();
    }

    std::optional<Presses> measure(int presses, Clock::duration spacing,
                                   const std::function<Typist::Keystroke()>& strike) {
        if (!typist_.readyField()) {
            fail(typist_.error());
            return std::nullopt;
        }
        expected_ = typist_.remaining().first(presses);
        arrivedText_.clear();
        arrivals_.clear();
        wrongText_.reset();

        Presses result;
        ActivityTracker cpu;
        const bool cpuKnown = cpu.start(program_.pid());
        const auto first = Clock::now();
        for (int i = 0; i < presses; ++i) {
            if (spacing > Clock::duration::zero()) {
                runFor(first + i * spacing - Clock::now());
            } else if (i > 0 && !waitForStep(i)) {
                return std::nullopt;
            }
            result.keys.push_back(strike());
        }
        if (!waitForStep(presses)) {
            return std::nullopt;
        }
        result.arrivals = arrivals_;
        result.saved = lastSave_;
        if (cpuKnown && cpu.sample()) {
            result.programCpuMs = cpu.delta().scheduledMs;
        }
        typist_.pasted(presses);
        return result;
    }

    // Until `count` lines arrived and the step of the last one saved.
    bool waitForStep(int count) {
        const bool done = waitUntil(
            [&] {
                return wrongText_ || (arrivals_.size() == static_cast<std::size_t>(count) &&
                                      lastSave_ > arrivals_.back());
            },
            count * kStepDeadline);
        const auto index = static_cast<qsizetype>(arrivals_.size());
        if (wrongText_) {
            return fail(QStringLiteral("press %1 of %2: expected \"%3\", the field got \"%4\"")
                            .arg(index + 1)
                            .arg(expected_.size())
                            .arg(expected_.value(index), *wrongText_)
                            .toStdString());
        }
        if (!done) {
            const bool arrived = index == count;
            return fail(
                QStringLiteral("press %1 of %2 (\"%3\"): %4 within %5 s; the field "
                               "holds \"%6\"")
                    .arg(index + 1)
                    .arg(expected_.size())
                    .arg(expected_.value(index),
                         arrived ? QStringLiteral("pasted, but the step did not save")
                                 : QStringLiteral("not pasted"))
                    .arg(std::chrono::duration_cast<std::chrono::seconds>(count * kStepDeadline)
                             .count())
                    .arg(typist_.field().text())
                    .toStdString() +
                "\nthe program said:\n" + program_.output().toStdString());
        }
        return true;
    }

    // Every paste is one insertion, so the field must grow by exactly the
    // next expected line each time.
    void onTextChanged(const QString& text, Clock::time_point now) {
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

    // Seen as its folder changes rather than by polling, so that the save
    // is timed to the event.
    void checkSaved() {
        const FileStamp stamp = fileStamp(program_.stateFile());
        if (stamp.inode == 0 || stamp == stamp_) {
            return;
        }
        if (stamp.inode != stamp_.inode) {
            // A file replaced by a rename is a new one to watch.
            watcher_.removePath(program_.stateFile());
            watcher_.addPath(program_.stateFile());
        }
        stamp_ = stamp;
        lastSave_ = Clock::now();
    }

    bool fail(const std::string& message) {
        failure_.record(message);
        return false;
    }

    Harness& harness_;
    Typist& typist_;
    const int listLines_;
    Program program_{programOptions(Subject::Quillet)};
    QFileSystemWatcher watcher_;
    FileStamp stamp_;
    Clock::time_point lastSave_;

    bool started_ = false;
    bool copied_ = false;
    FirstFailure failure_;
    QStringList expected_;
    QString arrivedText_;
    std::vector<Clock::time_point> arrivals_;
    std::optional<QString> wrongText_;
};

// One press at a time, each after the previous step saved.
void pressOneLine(benchmark::State& state, Session& session) {
    for (auto _ : state) {
        const auto presses = session.run(1, {});
        if (!presses) {
            session.skip(state);
            break;
        }
        const Typist::Keystroke& keys = presses->keys[0];
        state.SetIterationTime(seconds(presses->arrivals[0] - keys.up));
        state.counters["line_from_down_ms"] = millis(presses->arrivals[0] - keys.down);
        state.counters["step_ms"] = millis(presses->saved - keys.down);
        if (presses->programCpuMs) {
            state.counters["program_cpu_ms"] = *presses->programCpuMs;
        }
    }
}

// Presses faster than the program's steps: they queue, and every line must
// still arrive once and in order. The time column runs from the first press
// to the last line; the rate counts until the last step saved. Into the run
// going on, or into a list copied just before, pressed with held keys or
// with xdotool's chords.
enum class Burst { Continued, NewListHeld, NewListChords };

void pressBurst(benchmark::State& state, Session& session, Burst burst) {
    for (auto _ : state) {
        const auto presses =
            burst == Burst::Continued
                ? session.run(kBurstPresses, kBurstSpacing)
                : session.runNewList(kBurstPresses, kBurstSpacing, burst == Burst::NewListChords);
        if (!presses) {
            session.skip(state);
            break;
        }
        const auto begin = presses->keys.front().down;
        const auto total = presses->saved - begin;
        const double lines = static_cast<double>(presses->arrivals.size());
        const double limit = 1.0 / seconds(kStepFloor);
        state.SetIterationTime(seconds(presses->arrivals.back() - begin));
        state.counters["total_ms"] = millis(total);
        state.counters["lines"] = lines;
        state.counters["lines_per_s"] = lines / seconds(total);
        state.counters["pct_of_limit"] = 100.0 * lines / seconds(total) / limit;
        if (presses->programCpuMs) {
            state.counters["program_cpu_ms"] = *presses->programCpuMs;
        }
    }
}

}  // namespace

int benchmarks(Harness& harness) {
    // One program per list, started when its first row runs and kept to the end.
    struct List {
        const char* name;
        int lines;
    };
    // 50 bytes a line: 50,000 lines are 2.5 MB, 210,000 lines 10 MiB.
    static const List lists[] = {{"lines:5", 5}, {"lines:50000", 50'000}, {"MiB:10", 210'000}};
    Typist typist;
    std::vector<std::unique_ptr<Session>> sessions;
    // Rows of one list run together; its program ends those of the others.
    const auto alone = [&sessions](Session& session) {
        for (const auto& other : sessions) {
            if (other.get() != &session) {
                other->stop();
            }
        }
        return &session;
    };
    for (const List& list : lists) {
        Session& session =
            *sessions.emplace_back(std::make_unique<Session>(harness, typist, list.lines));
        const std::string one = std::string("BM_PressOneLine/") + list.name;
        repeated(harness.add(one,
                             [&session, alone](benchmark::State& state) {
                                 pressOneLine(state, *alone(session));
                             }),
                 60);
        // A burst needs a list longer than itself: the short one has 11 lines there.
        const std::string burst =
            (list.lines > kBurstPresses ? std::string(list.name)
                                        : "lines:" + std::to_string(kBurstPresses + 1)) +
            "/presses:" + std::to_string(kBurstPresses) +
            "/spacing_ms:" + std::to_string(kBurstSpacing.count());
        for (const auto& [kind, prefix] :
             {std::pair{Burst::Continued, "BM_PressBurst/"},
              std::pair{Burst::NewListHeld, "BM_BurstIntoNewList/held/"},
              std::pair{Burst::NewListChords, "BM_BurstIntoNewList/chords/"}}) {
            repeated(harness.add(prefix + burst,
                                 [&session, alone, kind = kind](benchmark::State& state) {
                                     pressBurst(state, *alone(session), kind);
                                 }),
                     10);
        }
    }
    return harness.run();
}

}  // namespace quillet::bench
