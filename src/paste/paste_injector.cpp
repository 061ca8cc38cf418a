#include "paste/paste_injector.h"

#include "platform/active_window.h"
#include "platform/paste_keystroke.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <thread>

namespace quillet {

namespace {

void sleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

}  // namespace

PasteInjector::PasteInjector(Clipboard& clipboard, PasteKeystroke& keystroke,
                             ActiveWindow& activeWindow, const SettingsStore& settings,
                             PasteTiming timing, Pause pause)
    : clipboard_(clipboard),
      keystroke_(keystroke),
      activeWindow_(activeWindow),
      settings_(settings),
      timing_(timing),
      pause_(pause ? std::move(pause) : Pause(sleepFor)) {}

Delivery PasteInjector::skipField(FollowKey follow) {
    if (follow == FollowKey::Nothing) {
        return Delivery::Delivered;
    }
    // Held shortcut keys would turn Tab into another shortcut.
    keystroke_.waitForKeysReleased(timing_.keyReleaseDeadline);
    return keystroke_.postFollowKey(follow) ? Delivery::Delivered : Delivery::NoKeystroke;
}

FetchResult PasteInjector::fetchThroughEchoes(const std::function<bool()>& post,
                                              std::chrono::steady_clock::time_point& chordAt) {
    using Clock = std::chrono::steady_clock;
    const auto first = chordAt;
    auto pause = timing_.resendPause;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            timing_.fetchDeadline - (Clock::now() - chordAt));
        const FetchResult fetch = clipboard_.waitForFetch(
            std::clamp(left, std::chrono::milliseconds{0}, timing_.echoWait));
        if (fetch != FetchResult::NotFetched) {
            return fetch;
        }
        if (echoes_.echoed()) {
            // The keys are still held: the chord was the shortcut again.
            if (Clock::now() - first >= timing_.fetchDeadline + timing_.heldKeysGrace) {
                return FetchResult::NotFetched;
            }
            pause_(pause);
            pause = std::min(pause * 2, timing_.resendPause * 8);
            clipboard_.arm();
            if (!post()) {
                return FetchResult::NotFetched;
            }
            chordAt = Clock::now();
        } else if (left <= timing_.echoWait) {
            return FetchResult::NotFetched;
        } else {
            // No echo, no fetch yet: a slow target, waited for on.
            clipboard_.arm();
        }
    }
}

PasteResult PasteInjector::paste(const QString& line,
                                 const ClipboardContent& originalClipboardContent,
                                 FollowKey follow) {
    using Clock = std::chrono::steady_clock;

    const auto appList = [this](const char16_t* key) {
        return settings_.string(QString::fromUtf16(key))
            .value_or(QString())
            .split(u',', Qt::SkipEmptyParts);
    };
    const PasteMethod method = pasteMethodFor(
        activeWindow_.appId(),
        {appList(kControlShiftVAppsKey), appList(kTypingAppsKey), appList(kShiftInsertAppsKey)});
    const auto followed = [&](Delivery delivery) {
        // Only after a line that arrived: a Tab after nothing would skip a field.
        if (delivery == Delivery::Delivered && follow != FollowKey::Nothing) {
            keystroke_.postFollowKey(follow);
        }
        return delivery;
    };
    if (method == PasteMethod::Typing) {
        // No clipboard to go through: the keys are the line.
        keystroke_.waitForKeysReleased(timing_.keyReleaseDeadline);
        return {followed(keystroke_.typeText(line) ? Delivery::Delivered : Delivery::NoKeystroke)};
    }

    if (!clipboard_.writeLine(line)) {
        // The clipboard still holds what it held: nothing to put back.
        return {clipboard_.quitting() ? Delivery::Interrupted : Delivery::ClipboardRefused};
    }
    pause_(clipboard_.settleTime());

    // A chord posted while the user still holds the shortcut reaches the
    // target mixed with those keys and pastes nothing.
    keystroke_.waitForKeysReleased(timing_.keyReleaseDeadline);
    const bool echoes = keystroke_.pressesEcho();
    const auto post = [&] {
        if (echoes) {
            echoes_.chordOut();
        }
        return keystroke_.postPasteChord(method);
    };
    // Armed before posting: a target may ask within microseconds.
    clipboard_.arm();
    const bool posted = post();
    auto postedAt = Clock::now();

    FetchResult fetch = FetchResult::Unknown;
    if (posted) {
        fetch = echoes ? fetchThroughEchoes(post, postedAt)
                       : clipboard_.waitForFetch(timing_.fetchDeadline);
        // Fetched: the keys were free, so every press from now on is the user's.
        echoes_.close();
        for (FetchResult again = fetch;
             again == FetchResult::Fetched && Clock::now() - postedAt < timing_.fetchDeadline;) {
            clipboard_.arm();
            again = clipboard_.waitForFetch(timing_.refetchQuiet);
        }
    }
    echoes_.close();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - postedAt);
    if (elapsed < timing_.afterChord) {
        pause_(timing_.afterChord - elapsed);
    }

    const bool putBack = clipboard_.restore(originalClipboardContent);
    if (!putBack && clipboard_.quitting()) {
        return {Delivery::Interrupted, false};
    }
    pause_(timing_.afterRestore);

    if (!posted) {
        return {Delivery::NoKeystroke, putBack};
    }
    // Sent once the line was taken and the clipboard is back: the key moves
    // the focus on only after the target has the line.
    return {followed(fetch == FetchResult::NotFetched ? Delivery::NotFetched : Delivery::Delivered),
            putBack};
}

}  // namespace quillet
