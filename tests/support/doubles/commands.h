#pragma once

#include "doubles/guarded.h"
#include "platform/commands.h"

#include <QStringList>

#include <functional>
#include <mutex>

namespace quillet {

// Commands another process sends, as the test sends them.
class FakeCommands final : public Commands, private Guarded {
public:
    void setHandler(std::function<QString(Command)> onCommand) override {
        onCommand_ = std::move(onCommand);
    }
    void setStatusHandler(
        std::function<void(std::function<void(const QString&)> answer)> onStatus) override {
        onStatus_ = std::move(onStatus);
    }
    QString listen() override {
        listening_ = problem.isEmpty();
        return problem;
    }
    // Why the command was refused; "" when it was taken.
    QString send(Command command) const {
        return listening_ && onCommand_ ? onCommand_(command) : QString();
    }
    // Asks where the run stands; answers land in answers, from any thread.
    void askStatus() {
        if (listening_ && onStatus_) {
            onStatus_([this](const QString& status) {
                const std::lock_guard lock(mutex_);
                answers_.append(status);
            });
        }
    }
    QStringList answers() const { return locked(answers_); }

    QString problem;  // why listen() fails; "" when it works

private:
    std::function<QString(Command)> onCommand_;
    std::function<void(std::function<void(const QString&)>)> onStatus_;
    QStringList answers_;
    bool listening_ = false;
};

}  // namespace quillet
