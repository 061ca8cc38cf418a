#pragma once

#include <QString>
#include <QStringList>

namespace quillet {

enum class AlertStyle { Information, Warning };

struct AlertSpec {
    QString title;  // the bold line at the top
    QString text;   // the body below it
    AlertStyle style = AlertStyle::Information;
    QStringList buttons;  // in display order; the first is the default
    // Bring the program to the front and take the keyboard focus. Notices
    // leave both to the application the user is typing in.
    bool activate = false;
};

// Modal message boxes. UI thread only.
class Alerts {
public:
    virtual ~Alerts() = default;

    // Blocks in a modal loop until a button is pressed; returns its index.
    // Closing the box any other way answers the last button.
    virtual int exec(const AlertSpec& alert) = 0;
};

}  // namespace quillet
