#include "platform/x11/paste_keystroke_x11.h"

#include "platform/xkb/chord.h"
#include "platform/xkb/keymap.h"

#include <QString>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillet {

namespace {

using Clock = std::chrono::steady_clock;

// Longest a chord waits for the keys somebody holds, after the first wait.
constexpr auto kHeldKeysDeadline = std::chrono::seconds(2);

// How long an application that got typed keys has to say it read them,
// before the keys lent for them stay lent (at the end of a line) or are taken
// back anyway (when a line needs them again).
constexpr auto kReceiptDeadline = std::chrono::seconds(3);

// Where nothing can answer: about what an idle application takes.
constexpr auto kUnansweredPause = std::chrono::milliseconds(100);

// Typed chords between two round trips: so little of ours waits at the
// server that a chord's write never stops halfway.
constexpr int kChordsPerRoundTrip = 32;

bool isDown(const std::array<char, 32>& keys, ::KeyCode code) {
    return (keys[code / 8] >> (code % 8) & 1) != 0;
}

// Keys held right now that would mix into the chord: every modifier key and
// every other key pressed at all.
std::vector<::KeyCode> heldKeys(Display* display) {
    std::array<char, 32> keys{};
    XQueryKeymap(display, keys.data());
    std::vector<::KeyCode> held;
    for (int code = 8; code < 256; ++code) {
        if (isDown(keys, static_cast<::KeyCode>(code))) {
            held.push_back(static_cast<::KeyCode>(code));
        }
    }
    return held;
}

// Queues one chord: `release` first (keys still held), then the chord. A
// server grab around it keeps another client's keys from coming in between
// (somebody letting go of the same Control would leave a bare "v"). The
// caller sends each chord in a write of its own: as grab, keys and ungrab
// then reach the server together, no other client waits longer than the
// chord, even when this process stops right after, and the server turns to
// the others between two chords. Whether every key went down: a key the
// keymap lacks (code 0) or one the server refused ends the chord there.
bool queueChord(Display* display, const std::vector<::KeyCode>& release, const xkb::Chord& chord) {
    XGrabServer(display);
    for (const ::KeyCode code : release) {
        XTestFakeKeyEvent(display, code, False, CurrentTime);
    }
    const bool whole = chord.play([display](xkb::KeyStroke stroke) {
        return stroke.key != 0 &&
               XTestFakeKeyEvent(display, stroke.key, stroke.down ? True : False, CurrentTime) != 0;
    });
    XUngrabServer(display);
    return whole;
}

// Waits for the keys somebody holds, then sends the chord; keys still held at
// the deadline are let go first, so the target sees exactly this chord.
bool postChord(Display* display, const xkb::Chord& chord) {
    const auto until = Clock::now() + kHeldKeysDeadline;
    std::vector<::KeyCode> held = heldKeys(display);
    while (!held.empty() && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        held = heldKeys(display);
    }
    XFlush(display);
    const bool whole = queueChord(display, held, chord);
    // Done once the server has handled it: a flushed chord may still wait in
    // our socket while the server, back from a stall, handles another
    // client's keys first, and a Tab would then go down with the user's next
    // shortcut held.
    XSync(display, False);
    return whole;
}

// Mapping notices pile up on a connection nobody reads events from.
void dropEvents(Display* display) {
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
        }
    }
}

struct ServerKeysyms {
    std::uint8_t first = 0;
    std::size_t perKeycode = 0;
    std::vector<x11::Keysym> keysyms;
};

std::optional<ServerKeysyms> readKeysyms(Display* display) {
    int first = 0;
    int last = 0;
    XDisplayKeycodes(display, &first, &last);
    int perKeycode = 0;
    const std::unique_ptr<KeySym, int (*)(void*)> raw(
        XGetKeyboardMapping(display, static_cast<::KeyCode>(first), last - first + 1, &perKeycode),
        XFree);
    if (!raw || perKeycode <= 0) {
        return std::nullopt;
    }
    return ServerKeysyms{
        static_cast<std::uint8_t>(first), static_cast<std::size_t>(perKeycode),
        std::vector<x11::Keysym>(
            raw.get(), raw.get() + static_cast<std::ptrdiff_t>(last - first + 1) * perKeycode)};
}

}  // namespace

PasteKeystrokeX11::~PasteKeystrokeX11() {
    // Quitting: whoever has not read the keys yet will not get them right.
    if (display_ && !lent_.empty()) {
        giveBack();
    }
}

bool PasteKeystrokeX11::connect() {
    if (!triedToConnect_) {
        triedToConnect_ = true;
        display_ = x11::openDisplay();
        hasXTest_ = x11::hasXTest(display_.get());
        receipts_ = std::make_unique<x11::KeyReceipts>();
    }
    return display_ != nullptr && hasXTest_;
}

bool PasteKeystrokeX11::available() {
    return connect();
}

bool PasteKeystrokeX11::waitForKeysReleased(std::chrono::milliseconds deadline) {
    if (!connect()) {
        return true;
    }
    const auto until = Clock::now() + deadline;
    for (;;) {
        const std::vector<::KeyCode> held = heldKeys(display_.get());
        if (held.empty()) {
            return true;
        }
        if (Clock::now() >= until) {
            // Still held at the deadline: let them go for the server so the
            // target sees exactly Control+V, not Control+Alt+Super+V.
            for (const ::KeyCode code : held) {
                XTestFakeKeyEvent(display_.get(), code, False, CurrentTime);
            }
            XFlush(display_.get());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool PasteKeystrokeX11::postPasteChord(PasteMethod method) {
    if (!connect()) {
        return false;
    }
    Display* display = display_.get();
    dropEvents(display);
    const ::KeyCode v = XKeysymToKeycode(display, XK_v);
    return postChord(display, xkb::pasteChord(method, {XKeysymToKeycode(display, XK_Control_L),
                                                       XKeysymToKeycode(display, XK_Shift_L),
                                                       v != 0 ? v : xkb::kUsV,
                                                       XKeysymToKeycode(display, XK_Insert)}));
}

bool PasteKeystrokeX11::postFollowKey(FollowKey key) {
    if (!connect() || key == FollowKey::Nothing) {
        return false;
    }
    Display* display = display_.get();
    return postChord(
        display, xkb::Chord{XKeysymToKeycode(display, key == FollowKey::Tab ? XK_Tab : XK_Return)});
}

bool PasteKeystrokeX11::typeText(const QString& text) {
    if (!connect()) {
        return false;
    }
    Display* display = display_.get();
    dropEvents(display);
    // Keys lent for an earlier line come back first, so this one has them all.
    giveBackAfterReceipt(Clock::now() + kReceiptDeadline, true);
    const std::uint32_t target = receipts_->focusedApplication();
    XkbStateRec state{};
    XkbGetState(display, XkbUseCoreKbd, &state);
    const ::KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);

    // Caps Lock would turn letters into capitals: off while typing, then back on.
    const bool capsLock = (state.locked_mods & LockMask) != 0;
    if (capsLock) {
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
    }
    const std::u32string characters = text.toStdU32String();
    std::u32string_view rest = characters;
    bool typedAll = true;
    bool answering = true;
    int chords = 0;
    while (!rest.empty()) {
        const std::optional<ServerKeysyms> keysyms = readKeysyms(display);
        if (!keysyms) {
            typedAll = false;
            break;
        }
        const x11::TypingPlan plan = x11::planTyping(
            rest, {keysyms->first, keysyms->perKeycode, keysyms->keysyms}, state.group);
        if (plan.typed == 0) {
            if (lent_.empty()) {
                typedAll = false;  // no spare key at all
                break;
            }
            // Every spare key is lent: they come back once what was typed
            // with them is read. An application that left a question
            // unanswered is not waited for again on this line.
            answering = giveBackAfterReceipt(
                            answering ? Clock::now() + kReceiptDeadline : Clock::now(), true) &&
                        answering;
            continue;
        }
        lentTo_ = target;
        lend(plan.spareMaps);
        XFlush(display);
        for (const x11::TypedKey& key : plan.keys) {
            const bool typed = key.shift ? queueChord(display, {}, {shift, key.keycode})
                                         : queueChord(display, {}, {key.keycode});
            typedAll = typed && typedAll;
            XFlush(display);
            if (++chords % kChordsPerRoundTrip == 0) {
                XSync(display, False);
            }
        }
        rest.remove_prefix(plan.typed);
    }
    if (capsLock) {
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    }
    XSync(display, False);
    giveBackAfterReceipt(answering ? Clock::now() + kReceiptDeadline : Clock::now(), false);
    return typedAll;
}

void PasteKeystrokeX11::lend(const std::vector<std::pair<std::uint8_t, x11::Keysym>>& keys) {
    for (const x11::KeyRun& run : x11::keyRuns(keys)) {
        // The same keysym with and without Shift.
        std::vector<KeySym> both;
        for (const x11::Keysym keysym : run.keysyms) {
            both.insert(both.end(), 2, keysym);
        }
        XChangeKeyboardMapping(display_.get(), run.first, 2, both.data(),
                               static_cast<int>(run.keysyms.size()));
    }
    lent_.insert(lent_.end(), keys.begin(), keys.end());
}

bool PasteKeystrokeX11::giveBackAfterReceipt(Clock::time_point deadline, bool always) {
    if (lent_.empty()) {
        return true;
    }
    // The keys are at the application before the question is asked.
    XSync(display_.get(), False);
    const x11::Receipt receipt = receipts_->ask(lentTo_, deadline);
    if (receipt == x11::Receipt::Late && !always) {
        return false;
    }
    if (receipt == x11::Receipt::Impossible) {
        std::this_thread::sleep_for(kUnansweredPause);
    }
    giveBack();
    return receipt != x11::Receipt::Late;
}

void PasteKeystrokeX11::giveBack() {
    Display* display = display_.get();
    const auto [low, high] = std::minmax_element(lent_.begin(), lent_.end());
    const int count = high->first - low->first + 1;
    int perKeycode = 0;
    const std::unique_ptr<KeySym, int (*)(void*)> now(
        XGetKeyboardMapping(display, low->first, count, &perKeycode), XFree);
    // Only keys that still hold what they were lent: a layout loaded
    // meanwhile keeps its own.
    std::vector<std::pair<std::uint8_t, x11::Keysym>> back;
    for (const auto& [keycode, keysym] : lent_) {
        if (now && perKeycode > 0 &&
            now.get()[static_cast<std::ptrdiff_t>(keycode - low->first) * perKeycode] == keysym) {
            back.emplace_back(keycode, NoSymbol);
        }
    }
    for (const x11::KeyRun& run : x11::keyRuns(back)) {
        std::vector<KeySym> none(run.keysyms.size(), NoSymbol);
        XChangeKeyboardMapping(display, run.first, 1, none.data(), static_cast<int>(none.size()));
    }
    XSync(display, False);
    lent_.clear();
}

}  // namespace quillet
