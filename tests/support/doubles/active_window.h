#pragma once

#include "doubles/guarded.h"
#include "platform/active_window.h"

#include <QString>

namespace quillet {

// The focused application is whatever the test says.
class FixedActiveWindow final : public ActiveWindow, private Guarded {
public:
    QString appId() override { return locked(appId_); }
    void set(const QString& appId) { assign(appId_, appId); }

private:
    QString appId_;
};

}  // namespace quillet
