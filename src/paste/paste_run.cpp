#include "paste/paste_run.h"

#include "core/lines.h"
#include "paste/paste_injector.h"
#include "platform/clipboard.h"
#include "platform/settings_store.h"

namespace quillet {

AppState loadState(const SettingsStore& settings) {
    const std::optional<QByteArray> stored = settings.data(QString::fromUtf16(kAppStateKey));
    if (!stored) {
        return {};
    }
    return decodeAppState(*stored).value_or(AppState{});
}

bool saveState(SettingsStore& settings, const AppState& state) {
    return settings.setData(QString::fromUtf16(kAppStateKey), encodeAppState(state));
}

AppState PasteRun::load() const {
    return unsaved_ ? *unsaved_ : loadState(settings_);
}

bool PasteRun::store(const AppState& state) {
    if (saveState(settings_, state)) {
        unsaved_.reset();
        return true;
    }
    unsaved_ = state;
    return false;
}

StepOutcome PasteRun::step() {
    const AppState stored = load();

    const ClipboardRead read = clipboard_.read();
    // Not an empty clipboard: the run stays as it is.
    if (read.status == ClipboardRead::Status::TooLarge) {
        return {StepResult::ClipboardTooLarge};
    }
    if (read.status == ClipboardRead::Status::NoAnswer) {
        return {StepResult::ClipboardNoAnswer};
    }
    const ClipboardContent& clipboard = read.content;
    const QString& text = clipboard.text;

    // Pastes one line; a line that did not arrive is offered again next time.
    const auto deliver = [&](const QStringList& lines, std::int64_t index,
                             const QString& source) -> StepOutcome {
        const Delivery delivery = injector_.paste(lines[static_cast<qsizetype>(index)], clipboard);
        if (delivery == Delivery::Interrupted) {
            return {StepResult::Interrupted};
        }
        const bool delivered = lineWasDelivered(delivery);
        const bool saved = store(AppState{lines, delivered ? index + 1 : index, source});
        const StepResult result = delivered                          ? StepResult::Pasted
                                  : delivery == Delivery::NotFetched ? StepResult::NotFetched
                                                                     : StepResult::NoKeystroke;
        return {result, !saved};
    };

    if (stored.lines.isEmpty() || !isSameText(text, stored.sourceClipboardContent)) {
        const QStringList lines = buildLines(text);
        if (lines.isEmpty()) {
            return {StepResult::ClipboardEmpty, !store(AppState{{}, 0, text})};
        }
        return deliver(lines, 0, text);
    }
    if (stored.currentIndex < stored.lines.size()) {
        return deliver(stored.lines, stored.currentIndex, stored.sourceClipboardContent);
    }
    return {StepResult::AllPasted, !store(AppState{})};
}

}  // namespace quillet
