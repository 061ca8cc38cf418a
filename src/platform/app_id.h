#pragma once

namespace quillet {

// The name desktops know Quillet by: its menu entry, icon, AppStream data and
// autostart entry are named after it, and so is its D-Bus service.
inline constexpr char kAppId[] = "org.tarnwick.Quillet";

}  // namespace quillet
