#pragma once

#include "core/shortcut_action.h"

#include <QString>

#include <functional>

namespace quillet {

// What other processes ask of the running copy: `quillet --paste-next` run
// by a desktop's own shortcut settings, a script, a D-Bus call. The same
// actions the shortcuts stand for, handled alike.
using Command = ShortcutAction;

// Where those commands arrive. UI thread only.
class Commands {
public:
    virtual ~Commands() = default;

    // Called on the UI thread once per command received. It answers "" when
    // the command is taken, else why it cannot be carried out now, which the
    // asking process is told.
    virtual void setHandler(std::function<QString(Command)> onCommand) = 0;

    // Called on the UI thread when asked where the run stands. The handler
    // calls answer once, from any thread, and soon.
    virtual void setStatusHandler(
        std::function<void(std::function<void(const QString&)> answer)> onStatus) = 0;

    // Starts taking commands: "" when it does, else why not, for the console.
    virtual QString listen() = 0;
};

}  // namespace quillet
