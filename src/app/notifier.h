#pragma once

#include "app/localized_strings.h"

#include <QString>

#include <atomic>

namespace quillet {

class Alerts;
class MainQueue;

// The program's display name, the title of every notice.
inline constexpr auto kDisplayName = u"Quillet";

// Outcomes are told to the user as modal notices with one button, shown one
// after the other on the main queue.
class Notifier {
public:
    Notifier(MainQueue& mainQueue, Alerts& alerts, LocalizedStrings strings)
        : mainQueue_(&mainQueue), alerts_(&alerts), strings_(strings) {}

    // Any thread; returns before the notice is shown. The caller picks the
    // language of the texts; the button's label is picked when it is shown.
    void showNotification(const QString& title, const QString& message) const;

    // A notice titled with the display name, its message picked when the
    // notice is built on the main queue.
    void notify(QStringView english, QStringView chinese) const;

    // From now on nothing is shown: the program is quitting.
    void mute() { muted_ = true; }

private:
    // Main queue only.
    void show(const QString& title, const QString& message) const;

    MainQueue* mainQueue_;
    Alerts* alerts_;
    LocalizedStrings strings_;
    std::atomic<bool> muted_ = false;
};

}  // namespace quillet
