#include "platform/portal/paste_keystroke_portal.h"

#include "platform/settings_store.h"
#include "platform/xkb/chord.h"
#include "platform/xkb/keymap.h"

namespace quillet {

namespace {

// evdev codes (linux/input-event-codes.h) of the keys the chord uses, and
// of the modifiers a shortcut may still hold when the chord goes out.
constexpr std::uint32_t kLeftCtrl = 29;
constexpr std::uint32_t kLeftShift = 42;
constexpr std::uint32_t kInsert = 110;  // the same key in every layout
constexpr int kStrayModifiers[] = {
    42,   // Shift_L
    54,   // Shift_R
    56,   // Alt_L
    100,  // Alt_R
    125,  // Super_L
    126,  // Super_R
};

}  // namespace

PasteKeystrokePortal::PasteKeystrokePortal(SettingsStore& settings, portal::KeymapNames keymap,
                                           QDBusConnection connection)
    : session_(std::make_unique<portal::RemoteDesktopSession>(std::move(connection))),
      keymap_(keymap),
      vKey_(keymap_.evdevKeyFor(XKB_KEY_v).value_or(
          static_cast<int>(xkb::kUsV - xkb::kEvdevOffset))) {
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
    const xkb::Chord chord = xkb::pasteChord(
        method, {kLeftCtrl, kLeftShift, static_cast<std::uint32_t>(vKey_), kInsert});
    return chord.play([this](xkb::KeyStroke stroke) {
        return session_->key(static_cast<int>(stroke.key), stroke.down);
    });
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
