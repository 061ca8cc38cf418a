#pragma once

#include "core/texts.h"
#include "paste/paste_run.h"
#include "platform/state_file.h"

#include <atomic>
#include <functional>
#include <optional>

namespace quillet {

class LanguageChoice;
class MainQueue;
class Notifications;

// What the user is told after a press; none for a line pasted.
std::optional<Text> noticeFor(StepResult result);

// Tells the user outcomes in notices titled with the program's name, which
// nobody has to close before the next press. Each is worded in the language
// chosen when it is shown.
class Notices {
public:
    Notices(MainQueue& mainQueue, Notifications& notifications, const LanguageChoice& language)
        : mainQueue_(mainQueue), notifications_(notifications), language_(language) {}

    // Any thread; returns before the notice is shown.
    void tell(const Text& message);
    // The message, then on a line of its own what the system said.
    void tell(const Text& message, const QString& detail);
    // A message worded when it shows, from parts in that language.
    void tell(std::function<QString(Language)> message);
    // The notices a press calls for; that the run cannot be saved, and each
    // reason the state file is left alone, are told once.
    void tell(const StepOutcome& outcome, StateRefusal refusal);
    // Why the run is not saved, once for each reason; None when the file
    // just could not be written.
    void tell(StateRefusal refusal);

    // From now on nothing is shown: the program is quitting.
    void mute() { muted_ = true; }

private:
    MainQueue& mainQueue_;
    Notifications& notifications_;
    const LanguageChoice& language_;
    std::atomic<bool> muted_ = false;
    std::atomic<unsigned> savingTold_ = 0;  // a bit for each StateRefusal, None for unsaved
};

}  // namespace quillet
