#pragma once

#include "platform/x11/connection.h"
#include "platform/paste_keystroke.h"

namespace quillet {

// Control+V through XTest, on a connection of its own (Xlib connections are
// not shared between threads; this one belongs to the paste worker). The
// connection is opened on first use, on the calling thread.
class PasteKeystrokeX11 final : public PasteKeystroke {
public:
    bool available() override;
    bool waitForKeysReleased(std::chrono::milliseconds deadline) override;
    bool postPasteChord(PasteMethod method) override;
    bool postFollowKey(FollowKey key) override;
    bool typeText(const QString& text) override;

private:
    bool connect();

    x11::DisplayPtr display_;
    bool triedToConnect_ = false;
    bool hasXTest_ = false;
};

}  // namespace quillet
