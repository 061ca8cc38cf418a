#pragma once

#include "platform/x11/connection.h"
#include "platform/x11/key_receipt.h"
#include "platform/x11/keymap.h"
#include "platform/paste_keystroke.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace quillet {

// Control+V through XTest, on a connection of its own (Xlib connections are
// not shared between threads; this one belongs to the paste worker). The
// connection is opened on first use, on the calling thread.
//
// Typing lends characters the layout lacks to spare keycodes (ones without
// any keysym). They get their empty mapping back once the application has
// read the keys typed with them; if it does not say so in time, they stay
// lent until the next typed line or the end of this object, so a program
// that is busy for any time still reads every character. A line that needs
// more such characters than there are spare keys waits for the application
// each time it needs the keys again, for a while, and takes them back then.
class PasteKeystrokeX11 final : public PasteKeystroke {
public:
    PasteKeystrokeX11() = default;
    ~PasteKeystrokeX11() override;

    bool available() override;
    bool waitForKeysReleased(std::chrono::milliseconds deadline) override;
    bool postPasteChord(PasteMethod method) override;
    bool postFollowKey(FollowKey key) override;
    bool typeText(const QString& text) override;

private:
    bool connect();
    void lend(const std::vector<std::pair<std::uint8_t, x11::Keysym>>& keys);
    // Gives the lent keys back once the application that got keys typed
    // with them has read them; at the deadline too when `always`. False when
    // it did not answer by then.
    bool giveBackAfterReceipt(std::chrono::steady_clock::time_point deadline, bool always);
    void giveBack();

    x11::DisplayPtr display_;
    std::unique_ptr<x11::KeyReceipts> receipts_;
    bool triedToConnect_ = false;
    bool hasXTest_ = false;
    std::vector<std::pair<std::uint8_t, x11::Keysym>> lent_;
    std::uint32_t lentTo_ = 0;  // the application the lent keys were typed into
};

}  // namespace quillet
