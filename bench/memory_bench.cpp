// Memory of the running program, as the kernel counts it, against a bare Qt
// tray program started the same way: after start-up, after a few presses,
// and after many more (QUILLET_BENCH_PRESSES, 1000 unless set), which must
// not have made it grow. Each figure is read once the program has been left
// alone for a second. The time column is how long the phase took.
//
// It presses keys and takes over the clipboard: run it on a private server
// with a tray host (scripts/bench does), not on your desktop.

#include "figures.h"
#include "harness.h"
#include "kernel_figures.h"
#include "subject.h"
#include "typist.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <optional>
#include <string>

namespace quillet::bench {
namespace {

constexpr auto kSettle = 1s;
constexpr int kWarmPresses = 10;

double mib(double kib) {
    return kib / 1024.0;
}

void reportMemory(benchmark::State& state, const Memory& now, const Memory& before, int presses) {
    state.counters["presses"] = presses;
    state.counters["rss_MiB"] = mib(now.rss);
    state.counters["pss_MiB"] = mib(now.pss);
    state.counters["anon_MiB"] = mib(now.anon);
    state.counters["rss_growth_KiB"] = now.rss - before.rss;
    state.counters["anon_growth_KiB"] = now.anon - before.anon;
}

// The programs under test, started once and kept across the rows, with the
// previous reading of each for the growth columns.
class Session {
public:
    // `presses`: the most any row will ask for.
    Session(Harness& harness, int presses) : harness_(harness), presses_(presses) {}

    Program* started(Subject subject) {
        auto& program = programs_[subject];
        if (!program) {
            program = std::make_unique<Program>(programOptions(subject));
            if (!harness_.start(*program)) {
                error_ = program->error();
                return nullptr;
            }
            runFor(kSettle);
        }
        return program.get();
    }

    // Presses until `total` presses have been made since the start.
    bool pressUntil(Program& program, int total) {
        if (!listCopied_) {
            listCopied_ = true;
            if (!typist_.copyList(std::max(total, presses_) + 1)) {
                error_ = typist_.error();
                return false;
            }
        }
        while (typist_.pressed() < total) {
            if (!typist_.press(program)) {
                error_ = typist_.error();
                return false;
            }
        }
        runFor(kSettle);
        return true;
    }

    // Shared pages count towards PSS split between their users: the
    // baseline goes before the next program starts.
    void stop(Subject subject) { programs_.erase(subject); }

    // Growth is against the previous row of the same program.
    void report(benchmark::State& state, Subject subject, const Memory& now, int presses) {
        const auto previous = last_.find(subject);
        reportMemory(state, now, previous == last_.end() ? now : previous->second, presses);
        last_[subject] = now;
    }

    const std::string& error() const { return error_; }

private:
    Harness& harness_;
    const int presses_;
    std::map<Subject, std::unique_ptr<Program>> programs_;
    Typist typist_;
    bool listCopied_ = false;
    std::map<Subject, Memory> last_;
    std::string error_;
};

// After start-up (the time column: exec to docked in the tray).
void afterStart(benchmark::State& state, Harness& harness, Session& session, Subject subject) {
    for (auto _ : state) {
        Program* program = session.started(subject);
        const auto memory = program ? readMemory(program->pid()) : std::nullopt;
        if (!memory) {
            harness.fail(state, program ? "cannot read /proc of the program" : session.error());
            break;
        }
        state.SetIterationTime(seconds(harness.dockTime(*program)));
        session.report(state, subject, *memory, 0);
    }
    if (subject == Subject::BareTray) {
        session.stop(subject);
    }
}

// The program's memory once it has been left alone for kSettle; none, and
// the row failed, when /proc cannot tell.
std::optional<Memory> settledMemory(benchmark::State& state, Harness& harness,
                                    const Program& program) {
    runFor(kSettle);
    auto memory = readMemory(program.pid());
    if (!memory) {
        harness.fail(state, "cannot read /proc of the program");
    }
    return memory;
}

// After start-up with a big run stored, in an instance of its own that
// ends with the row: what keeping that run costs.
void afterStartWithRun(benchmark::State& state, Harness& harness, qsizetype chars) {
    for (auto _ : state) {
        Program program(programOptions(Subject::Quillet, chars));
        if (!harness.start(program)) {
            harness.fail(state, program.error());
            break;
        }
        const auto memory = settledMemory(state, harness, program);
        if (!memory) {
            break;
        }
        state.SetIterationTime(seconds(harness.dockTime(program)));
        reportMemory(state, *memory, *memory, 0);
    }
}

// After `presses` presses of the shortcut since the start, each pasting its
// line into a text field (the time column: these presses).
// A list of `lines` lines copied and ten of them pasted: the run, the copy
// and the clipboard put back are all held.
void afterPressesOnList(benchmark::State& state, Harness& harness, int lines) {
    for (auto _ : state) {
        Program program(programOptions(Subject::Quillet));
        Typist typist;
        if (!harness.start(program) || !typist.copyList(lines)) {
            harness.fail(state, program.error() + typist.error());
            break;
        }
        const auto begin = Clock::now();
        while (typist.pressed() < kWarmPresses) {
            if (!typist.press(program)) {
                harness.fail(state, typist.error());
                break;
            }
        }
        const auto memory = settledMemory(state, harness, program);
        if (!memory) {
            break;
        }
        state.SetIterationTime(seconds(Clock::now() - begin - kSettle));
        reportMemory(state, *memory, *memory, kWarmPresses);
    }
}

void afterPresses(benchmark::State& state, Harness& harness, Session& session, int presses) {
    for (auto _ : state) {
        Program* program = session.started(Subject::Quillet);
        const auto begin = Clock::now();
        if (program == nullptr || !session.pressUntil(*program, presses)) {
            harness.fail(state, session.error());
            break;
        }
        const auto memory = readMemory(program->pid());
        if (!memory) {
            harness.fail(state, "cannot read /proc of the program");
            break;
        }
        state.SetIterationTime(seconds(Clock::now() - begin - kSettle));
        session.report(state, Subject::Quillet, *memory, presses);
    }
}

}  // namespace

int benchmarks(Harness& harness) {
    const int presses = std::max(envCount("QUILLET_BENCH_PRESSES", 1000), kWarmPresses + 1);
    Session session(harness, presses);

    const auto started = [&](Subject subject) {
        const std::string name = std::string("BM_Memory/") + subjectName(subject) + "/started";
        harness.add(name, [&harness, &session, subject](benchmark::State& state) {
            afterStart(state, harness, session, subject);
        });
    };
    started(Subject::BareTray);
    // Before the long-lived instance: two would fight over the shortcut.
    const std::string withRun =
        "BM_Memory/quillet_run_" + std::to_string(kStoredRun >> 20) + "MiB/started";
    harness.add(withRun, [&harness](benchmark::State& state) {
        afterStartWithRun(state, harness, kStoredRun);
    });
    harness.add(
        "BM_Memory/quillet/list_lines:50000/presses:10",
        [&harness](benchmark::State& state) { afterPressesOnList(state, harness, 50'000); });
    started(Subject::Quillet);
    for (const int count : {kWarmPresses, presses}) {
        const std::string name = "BM_Memory/quillet/presses:" + std::to_string(count);
        harness.add(name, [&harness, &session, count](benchmark::State& state) {
            afterPresses(state, harness, session, count);
        });
    }
    std::cerr << "quillet_bench_memory: " << presses
              << " presses take about a quarter of a second each (QUILLET_BENCH_PRESSES=n "
                 "for fewer)\n";
    return harness.run();
}

}  // namespace quillet::bench
