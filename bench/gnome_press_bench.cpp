// What a press costs the user on GNOME, end to end, to set beside sway's: a
// RemoteDesktop keyboard holds ⌃⌥⌘V for 20 ms, gsd-media-keys runs
// `quillet --paste-next` for GNOME's custom keybinding, the program pastes
// through mutter's RemoteDesktop API, and the line lands in a GTK 4 window.
// Per press: keys up -> line, keys down -> line.
//
// It presses keys, writes GNOME settings and takes over the clipboard: run it
// in the private session of tests/support/gnome_session.sh (scripts/bench-wayland
// does), not on your desktop.

#include "figures.h"
#include "gnome_desktop.h"
#include "kernel_figures.h"
#include "wayland_harness.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

using namespace quillet::gnometest;
using quillet::bench::millis;

constexpr int kListLines = 400;
constexpr auto kHold = 20ms;
constexpr auto kStepDeadline = 5s;

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int presses = quillet::bench::envCount("QUILLET_BENCH_PRESSES", 60);
    if (!qEnvironmentVariableIsSet("QUILLET_GNOME_SESSION")) {
        std::puts("skipped: needs headless GNOME; scripts/bench-wayland starts one");
        return 0;
    }
    RemoteDesktop user;
    GtkWindow target(user, 4);
    quillet::wlharness::QuilletProcess quillet;
    if (!user.ready() || !target.started() || !start(quillet)) {
        std::fprintf(stderr, "quillet_bench_gnome_press: the session is not ready\n%s",
                     quillet.standardError().constData());
        return 1;
    }
    QString list;
    for (int i = 0; i < kListLines; ++i) {
        list += QStringLiteral("line %1 of the list, 中文\n").arg(i);
    }
    user.copy({list, {{QStringLiteral("text/plain;charset=utf-8"), list.toUtf8()}}});

    std::vector<double> upToLine, downToLine;
    const auto press = [&](bool measured) {
        const auto before = target.text().size();
        const auto down = std::chrono::system_clock::now();
        for (const auto key : kShortcut) {
            user.keysym(key, true);
        }
        quillet::harness::runFor(kHold);
        const auto up = std::chrono::system_clock::now();
        for (auto key = kShortcut.rbegin(); key != kShortcut.rend(); ++key) {
            user.keysym(*key, false);
        }
        if (!waitUntil([&] { return target.text().size() > before; }, kStepDeadline)) {
            return false;
        }
        if (measured) {
            const std::chrono::system_clock::time_point line{
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::nanoseconds(
                        quillet::bench::fileStamp(target.textFile()).modifiedNs))};
            upToLine.push_back(millis(line - up));
            downToLine.push_back(millis(line - down));
        }
        return true;
    };
    // gsd-media-keys takes a new binding a moment after it is written.
    bool ok = press(false) || press(false) || press(false);
    for (int i = 0; ok && i < presses; ++i) {
        ok = press(true);
    }
    if (!ok) {
        std::fprintf(stderr, "quillet_bench_gnome_press: a press did not arrive\n%s",
                     quillet.standardError().constData());
    }

    std::printf("%d presses on headless GNOME Shell, continuing a %d-line run, keys held %lld ms\n",
                presses, kListLines, static_cast<long long>(kHold.count()));
    quillet::bench::printTimesHeading();
    quillet::bench::printTimes("keys up -> line in the field (ms)", upToLine);
    quillet::bench::printTimes("keys down -> line in the field (ms)", downToLine);
    return ok && quillet.stop() == 0 ? 0 : 1;
}
