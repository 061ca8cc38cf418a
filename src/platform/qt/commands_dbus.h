#pragma once

#include "platform/commands.h"

#include <QObject>

namespace quillet {

// Where commands arrive on the session bus: one method per command.
inline constexpr auto kDBusService = u"org.tarnwick.Quillet";
inline constexpr auto kDBusPath = u"/org/tarnwick/Quillet";
inline constexpr auto kDBusInterface = u"org.tarnwick.Quillet";

// The commands as methods of an object on the session bus. Calls are
// answered at once, before the command runs, on the UI thread.
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

// Hands a command to the running copy and waits for its answer. Needs no
// display. "" when it was taken, else why not, for the user.
QString sendCommand(Command command);

}  // namespace quillet
