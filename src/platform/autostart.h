#pragma once

#include <QString>

namespace quillet {

// Whether the desktop starts Quillet when the user logs in. UI thread.
class Autostart {
public:
    virtual ~Autostart() = default;

    virtual bool enabled() const = 0;
    // Turns it on or off; why that failed, or "" when it worked.
    virtual QString setEnabled(bool enabled) = 0;
};

}  // namespace quillet
