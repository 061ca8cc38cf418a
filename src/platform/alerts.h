#pragma once

#include <QString>
#include <QStringList>

namespace quillet {

enum class AlertStyle { Informational = 1, Critical = 2 };

struct AlertSpec {
    QString message;      // the title line
    QString informative;  // the body below it
    AlertStyle style = AlertStyle::Informational;
    QStringList buttons;  // in display order; the first is the default
    // Bring the program to the front and take the keyboard focus. Notices
    // leave both to the application the user is typing in.
    bool activate = false;
};

// The response of the first button; the n-th button answers this + n.
inline constexpr int kFirstButtonResponse = 1000;

// Modal alerts. Main thread only.
class Alerts {
public:
    virtual ~Alerts() = default;

    // Blocks in a modal loop until a button is pressed; returns its response.
    // Closing the alert any other way answers the last button.
    virtual int runModal(const AlertSpec& alert) = 0;
};

}  // namespace quillet
