#pragma once

// Without DBUS_SESSION_BUS_ADDRESS, libdbus (and GDBus) use the user's bus
// at $XDG_RUNTIME_DIR/bus, and where there is none they start a bus daemon
// of their own (X11 autolaunch through dbus-launch) that outlives the
// program. Plain POSIX, for the command-line client as well as the program.

#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace quillet::bus {

// The address to set where the variable is unset and there is no bus to
// find: no transport has this name, so nothing connects and nothing starts.
inline constexpr char kNoBusAddress[] = "disabled:";

// Before any D-Bus use, and before any thread starts (it sets the
// environment): leaves the search to the library where it finds a bus,
// else sets kNoBusAddress. False when there is no bus to reach.
inline bool preventAutolaunch() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return true;
    }
    // The same test the libraries make.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime != nullptr && *runtime == '/' &&
        ::stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode) &&
        info.st_uid == ::getuid()) {
        return true;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", kNoBusAddress, 1);
    return false;
}

}  // namespace quillet::bus
