#pragma once

#include "platform/clipboard.h"
#include "platform/x11/selection_owner_x11.h"
#include "platform/x11/selection_reader_x11.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace quillet {

// The CLIPBOARD selection through connections of our own, never Qt's: an
// owner that serves the line and what is put back from a thread of its own,
// and a reader for what other programs copied. What we put back is read from
// memory for as long as the clipboard is still ours with it. A line counts as
// fetched once its text has gone out whole; one still unfetched at the
// deadline is refused to every later request, since its place is kept and
// pasting it late would paste it twice.
class ClipboardX11 final : public Clipboard {
public:
    ClipboardX11();
    explicit ClipboardX11(SelectionOwnerX11::Limits limits);
    ~ClipboardX11() override;
    ClipboardX11(const ClipboardX11&) = delete;
    ClipboardX11& operator=(const ClipboardX11&) = delete;

    ClipboardRead read() override;
    void cancelReads() override;
    bool quitting() const override { return cancelled_; }
    bool writeLine(const QString& line) override;
    bool restore(const ClipboardContent& content) override;

    // Other clients hear of the new owner through the server, and a
    // clipboard manager may grab it back in between: give them a moment.
    std::chrono::milliseconds settleTime() const override { return std::chrono::milliseconds{50}; }
    void arm() override;
    FetchResult waitForFetch(std::chrono::milliseconds deadline) override;
    bool keepAfterQuit() override;

    // The keeper's part: serves the content until another client copies.
    // onServing runs once the clipboard is ours; the exit status.
    static int keep(const ClipboardContent& content, const std::function<void()>& onServing);

private:
    SelectionOwnerX11 owner_;
    SelectionReaderX11 reader_;  // the paste worker's
    std::atomic<bool> cancelled_{false};
    QString line_;                 // the paste worker's: the line last written
    std::uint64_t lineClaim_ = 0;  // the paste worker's

    std::mutex mutex_;  // the worker puts back, the UI thread hands over at the end
    std::optional<ClipboardContent> putBack_;
    std::uint64_t putBackClaim_ = 0;
    SelectionTargets putBackTargets_;  // made once for a copy put back again and again
};

}  // namespace quillet
