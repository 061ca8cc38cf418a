#pragma once

// The headless sway session of the test script: whether it is there, its
// commands and its key bindings, and commands run in it.

#include "wait.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace quillet::wlharness {

using harness::Clock;
using namespace std::chrono_literals;

// Whether a headless sway answers on $WAYLAND_DISPLAY: a session of the
// test script's. The tests bind keys and take the clipboard; they leave a
// desktop with a screen alone. $DISPLAY names its Xwayland.
bool haveCompositor();

#define QUILLET_REQUIRE_COMPOSITOR()                                                      \
    do {                                                                                  \
        if (!::quillet::wlharness::haveCompositor()) {                                    \
            GTEST_SKIP() << "needs a headless sway ($WAYLAND_DISPLAY), see scripts/test"; \
        }                                                                                 \
    } while (false)

using harness::waitUntil;

// Runs a command of sway's (swaymsg); false when sway refused it.
bool sway(const QString& command);

// The combination the tests bind, as sway spells it and as keysym names.
inline constexpr auto kBinding = "Ctrl+Mod1+Mod4+v";
inline const std::vector<std::string> kBindingKeys{"Control_L", "Alt_L", "Super_L", "v"};

// Binds kBinding to `quillet --paste-next` for as long as it lives.
class PasteNextBinding {
public:
    PasteNextBinding();
    ~PasteNextBinding();
    PasteNextBinding(const PasteNextBinding&) = delete;
    PasteNextBinding& operator=(const PasteNextBinding&) = delete;
    bool bound() const { return bound_; }

private:
    bool bound_ = false;
};

// Runs the program as a command line does; its exit code and what it said.
struct Ran {
    int exitCode = -1;
    QByteArray output;
};
Ran runCommand(const QString& program, const QStringList& arguments,
               const QStringList& environment = {});
// This process's environment (or `env`) with these "NAME=value" entries besides.
QProcessEnvironment environmentWith(
    const QStringList& entries, QProcessEnvironment env = QProcessEnvironment::systemEnvironment());

}  // namespace quillet::wlharness
