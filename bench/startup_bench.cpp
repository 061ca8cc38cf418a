// Start-up, QUILLET_BENCH_STARTS times (20 unless set): from the start of
// the process to Quillet's shortcut armed (the time column; the program says
// "Quillet is running" once it is) and to its icon docked in the tray
// (docked_ms). The bare Qt tray program gives the floor for docking. Every
// start finds the settings of the previous one, as on a user's machine;
// one series starts with a run from a 10 MiB clipboard stored.

#include "figures.h"
#include "harness.h"
#include "subject.h"

#include <benchmark/benchmark.h>

#include <string>

namespace quillet::bench {
namespace {

void startUp(benchmark::State& state, Harness& harness, Program& program, Subject subject) {
    for (auto _ : state) {
        if (!harness.start(program)) {
            harness.fail(state, program.error());
            break;
        }
        const auto docked = harness.dockTime(program);
        const auto armed =
            subject == Subject::Quillet ? *program.armedAt() - program.startedAt() : docked;
        state.SetIterationTime(seconds(armed));
        state.counters["docked_ms"] = millis(docked);
        if (!program.stop()) {
            harness.fail(state, program.error());
            break;
        }
    }
}

}  // namespace

int benchmarks(Harness& harness) {
    const int starts = envCount("QUILLET_BENCH_STARTS", 20);
    Program quillet(programOptions(Subject::Quillet));
    Program withRun(programOptions(Subject::Quillet, kStoredRun));
    Program bare(programOptions(Subject::BareTray));
    const struct {
        const char* name;
        Subject subject;
        Program& program;
    } rows[] = {
        {"BM_Startup/quillet/to_armed", Subject::Quillet, quillet},
        {"BM_Startup/quillet_run_10MiB/to_armed", Subject::Quillet, withRun},
        {"BM_Startup/bare_tray/to_docked", Subject::BareTray, bare},
    };
    for (const auto& row : rows) {
        repeated(harness.add(row.name,
                             [&harness, &row](benchmark::State& state) {
                                 startUp(state, harness, row.program, row.subject);
                             }),
                 starts);
    }
    return harness.run();
}

}  // namespace quillet::bench
