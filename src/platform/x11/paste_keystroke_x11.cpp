#include "platform/x11/paste_keystroke_x11.h"

#include "platform/x11/keymap.h"

#include <QString>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quillet {

namespace {

// Where V sits on a US keyboard under evdev, for layouts without a V.
constexpr ::KeyCode kUsVKeycode = 55;

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

// Presses keys through XTest and lets go of all of them on every path.
class ChordPress {
public:
    explicit ChordPress(Display* display) : display_(display) {}
    ~ChordPress() {
        for (auto it = pressed_.rbegin(); it != pressed_.rend(); ++it) {
            XTestFakeKeyEvent(display_, *it, False, CurrentTime);
        }
        XFlush(display_);
    }
    ChordPress(const ChordPress&) = delete;
    ChordPress& operator=(const ChordPress&) = delete;

    bool press(::KeyCode code) {
        if (code == 0 || XTestFakeKeyEvent(display_, code, True, CurrentTime) == 0) {
            return false;
        }
        pressed_.push_back(code);
        return true;
    }
    void release(::KeyCode code) {
        const auto it = std::find(pressed_.begin(), pressed_.end(), code);
        if (it != pressed_.end()) {
            XTestFakeKeyEvent(display_, code, False, CurrentTime);
            pressed_.erase(it);
        }
    }

private:
    Display* display_;
    std::vector<::KeyCode> pressed_;
};

// Holds every other client's requests for as long as it lives, so that keys
// reach the server together: another client pressing or letting go of the
// same Control in between would split a chord (a bare "v" in the target).
class ServerGrab {
public:
    explicit ServerGrab(Display* display) : display_(display) { XGrabServer(display_); }
    ~ServerGrab() {
        XUngrabServer(display_);
        XFlush(display_);
    }
    ServerGrab(const ServerGrab&) = delete;
    ServerGrab& operator=(const ServerGrab&) = delete;

private:
    Display* display_;
};

// Longest a chord waits for the keys somebody holds, after the first wait.
constexpr auto kHeldKeysDeadline = std::chrono::seconds(2);

// Presses the keys in order and lets go in reverse, with nothing else held.
bool postChord(Display* display, std::initializer_list<::KeyCode> keys) {
    // Keys checked and chord posted under one server grab: nothing can come
    // in between. Keys still held at the deadline are let go first, so the
    // target sees exactly this chord.
    const auto until = std::chrono::steady_clock::now() + kHeldKeysDeadline;
    for (;;) {
        {
            const ServerGrab grab(display);
            const std::vector<::KeyCode> held = heldKeys(display);
            if (held.empty() || std::chrono::steady_clock::now() >= until) {
                for (const ::KeyCode code : held) {
                    XTestFakeKeyEvent(display, code, False, CurrentTime);
                }
                ChordPress chord(display);
                bool pressed = false;
                for (const ::KeyCode code : keys) {
                    pressed = chord.press(code) || pressed;
                }
                for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) {
                    chord.release(*it);
                }
                return pressed;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace

bool PasteKeystrokeX11::connect() {
    if (!triedToConnect_) {
        triedToConnect_ = true;
        display_ = x11::openDisplay();
        hasXTest_ = x11::hasXTest(display_.get());
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
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const std::vector<::KeyCode> held = heldKeys(display_.get());
        if (held.empty()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) {
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
    ::KeyCode v = XKeysymToKeycode(display, XK_v);
    if (v == 0) {
        v = kUsVKeycode;
    }
    const ::KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    if (method == PasteMethod::ControlShiftV) {
        return postChord(display, {control, XKeysymToKeycode(display, XK_Shift_L), v});
    }
    return postChord(display, {control, v});
}

bool PasteKeystrokeX11::postFollowKey(FollowKey key) {
    if (!connect() || key == FollowKey::Nothing) {
        return false;
    }
    Display* display = display_.get();
    return postChord(display,
                     {XKeysymToKeycode(display, key == FollowKey::Tab ? XK_Tab : XK_Return)});
}

bool PasteKeystrokeX11::typeText(const QString& text) {
    if (!connect()) {
        return false;
    }
    Display* display = display_.get();
    int first = 0;
    int last = 0;
    XDisplayKeycodes(display, &first, &last);
    int perKeycode = 0;
    const std::unique_ptr<KeySym, int (*)(void*)> raw(
        XGetKeyboardMapping(display, static_cast<::KeyCode>(first), last - first + 1, &perKeycode),
        XFree);
    if (!raw || perKeycode <= 0) {
        return false;
    }
    const std::vector<x11::Keysym> keysyms(
        raw.get(), raw.get() + static_cast<std::ptrdiff_t>(last - first + 1) * perKeycode);
    const x11::KeysymTable table{static_cast<std::uint8_t>(first),
                                 static_cast<std::size_t>(perKeycode), keysyms};
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
    while (!rest.empty()) {
        const x11::TypingPlan plan = x11::planTyping(rest, table, state.group);
        if (plan.typed == 0) {
            typedAll = false;
            break;
        }
        for (const auto& [keycode, keysym] : plan.spareMaps) {
            KeySym both[] = {keysym, keysym};
            XChangeKeyboardMapping(display, keycode, 2, both, 1);
        }
        {
            const ServerGrab grab(display);
            ChordPress keys(display);
            for (const x11::TypedKey& key : plan.keys) {
                if (key.shift) {
                    keys.press(shift);
                }
                keys.press(key.keycode);
                keys.release(key.keycode);
                keys.release(shift);
            }
        }
        XSync(display, False);
        if (!plan.spareMaps.empty()) {
            // The target reads the keys with the mapping of the moment it
            // handles them: give it time before the spare keys go back.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (const auto& map : plan.spareMaps) {
                KeySym none = NoSymbol;
                XChangeKeyboardMapping(display, map.first, 1, &none, 1);
            }
        }
        rest.remove_prefix(plan.typed);
    }
    if (capsLock) {
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    }
    XSync(display, False);
    return typedAll;
}

}  // namespace quillet
