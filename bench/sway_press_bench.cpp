// What a press costs the user on sway, end to end: a virtual keyboard holds
// the binding for 20 ms, sway runs `quillet --paste-next`, which hands the
// press to the running program over the session bus, and the line lands in
// a Qt window of another process. Per press: keys up -> line (the figure to
// set beside X11's), keys down -> line, keys down -> run saved. Then the
// command alone, started and waited for as the binding starts it.
//
// It presses keys, binds keys in sway and takes over the clipboard: run it in
// the private sway session of scripts/bench-wayland, not on your desktop.

#include "figures.h"
#include "kernel_figures.h"
#include "wayland_harness.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using namespace quillet::wlharness;
using quillet::bench::millis;

constexpr int kListLines = 400;
constexpr auto kHold = 20ms;
constexpr auto kStepDeadline = 5s;

// When the file was last written, by the wall clock.
std::chrono::system_clock::time_point savedAt(const QString& file) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(quillet::bench::fileStamp(file).modifiedNs)));
}

// `quillet --paste-next` as sway starts it: a new process, waited for.
double commandMs() {
    const QByteArray program = QByteArrayLiteral(QUILLET_BIN);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--paste-next"),
                    nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? millis(Clock::now() - start) : -1;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int presses = quillet::bench::envCount("QUILLET_BENCH_PRESSES", 60);
    if (!haveCompositor()) {
        std::puts("skipped: needs a Wayland compositor; scripts/bench-wayland starts one");
        return 0;
    }
    Desktop desktop;
    const PasteNextBinding binding;
    KeyDriver keys;
    TargetWindow target(desktop);
    QuilletProcess quillet;
    if (!binding.bound() || !keys.ready() || !target.started() || !quillet.start()) {
        std::fprintf(stderr, "quillet_bench_sway_press: the session is not ready\n%s",
                     quillet.standardError().constData());
        return 1;
    }
    QString list;
    for (int i = 0; i < kListLines; ++i) {
        list += QStringLiteral("line %1 of the list, 中文\n").arg(i);
    }
    desktop.copy({list, {{QStringLiteral("text/plain;charset=utf-8"), list.toUtf8()}}});

    // One press: waits for its line and for the run to be saved.
    std::vector<double> upToLine, downToLine, downToSaved, command;
    const auto press = [&](bool measured, const std::function<bool()>& trigger) {
        const QString before = target.text();
        const auto savedBefore = savedAt(quillet.stateFile());
        const auto wall = std::chrono::system_clock::now();
        const auto steady = Clock::now();
        KeyDriver::Keystroke keystroke{steady, steady};
        if (trigger) {
            if (!trigger()) {
                return false;
            }
        } else {
            keystroke = keys.chord(kBindingKeys, kHold);
        }
        if (!waitUntil([&] { return target.text().size() > before.size(); }, kStepDeadline) ||
            !waitUntil([&] { return savedAt(quillet.stateFile()) != savedBefore; },
                       kStepDeadline)) {
            return false;
        }
        if (measured && !trigger) {
            const auto line = target.changedAt();
            const auto pressedWall =
                wall + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                           keystroke.pressed - steady);
            upToLine.push_back(millis(line - keystroke.released));
            downToLine.push_back(millis(line - keystroke.pressed));
            downToSaved.push_back(millis(savedAt(quillet.stateFile()) - pressedWall));
        }
        return true;
    };

    // The first press starts the run; the measured ones continue it, as most presses do.
    bool ok = press(false, {});
    for (int i = 0; ok && i < presses; ++i) {
        ok = press(true, {});
    }
    for (int i = 0; ok && i < std::min(presses, 30); ++i) {
        ok = press(false, [&] {
            const double ms = commandMs();
            command.push_back(ms);
            return ms >= 0;
        });
    }
    if (!ok) {
        std::fprintf(stderr, "quillet_bench_sway_press: a press did not arrive or was not saved\n");
    }

    std::printf("%d presses on headless sway, continuing a %d-line run, keys held %lld ms\n",
                presses, kListLines, static_cast<long long>(kHold.count()));
    quillet::bench::printTimesHeading();
    quillet::bench::printTimes("keys up -> line in the field (ms)", upToLine);
    quillet::bench::printTimes("keys down -> line in the field (ms)", downToLine);
    quillet::bench::printTimes("keys down -> run saved (ms)", downToSaved);
    quillet::bench::printTimes("quillet --paste-next, start -> exit (ms)", command);
    return ok && quillet.stop() == 0 ? 0 : 1;
}
