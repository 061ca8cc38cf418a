#pragma once

#include "core/paste_method.h"
#include "paste/echo_gate.h"
#include "platform/clipboard.h"

#include <chrono>
#include <functional>

namespace quillet {

class ActiveWindow;
class PasteKeystroke;
class SettingsStore;

enum class Delivery {
    Delivered,         // the chord was posted and the line fetched (or we cannot tell)
    NotFetched,        // the chord was posted but no program asked for the line
    NoKeystroke,       // no keystroke could be posted at all
    ClipboardRefused,  // the line could not be put on the clipboard; no chord went out
    Interrupted,       // the program is shutting down; the clipboard may not be back
};

// Whether the cursor may move on after this delivery.
constexpr bool lineWasDelivered(Delivery delivery) {
    return delivery == Delivery::Delivered;
}

struct PasteResult {
    Delivery delivery = Delivery::Delivered;
    // What the clipboard held before is back (or nothing had to come back).
    bool putBack = true;
    friend bool operator==(const PasteResult&, const PasteResult&) = default;
};

struct PasteTiming {
    std::chrono::milliseconds afterChord{100};   // at least this long before restoring
    std::chrono::milliseconds afterRestore{50};  // the old content settles back
    std::chrono::milliseconds keyReleaseDeadline{2000};
    // A target that asks later than this gets what was put back instead:
    // the whole copy. Long enough for a machine under heavy load.
    std::chrono::milliseconds fetchDeadline{3000};
    // After a fetch, the line stays until nobody has asked for it this long:
    // LibreOffice reads it twice per paste, 100 ms apart.
    std::chrono::milliseconds refetchQuiet{150};
    // Where a chord may echo (PasteKeystroke::pressesEcho): how long a chord
    // waits for its fetch before an echo sends it again; the first pause
    // before a resend, doubling up to eight times as long; and how much longer
    // than fetchDeadline the user may go on holding the keys.
    std::chrono::milliseconds echoWait{250};
    std::chrono::milliseconds resendPause{50};
    std::chrono::milliseconds heldKeysGrace{3000};
    // There, presses closer than this while a chord is out are the desktop's
    // key repeat.
    std::chrono::milliseconds repeatGap{60};
};

// Delivers one line to the focused application: the line goes on the
// clipboard, the paste chord is posted, and what the clipboard held before
// is put back once the target has fetched the line. Applications without a
// clipboard paste key get the line typed instead. Runs on the paste worker.
class PasteInjector {
public:
    using Pause = std::function<void(std::chrono::milliseconds)>;

    PasteInjector(Clipboard& clipboard, PasteKeystroke& keystroke, ActiveWindow& activeWindow,
                  const SettingsStore& settings, PasteTiming timing = {}, Pause pause = {});

    // follow: the key sent once the line has arrived.
    PasteResult paste(const QString& line, const ClipboardContent& originalClipboardContent,
                      FollowKey follow = FollowKey::Nothing);
    // A field left empty: nothing is pasted, only the key after it is sent.
    Delivery skipField(FollowKey follow);

    // Where the press path hands each press of the paste first.
    EchoGate& echoes() { return echoes_; }

private:
    // Waits for the line to be fetched, posting the chord again each time
    // it echoed; chordAt follows the last chord.
    FetchResult fetchThroughEchoes(const std::function<bool()>& post,
                                   std::chrono::steady_clock::time_point& chordAt);

    Clipboard& clipboard_;
    PasteKeystroke& keystroke_;
    ActiveWindow& activeWindow_;
    const SettingsStore& settings_;
    const PasteTiming timing_;
    const Pause pause_;
    EchoGate echoes_{timing_.repeatGap};
};

}  // namespace quillet
