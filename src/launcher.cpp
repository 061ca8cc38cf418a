// The `quillet` command. A key binding runs `quillet --paste-next` for every
// press, so that path must start fast: this program links nothing but
// libdbus, hands the press to the running copy and exits. Loading the
// program proper (Qt, X11, Wayland) would take about 10 ms more per press.
// Everything else starts the program proper, quillet-tray, in this process.

#include "platform/bus_autolaunch.h"
#include "platform/command_bus.h"

#include <dbus/dbus.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

constexpr std::string_view kUsage =
    "Usage: quillet [--help] [--version] [--paste-next | --back | --skip | --restart | --status]\n"
    "\n"
    "Pastes a copied list one line per press of a global shortcut.\n"
    "Copy a block of text, switch to another application and press\n"
    "Control+Alt+Super+V once per field.\n"
    "Settings: $XDG_CONFIG_HOME/tarnwick/Quillet.conf (~/.config when unset)\n"
    "The current list: $XDG_STATE_HOME/tarnwick/Quillet.json (~/.local/state when unset)\n"
    "\n"
    "  --paste-next  hands one press to the running Quillet and exits. Bind it to a\n"
    "                key where the desktop lets no program take a shortcut (sway,\n"
    "                Hyprland), or in any desktop's own shortcut settings.\n"
    "  --back        the line before comes next again\n"
    "  --skip        passes over the next line without pasting it\n"
    "  --restart     the first line comes next\n"
    "  --status      prints where the list stands, e.g. \"3 of 12 · next: London\"\n";

constexpr std::pair<std::string_view, const char*> kCommands[] = {
    {"--paste-next", quillet::bus::kPasteNext},
    {"--back", quillet::bus::kBack},
    {"--skip", quillet::bus::kSkip},
    {"--restart", quillet::bus::kStartOver},
    {"--status", quillet::bus::kStatus},
};

struct ConnectionClose {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};

class Error {
public:
    Error() { dbus_error_init(&error_); }
    ~Error() { dbus_error_free(&error_); }
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    DBusError* get() { return &error_; }
    bool is(const char* name) const { return dbus_error_has_name(&error_, name) != 0; }
    const char* message() const { return error_.message != nullptr ? error_.message : "unknown"; }

private:
    DBusError error_;
};

// A command for the running copy, which needs no display: a key binding or a
// script runs these. Status prints the answer.
int callRunningCopy(const char* method) {
    if (!quillet::bus::preventAutolaunch()) {
        std::fputs(
            "quillet: cannot reach Quillet: there is no D-Bus session bus "
            "(DBUS_SESSION_BUS_ADDRESS is not set).\n",
            stderr);
        return 1;
    }
    Error error;
    const std::unique_ptr<DBusConnection, ConnectionClose> bus(
        dbus_bus_get_private(DBUS_BUS_SESSION, error.get()));
    if (!bus) {
        std::fprintf(stderr, "quillet: cannot reach Quillet: there is no D-Bus session bus (%s).\n",
                     error.message());
        return 1;
    }
    dbus_connection_set_exit_on_disconnect(bus.get(), FALSE);
    const std::unique_ptr<DBusMessage, MessageUnref> call(dbus_message_new_method_call(
        quillet::bus::kService, quillet::bus::kPath, quillet::bus::kInterface, method));
    // Answered before a press runs, Status within half a second; only a
    // stuck program takes this long.
    const std::unique_ptr<DBusMessage, MessageUnref> reply(
        call ? dbus_connection_send_with_reply_and_block(bus.get(), call.get(), 10000, error.get())
             : nullptr);
    if (reply) {
        const char* status = nullptr;
        if (dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_STRING, &status,
                                  DBUS_TYPE_INVALID) &&
            status != nullptr) {
            std::printf("%s\n", status);
        }
        return 0;
    }
    if (error.is(quillet::bus::kRefused)) {
        std::fprintf(stderr, "quillet: %s\n", error.message());
    } else if (error.is(DBUS_ERROR_SERVICE_UNKNOWN) || error.is(DBUS_ERROR_NAME_HAS_NO_OWNER)) {
        std::fputs("quillet: Quillet is not running; start it first (quillet &).\n", stderr);
    } else {
        std::fprintf(stderr, "quillet: cannot reach Quillet: %s.\n", error.message());
    }
    return 1;
}

// The program proper: next to this one in the build, in libexec when installed.
std::string programPath() {
    std::string self(PATH_MAX, '\0');
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
    self.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    const std::string folder = self.substr(0, self.rfind('/') + 1);
    for (const std::string& candidate :
         {folder + "quillet-tray", folder + "../" QUILLET_LIBEXEC "/quillet/quillet-tray"}) {
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version" || arg == "-v") {
            std::printf("Quillet %s\n", QUILLET_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
            return 0;
        }
        for (const auto& [option, method] : kCommands) {
            if (arg == option) {
                return callRunningCopy(method);
            }
        }
    }
    const std::string program = programPath();
    if (program.empty()) {
        std::fputs("quillet: quillet-tray is missing from this installation.\n", stderr);
        return 1;
    }
    // Same process, same arguments: to the desktop this is still `quillet`.
    std::vector<char*> arguments(argv, argv + argc);
    arguments.push_back(nullptr);
    execv(program.c_str(), arguments.data());
    std::fprintf(stderr, "quillet: cannot start %s: %s\n", program.c_str(), std::strerror(errno));
    return 1;
}
