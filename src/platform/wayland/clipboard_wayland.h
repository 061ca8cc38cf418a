#pragma once

#include "core/handoff.h"
#include "platform/clipboard_rules.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quillet {

namespace wayland {
class Session;
class SelectionChannel;
}  // namespace wayland

// The clipboard through data-control, on the Wayland session's own
// connection and thread: no focused surface and no Qt event loop involved.
// Reads run on the calling thread (the paste worker), which takes the data
// in from pipes while the session's thread goes on answering the compositor.
// A line counts as fetched once its text went out whole to a reader.
class ClipboardWayland final : public Clipboard {
public:
    using Limits = clipboard::ReadLimits;

    explicit ClipboardWayland(std::shared_ptr<wayland::Session> session);
    ClipboardWayland(std::shared_ptr<wayland::Session> session, Limits limits);
    ~ClipboardWayland() override;
    ClipboardWayland(const ClipboardWayland&) = delete;
    ClipboardWayland& operator=(const ClipboardWayland&) = delete;

    // Whether the compositor lets a program without focus use the clipboard.
    static bool supported(const wayland::Session& session);

    ClipboardRead read() override;
    void cancelReads() override { cancelled_ = true; }
    bool quitting() const override { return cancelled_; }
    bool writeLine(const QString& line) override;
    bool restore(const ClipboardContent& content) override;

    void arm() override;
    FetchResult waitForFetch(std::chrono::milliseconds deadline) override;
    bool keepAfterQuit() override;

    // The keeper's part: serves the content until another program copies.
    // onServing runs once the clipboard is ours; the exit status.
    static int keep(const ClipboardContent& content, const std::function<void()>& onServing);

private:
    struct State {
        std::uint64_t lineSource = 0;  // what writeLine put on the clipboard
        bool lineLost = false;         // somebody else took the clipboard since
        clipboard::FetchWatch watch;
        // What we put back, for as long as no other program has taken the
        // clipboard since: reading it is then a copy in memory, not a
        // transfer from ourselves.
        std::optional<ClipboardContent> putBack;
        std::uint64_t putBackSource = 0;
    };

    // Session thread.
    void onSending(std::uint64_t source, const std::string& type);
    void onSent(std::uint64_t source, const std::string& type, bool whole);
    void onCancelled(std::uint64_t source);

    std::shared_ptr<wayland::Session> session_;
    const Limits limits_;
    std::unique_ptr<wayland::SelectionChannel> channel_;  // session thread only
    std::atomic<bool> cancelled_{false};
    QString line_;  // the paste worker's: the line last written
    Handoff<State> state_;
};

}  // namespace quillet
