#pragma once

#include "platform/active_window.h"

#include <memory>
#include <mutex>

namespace quillet {

namespace wayland {
class Session;
class Toplevels;
}  // namespace wayland

// The app id of the activated toplevel, as the compositor lists toplevels to
// panels and docks (zwlr_foreign_toplevel_manager_v1). The list is kept up to
// date on the Wayland session's thread; asking is a look-up. "" where the
// compositor does not offer the list.
class ActiveWindowWayland final : public ActiveWindow {
public:
    explicit ActiveWindowWayland(std::shared_ptr<wayland::Session> session);
    ~ActiveWindowWayland() override;
    ActiveWindowWayland(const ActiveWindowWayland&) = delete;
    ActiveWindowWayland& operator=(const ActiveWindowWayland&) = delete;

    QString appId() override;

private:
    std::shared_ptr<wayland::Session> session_;
    std::unique_ptr<wayland::Toplevels> toplevels_;  // session thread only
    std::mutex mutex_;
    QString active_;  // the activated toplevel's app id
};

}  // namespace quillet
