#pragma once

#include <QString>

namespace quillet {

// Short notices that never wait for the user: a press made while one is on
// screen acts at once. UI thread only.
class Notifications {
public:
    virtual ~Notifications() = default;

    // Returns at once. A newer notice replaces the one still shown.
    virtual void show(const QString& title, const QString& text, const QString& button) = 0;
};

}  // namespace quillet
