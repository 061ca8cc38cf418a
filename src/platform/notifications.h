#pragma once

#include <QString>

namespace quillet {

// Short notices that never wait for the user: a press made while one is on
// screen acts at once, and each closes by itself. UI thread only.
class Notifications {
public:
    virtual ~Notifications() = default;

    // Returns at once. A newer notice replaces the one still shown.
    virtual void show(const QString& title, const QString& text) = 0;
};

}  // namespace quillet
