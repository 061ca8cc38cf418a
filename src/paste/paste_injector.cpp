#include "paste/paste_injector.h"

#include "platform/main_queue.h"
#include "platform/paste_keystroke.h"

#include <thread>

namespace quillet {

namespace {

void sleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

}  // namespace

PasteInjector::PasteInjector(MainQueue& mainQueue, Clipboard& clipboard, PasteKeystroke& keystroke,
                             PasteTiming timing, Pause pause)
    : mainQueue_(mainQueue),
      clipboard_(clipboard),
      keystroke_(keystroke),
      timing_(timing),
      pause_(pause ? std::move(pause) : Pause(sleepFor)) {}

Delivery PasteInjector::paste(const QString& line,
                              const ClipboardContent& originalClipboardContent) {
    using Clock = std::chrono::steady_clock;

    if (!mainQueue_.runSync([&] { clipboard_.writeLine(line); })) {
        return Delivery::Interrupted;
    }
    pause_(timing_.beforeChord);

    // A chord posted while the user still holds the shortcut reaches the
    // target mixed with those keys and pastes nothing.
    keystroke_.waitForKeysReleased(timing_.keyReleaseDeadline);
    // Armed before posting: a target may ask within microseconds.
    clipboard_.arm();
    const bool posted = keystroke_.postPasteChord();
    const auto postedAt = Clock::now();

    FetchResult fetch = FetchResult::Unknown;
    if (posted) {
        fetch = clipboard_.waitForFetch(timing_.fetchDeadline);
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - postedAt);
    if (elapsed < timing_.afterChord) {
        pause_(timing_.afterChord - elapsed);
    }

    if (!mainQueue_.runSync([&] { clipboard_.restore(originalClipboardContent); })) {
        return Delivery::Interrupted;
    }
    pause_(timing_.afterRestore);

    if (!posted) {
        return Delivery::NoKeystroke;
    }
    return fetch == FetchResult::NotFetched ? Delivery::NotFetched : Delivery::Delivered;
}

}  // namespace quillet
