// The paste step's own work (load the run, read and compare the clipboard
// text, build the lines, save the run) against the size of the clipboard,
// with the delivery itself stubbed out (no pauses, no keys).

#include "core/app_state.h"
#include "core/lines.h"
#include "doubles/clipboard.h"
#include "doubles/desktop.h"
#include "doubles/paste_keystroke.h"
#include "doubles/state_file.h"
#include "in_memory_settings_store.h"
#include "paste/paste_injector.h"
#include "paste/paste_run.h"
#include "platform/qt/state_file_qt.h"
#include "sample_text.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace quillet {
namespace {

using bench::sampleText;

struct Rig {
    explicit Rig(std::unique_ptr<StateFile> store) : file(std::move(store)) {}

    std::unique_ptr<StateFile> file;
    InMemorySettingsStore settings;
    FakeClipboard clipboard;
    RecordingPasteKeystroke keystroke;
    FixedActiveWindow activeWindow;
    PasteInjector injector{clipboard,
                           keystroke,
                           activeWindow,
                           settings,
                           PasteTiming{{}, {}, {}, {}},
                           [](std::chrono::milliseconds) {}};
    RunStore runStore{*file, settings};
    PasteRun run{runStore, clipboard, injector, settings};
};

// The run's file in memory, or the real one in a folder of its own.
std::unique_ptr<StateFile> makeStore(bool onDisk, QTemporaryDir& dir) {
    if (!onDisk) {
        return std::make_unique<InMemoryStateFile>();
    }
    qputenv("XDG_STATE_HOME", dir.path().toUtf8());
    return std::make_unique<StateFileQt>();
}

// Same text every press: the run continues (compare, paste, save).
void BM_StepContinues(benchmark::State& state) {
    QTemporaryDir dir;
    Rig rig(makeStore(state.range(1) != 0, dir));
    rig.clipboard.copy(sampleText(state.range(0), QStringLiteral("a")));
    rig.run.step();
    for (auto _ : state) {
        benchmark::DoNotOptimize(rig.run.step());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}

// A different text every press: the run restarts (normalize, split, save).
void BM_StepNewContent(benchmark::State& state) {
    QTemporaryDir dir;
    Rig rig(makeStore(state.range(1) != 0, dir));
    const QString texts[] = {sampleText(state.range(0), QStringLiteral("a")),
                             sampleText(state.range(0), QStringLiteral("b"))};
    int which = 0;
    for (auto _ : state) {
        rig.clipboard.copy(texts[which]);
        which ^= 1;
        benchmark::DoNotOptimize(rig.run.step());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}

AppState sampleState(qsizetype bytes) {
    AppState state;
    state.sourceClipboardContent = sampleText(bytes, QStringLiteral("a"));
    state.lines = buildLines(state.sourceClipboardContent);
    state.currentIndex = state.lines.size() / 2;
    return state;
}

// The persisted run's two halves: JSON out and JSON in.
void BM_EncodeState(benchmark::State& state) {
    const AppState run = sampleState(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeAppState(run));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}

void BM_DecodeState(benchmark::State& state) {
    const QByteArray json = encodeAppState(sampleState(state.range(0))).json;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeAppState(json));
    }
    state.SetBytesProcessed(state.iterations() * json.size());
}

void BM_BuildLines(benchmark::State& state) {
    const QString text = sampleText(state.range(0), QStringLiteral("a"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildLines(text));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}

void sizes(benchmark::internal::Benchmark* bench) {
    bench->ArgNames({"bytes", "file"});
    for (const int onDisk : {0, 1}) {
        for (const long bytes : {1L << 10, 100L << 10, 1L << 20, 10L << 20}) {
            bench->Args({bytes, onDisk});
        }
    }
    bench->Unit(benchmark::kMillisecond);
}

void textSizes(benchmark::internal::Benchmark* bench) {
    bench->ArgName("bytes")
        ->Arg(1L << 10)
        ->Arg(100L << 10)
        ->Arg(1L << 20)
        ->Arg(10L << 20)
        ->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_EncodeState)->Apply(textSizes);
BENCHMARK(BM_DecodeState)->Apply(textSizes);
BENCHMARK(BM_BuildLines)->Apply(textSizes);
BENCHMARK(BM_StepContinues)->Apply(sizes);
BENCHMARK(BM_StepNewContent)->Apply(sizes);

}  // namespace
}  // namespace quillet

BENCHMARK_MAIN();
