#pragma once

#include "platform/autostart.h"

#include <QString>

namespace quillet {

// Start at login as a flag; while `problem` is set, changing it fails for that reason.
class FakeAutostart final : public Autostart {
public:
    bool enabled() const override { return enabled_; }
    QString setEnabled(bool enabled) override {
        if (problem.isEmpty()) {
            enabled_ = enabled;
        }
        return problem;
    }

    QString problem;

private:
    bool enabled_ = false;
};

}  // namespace quillet
