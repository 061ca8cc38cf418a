#include "app/notices.h"

#include "app/language.h"
#include "platform/main_queue.h"
#include "platform/notifications.h"

namespace quillet {

std::optional<Text> noticeFor(StepResult result) {
    switch (result) {
        case StepResult::AllPasted:
            return text::kAllPasted;
        case StepResult::ClipboardEmpty:
            return text::kClipboardEmpty;
        case StepResult::NoKeystroke:
            return text::kNoKeystroke;
        case StepResult::ClipboardNoAnswer:
            return text::kClipboardNoAnswer;
        case StepResult::ClipboardTooLarge:
            return text::kClipboardTooLarge;
        case StepResult::NotFetched:
            return text::kNotFetched;
        case StepResult::ClipboardRefused:
            return text::kClipboardRefused;
        case StepResult::Pasted:
        case StepResult::Interrupted:
        case StepResult::Moved:
            break;
    }
    return std::nullopt;
}

void Notices::tell(const Text& message) {
    tell(message, {});
}

void Notices::tell(const Text& message, const QString& detail) {
    tell([message, detail](Language language) {
        return detail.isEmpty() ? message.in(language) : message.in(language) + u'\n' + detail;
    });
}

void Notices::tell(std::function<QString(Language)> message) {
    mainQueue_.post([this, message = std::move(message)] {
        if (muted_) {
            return;
        }
        const Language language = language_.current();
        notifications_.show(QString::fromUtf16(kDisplayName), message(language));
    });
}

void Notices::tell(StateRefusal refusal) {
    const unsigned bit = 1U << static_cast<unsigned>(refusal);
    if ((savingTold_.fetch_or(bit) & bit) != 0) {
        return;
    }
    switch (refusal) {
        case StateRefusal::None:
            tell(text::kCannotSave);
            break;
        case StateRefusal::NotAFile:
            tell(text::kStateNotAFile);
            break;
        case StateRefusal::TooLarge:
            tell(text::kStateTooLarge);
            break;
        case StateRefusal::SharedFolder:
            tell(text::kStateFolderShared);
            break;
        case StateRefusal::NoLock:
            tell(text::kNoLock);
            break;
    }
}

void Notices::tell(const StepOutcome& outcome, StateRefusal refusal) {
    // A refusal says why the run is not saved, which is all there is to say.
    if (refusal != StateRefusal::None || outcome.unsaved) {
        tell(refusal);
    }
    if (const auto message = noticeFor(outcome.result)) {
        tell(*message);
    }
    if (outcome.putBack != PutBack::Whole) {
        tell(outcome.putBack == PutBack::Partial ? text::kPutBackPartial : text::kPutBackLost);
    }
}

}  // namespace quillet
