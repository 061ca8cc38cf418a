#pragma once

#include "platform/alerts.h"

namespace quillet {

// Alerts as QMessageBox, buttons in the order given.
class AlertsQt final : public Alerts {
public:
    int exec(const AlertSpec& alert) override;
};

}  // namespace quillet
