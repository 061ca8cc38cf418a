#pragma once

#include "platform/commands.h"

#include <QObject>

namespace quillet {

// The commands as methods of an object on the session bus (the names are in
// platform/command_bus.h). Calls are answered at once, before the command
// runs, on the UI thread.
class CommandsDBus final : public QObject, public Commands {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarnwick.Quillet")

public:
    ~CommandsDBus() override;

    void setHandler(std::function<void(Command)> onCommand) override;
    QString listen() override;

public Q_SLOTS:
    Q_SCRIPTABLE void PasteNext();

private:
    std::function<void(Command)> onCommand_;
    bool listening_ = false;
};

}  // namespace quillet
