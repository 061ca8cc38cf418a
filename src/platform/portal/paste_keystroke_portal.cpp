#include "platform/portal/paste_keystroke_portal.h"

#include "platform/settings_store.h"

#include <xkbcommon/xkbcommon-keysyms.h>

#include <vector>

namespace quillet {

namespace {

// evdev codes (linux/input-event-codes.h) of the keys the chord uses, and
// of the modifiers a shortcut may still hold when the chord goes out.
constexpr int kLeftCtrl = 29;
constexpr int kLeftShift = 42;
constexpr int kUsV = 47;
constexpr int kInsert = 110;  // the same key in every layout
constexpr int kStrayModifiers[] = {
    42,   // Shift_L
    54,   // Shift_R
    56,   // Alt_L
    100,  // Alt_R
    125,  // Super_L
    126,  // Super_R
};

// Presses keys and lets go of all of them, on every path.
class Chord {
public:
    explicit Chord(portal::RemoteDesktopSession& session) : session_(session) {}
    ~Chord() {
        for (auto it = pressed_.rbegin(); it != pressed_.rend(); ++it) {
            session_.key(*it, false);
        }
    }
    Chord(const Chord&) = delete;
    Chord& operator=(const Chord&) = delete;

    bool press(int key) {
        if (!session_.key(key, true)) {
            return false;
        }
        pressed_.push_back(key);
        return true;
    }

private:
    portal::RemoteDesktopSession& session_;
    std::vector<int> pressed_;
};

}  // namespace

PasteKeystrokePortal::PasteKeystrokePortal(SettingsStore& settings, portal::KeymapNames keymap,
                                           QDBusConnection connection)
    : session_(std::make_unique<portal::RemoteDesktopSession>(std::move(connection))),
      keymap_(keymap),
      vKey_(keymap_.evdevKeyFor(XKB_KEY_v).value_or(kUsV)) {
    const QString key = QString::fromUtf16(kRemoteDesktopTokenKey);
    session_->start(settings.string(key).value_or(QString()),
                    [&settings, key](const QString& token) {
                        if (!token.isEmpty()) {
                            settings.setString(key, token);
                        }
                    });
}

bool PasteKeystrokePortal::available() {
    return !session_->failed();
}

bool PasteKeystrokePortal::running() {
    return session_->ensureRunning(startDeadline_);
}

bool PasteKeystrokePortal::waitForKeysReleased(std::chrono::milliseconds /*deadline*/) {
    // Nothing tells a Wayland client which keys are down. The chord lets go
    // of the modifiers a shortcut holds instead.
    return true;
}

bool PasteKeystrokePortal::postPasteChord(PasteMethod method) {
    if (!running()) {
        return false;
    }
    // KWin keeps one keyboard state for all devices (mutter too): a release
    // from this one ends a modifier the user still holds, which would turn
    // Control+V into Control+Alt+Super+V (and press the shortcut again).
    for (const int key : kStrayModifiers) {
        session_->key(key, false);
    }
    Chord chord(*session_);
    switch (method) {
        case PasteMethod::ShiftInsert:
            return chord.press(kLeftShift) && chord.press(kInsert);
        case PasteMethod::ControlShiftV:
            return chord.press(kLeftCtrl) && chord.press(kLeftShift) && chord.press(vKey_);
        case PasteMethod::ControlV:
        case PasteMethod::Typing:
            break;
    }
    return chord.press(kLeftCtrl) && chord.press(vKey_);
}

bool PasteKeystrokePortal::postFollowKey(FollowKey key) {
    if (key == FollowKey::Nothing || !running()) {
        return false;
    }
    // Keysyms, not key codes: Tab and Return sit anywhere in a layout.
    constexpr std::uint32_t kTab = 0xff09;
    constexpr std::uint32_t kReturn = 0xff0d;
    const std::uint32_t keysym = key == FollowKey::Tab ? kTab : kReturn;
    if (!session_->keysym(keysym, true)) {
        return false;
    }
    return session_->keysym(keysym, false);
}

bool PasteKeystrokePortal::typeText(const QString& text) {
    const auto keysyms = portal::keysymsForText(text);
    // A line typed in part is worse than none: the user would not see what is missing.
    if (!keysyms || keysyms->empty() || !keymap_.typesOnFirstLayout(*keysyms) || !running()) {
        return false;
    }
    for (const std::uint32_t keysym : *keysyms) {
        if (!session_->keysym(keysym, true)) {
            return false;
        }
        session_->keysym(keysym, false);
    }
    return true;
}

}  // namespace quillet
