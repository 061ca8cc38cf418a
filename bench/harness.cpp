#include "harness.h"

#include "figures.h"
#include "x/client.h"

#include <QFile>
#include <QFileInfo>

#include <iostream>
#include <utility>

namespace quillet::bench {

using namespace harness;

Harness::Harness(int& argc, char** argv)
    : name_(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toStdString()) {
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

benchmark::internal::Benchmark* Harness::add(const std::string& name,
                                             std::function<void(benchmark::State&)> row) {
    return benchmark::RegisterBenchmark(name.c_str(), std::move(row))
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

benchmark::internal::Benchmark* repeated(benchmark::internal::Benchmark* row, int times) {
    return row->Repetitions(times)->ComputeStatistics("p95", p95)->ReportAggregatesOnly(true);
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
