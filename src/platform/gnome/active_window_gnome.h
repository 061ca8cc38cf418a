#pragma once

#include "platform/active_window.h"

namespace quillet {

// Mutter tells no program which window has the focus (it offers no
// foreign-toplevel list): the paste method table's per-application rows do
// not apply on GNOME.
class ActiveWindowGnome final : public ActiveWindow {
public:
    QString appId() override { return {}; }
};

}  // namespace quillet
