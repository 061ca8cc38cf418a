#pragma once

#include "wait.h"

#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <optional>

namespace quillet::bench {

using harness::Clock;

// Notes the moment each process's first window docks in the tray host (is
// reparented away from the root), as the events arrive while the event
// loop runs.
class TrayWatch {
public:
    TrayWatch();
    ~TrayWatch();
    TrayWatch(const TrayWatch&) = delete;
    TrayWatch& operator=(const TrayWatch&) = delete;

    std::optional<Clock::time_point> dockedAt(qint64 pid);
    // That window: the process's tray icon.
    std::optional<std::uint32_t> dockedWindow(qint64 pid);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillet::bench
