#pragma once

#include "platform/commands.h"

#include <QDBusContext>
#include <QObject>

namespace quillet {

// The commands as methods of an object on the session bus (the names are in
// platform/command_bus.h). Calls are answered at once, before the command
// runs, on the UI thread: with an error when it is refused.
class CommandsDBus final : public QObject, public Commands, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarnwick.Quillet")

public:
    ~CommandsDBus() override;

    void setHandler(std::function<QString(Command)> onCommand) override;
    void setStatusHandler(
        std::function<void(std::function<void(const QString&)> answer)> onStatus) override;
    QString listen() override;

public Q_SLOTS:
    Q_SCRIPTABLE void PasteNext() { run(Command::PasteNext); }
    Q_SCRIPTABLE void Back() { run(Command::Back); }
    Q_SCRIPTABLE void Skip() { run(Command::Skip); }
    Q_SCRIPTABLE void Restart() { run(Command::StartOver); }  // bus::kStartOver
    Q_SCRIPTABLE QString Status();

private:
    void run(Command command);

    std::function<QString(Command)> onCommand_;
    std::function<void(std::function<void(const QString&)>)> onStatus_;
    bool listening_ = false;
};

}  // namespace quillet
