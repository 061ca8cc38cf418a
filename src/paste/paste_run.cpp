#include "paste/paste_run.h"

#include "core/cells.h"
#include "core/lines.h"
#include "paste/paste_injector.h"
#include "platform/clipboard.h"
#include "platform/settings_store.h"

namespace quillet {

StepOutcome PasteRun::deliver(AppState next, const ClipboardRead& clipboard, bool newRun) {
    const auto at = static_cast<qsizetype>(next.currentIndex);
    const QString& line = next.lines[at];
    const FollowKey follow =
        keyAfter(next, at, followKeyFor(settings_.string(QString::fromUtf16(kAfterEachLineKey))));
    // An empty cell keeps its field: the key alone moves past it.
    const PasteResult pasted = line.isEmpty() ? PasteResult{injector_.skipField(follow)}
                                              : injector_.paste(line, clipboard.content, follow);
    const Delivery delivery = pasted.delivery;
    if (delivery == Delivery::Interrupted) {
        return {StepResult::Interrupted};
    }
    // A line that did not arrive is offered again by the next press.
    const bool delivered = lineWasDelivered(delivery);
    next.currentIndex += delivered ? 1 : 0;
    const bool saved = newRun ? store_.save(next) : store_.saveIndex(next);
    run_ = std::move(next);
    const StepResult result = delivered                          ? StepResult::Pasted
                              : delivery == Delivery::NotFetched ? StepResult::NotFetched
                              : delivery == Delivery::ClipboardRefused
                                  ? StepResult::ClipboardRefused
                                  : StepResult::NoKeystroke;
    // Only what the line replaced needs to come back.
    const PutBack putBack = delivery == Delivery::ClipboardRefused ? PutBack::Whole
                            : !pasted.putBack                      ? PutBack::Lost
                            : clipboard.partial                    ? PutBack::Partial
                                                                   : PutBack::Whole;
    return {result, !saved, putBack};
}

bool PasteRun::cellsWanted() const {
    return pastesCells(settings_.string(QString::fromUtf16(kPasteCellsKey)));
}

const AppState& PasteRun::run() {
    if (!run_) {
        run_ = store_.load();
    }
    return *run_;
}

StepOutcome PasteRun::store(AppState next) {
    const bool changed = next.currentIndex != run_->currentIndex;
    run_ = std::move(next);
    return {StepResult::Moved, changed && !store_.saveIndex(*run_)};
}

StepOutcome PasteRun::move(RunMove move) {
    return store(moved(run(), move));
}

StepOutcome PasteRun::moveTo(std::int64_t index) {
    return store(movedTo(run(), index));
}

StepOutcome PasteRun::remake() {
    run();
    if (run_->lines.isEmpty()) {
        return {StepResult::Moved};
    }
    run_ = newRun(run_->sourceClipboardContent, cellsWanted());
    return {StepResult::Moved, !store_.save(*run_)};
}

StepOutcome PasteRun::step() {
    run();
    const ClipboardRead read = clipboard_.read();
    // Not an empty clipboard: the run stays as it is.
    if (read.status == ClipboardRead::Status::TooLarge) {
        return {StepResult::ClipboardTooLarge};
    }
    if (read.status == ClipboardRead::Status::NoAnswer) {
        return {StepResult::ClipboardNoAnswer};
    }
    const QString& text = read.content.text;

    const bool cells = cellsWanted();
    if (run_->lines.isEmpty() || !isSameText(text, run_->sourceClipboardContent) ||
        isCellRun(*run_) != cells) {
        AppState fresh = newRun(text, cells);
        if (fresh.lines.isEmpty()) {
            run_ = AppState{{}, 0, text};
            return {StepResult::ClipboardEmpty, !store_.save(*run_)};
        }
        return deliver(std::move(fresh), read, true);
    }
    if (run_->currentIndex < run_->lines.size()) {
        AppState next = *run_;
        // One copy of the text in memory: the clipboard's, equal to the run's.
        next.sourceClipboardContent = text;
        return deliver(std::move(next), read, false);
    }
    run_ = AppState{};
    return {StepResult::AllPasted, !store_.save(*run_)};
}

}  // namespace quillet
