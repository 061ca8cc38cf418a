#include "platform/x11/paste_keystroke_x11.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
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
    bool pressedAny() const { return !pressed_.empty(); }

private:
    Display* display_;
    std::vector<::KeyCode> pressed_;
};

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
    const ::KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const ::KeyCode shift =
        method == PasteMethod::ControlShiftV ? XKeysymToKeycode(display, XK_Shift_L) : 0;
    ::KeyCode v = XKeysymToKeycode(display, XK_v);
    if (v == 0) {
        v = kUsVKeycode;
    }
    ChordPress chord(display);
    const bool controlDown = chord.press(control);
    if (shift != 0) {
        chord.press(shift);
    }
    const bool vDown = chord.press(v);
    chord.release(v);
    chord.release(shift);
    chord.release(control);
    XFlush(display);
    return controlDown || vDown;
}

bool PasteKeystrokeX11::typeText(const QString& /*text*/) {
    return false;
}

}  // namespace quillet
