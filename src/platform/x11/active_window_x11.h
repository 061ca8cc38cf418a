#pragma once

#include "platform/active_window.h"
#include "platform/x11/connection.h"

namespace quillet {

// The window class (WM_CLASS) of the focused application: the window the
// window manager names active, else the one holding the input focus, or the
// nearest of its ancestors that carries a class. On a connection of its own,
// opened on first use by the calling thread.
class ActiveWindowX11 final : public ActiveWindow {
public:
    QString appId() override;

private:
    x11::XcbConnection connection_;
    std::uint32_t activeAtom_ = 0;
};

}  // namespace quillet
