#pragma once

#include <QString>

#include <functional>

namespace quillet {

// What other processes ask of the running copy: `quillet --paste-next` run
// by a desktop's own shortcut settings, a script, a D-Bus call.
enum class Command {
    PasteNext,  // one press of the shortcut
};

// Where those commands arrive. UI thread only.
class Commands {
public:
    virtual ~Commands() = default;

    // Called on the UI thread once per command received.
    virtual void setHandler(std::function<void(Command)> onCommand) = 0;

    // Starts taking commands: "" when it does, else why not, for the console.
    virtual QString listen() = 0;
};

}  // namespace quillet
