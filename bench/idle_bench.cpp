// What the program costs while nobody uses it: CPU time and wakeups (context
// switches, voluntary and involuntary, summed over its threads, plus one for
// each thread that ended) over a quiet stretch, QUILLET_BENCH_IDLE_S seconds
// (60 unless set). Measured right after
// start-up and again after a few pastes, which must leave nothing ticking,
// with a bare Qt tray program as the baseline. The time column is the
// stretch.
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
#include <string>
#include <thread>

namespace quillet::bench {
namespace {

// Start-up work that finishes on its own (fonts, the tray's first paint)
// is not idling yet.
constexpr auto kSettle = 2s;
constexpr int kPastes = 3;
constexpr auto kSample = 1s;

void idle(benchmark::State& state, Harness& harness, Subject subject, int pastes,
          Clock::duration stretch) {
    for (auto _ : state) {
        Program program(programOptions(subject));
        Typist typist;
        if (!harness.start(program)) {
            harness.fail(state, program.error());
            break;
        }
        if (pastes > 0 && !typist.copyList(pastes)) {
            harness.fail(state, typist.error());
            break;
        }
        for (int i = 0; i < pastes; ++i) {
            if (!typist.press(program)) {
                harness.fail(state, typist.error());
                break;
            }
        }
        if (typist.pressed() < pastes) {
            break;
        }
        runFor(kSettle);

        // Our own event loop has no business with the program meanwhile:
        // plain sleeps, with a look at its threads every second.
        ActivityTracker tracker;
        const auto begin = Clock::now();
        bool seen = tracker.start(program.pid());
        while (seen && Clock::now() - begin < stretch) {
            std::this_thread::sleep_for(
                std::min<Clock::duration>(kSample, stretch - (Clock::now() - begin)));
            seen = tracker.sample();
        }
        const auto end = Clock::now();
        if (!seen) {
            harness.fail(state, "cannot read /proc of the program");
            break;
        }
        const ActivityDelta delta = tracker.delta();
        state.SetIterationTime(seconds(end - begin));
        state.counters["cpu_ms"] = delta.cpuMs;
        state.counters["sched_cpu_ms"] = delta.scheduledMs;
        state.counters["wakeups"] = static_cast<double>(delta.wakeups());
        state.counters["voluntary"] = static_cast<double>(delta.voluntary);
        state.counters["involuntary"] = static_cast<double>(delta.involuntary);
        state.counters["threads_ended"] = static_cast<double>(delta.threadsEnded);
        state.counters["threads"] = static_cast<double>(tracker.liveThreads());
        if (!program.stop()) {
            harness.fail(state, program.error());
        }
    }
}

}  // namespace

int benchmarks(Harness& harness) {
    const int secondsIdle = envCount("QUILLET_BENCH_IDLE_S", 60);
    const std::chrono::seconds stretch(secondsIdle);
    const std::string suffix = "/seconds:" + std::to_string(secondsIdle);

    struct Row {
        std::string name;
        Subject subject;
        int pastes;
    };
    const Row rows[] = {
        {"BM_Idle/bare_tray/started", Subject::BareTray, 0},
        {"BM_Idle/quillet/started", Subject::Quillet, 0},
        {"BM_Idle/quillet/after_pastes:" + std::to_string(kPastes), Subject::Quillet, kPastes},
    };
    for (const Row& row : rows) {
        harness
            .add(row.name + suffix,
                 [&harness, row, stretch](benchmark::State& state) {
                     idle(state, harness, row.subject, row.pastes, stretch);
                 })
            ->Unit(benchmark::kSecond);
    }
    std::cerr << "quillet_bench_idle: three stretches of " << secondsIdle
              << " s (QUILLET_BENCH_IDLE_S=n for shorter ones)\n";
    return harness.run();
}

}  // namespace quillet::bench
