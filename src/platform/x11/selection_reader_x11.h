#pragma once

#include "platform/clipboard_rules.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

struct xcb_connection_t;

namespace quillet {

// Reads the CLIPBOARD selection on an xcb connection of its own, so that a
// big or slow transfer holds only the calling thread, never the UI thread.
// One caller at a time; the connection is opened on first use and opened
// again after it broke.
class SelectionReaderX11 {
public:
    using Limits = clipboard::ReadLimits;

    SelectionReaderX11();
    explicit SelectionReaderX11(Limits limits);
    ~SelectionReaderX11();
    SelectionReaderX11(const SelectionReaderX11&) = delete;
    SelectionReaderX11& operator=(const SelectionReaderX11&) = delete;

    ClipboardRead read();
    // Any thread: ends a read in progress, and every later one, with NoAnswer.
    void cancel() { cancelled_ = true; }

private:
    struct Session;

    Limits limits_;
    std::atomic<bool> cancelled_{false};
    std::unique_ptr<Session> session_;
};

}  // namespace quillet
