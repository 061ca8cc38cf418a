#pragma once

#include <QString>

namespace quillet {

// Which application has the keyboard focus, as the paste method table names
// applications: the window class on X11, the app id on Wayland. Asked from
// the paste worker.
class ActiveWindow {
public:
    virtual ~ActiveWindow() = default;

    // "" when it cannot be told.
    virtual QString appId() = 0;
};

}  // namespace quillet
