#include "platform/x11/key_translator_x11.h"

#include "platform/x11/connection.h"
#include "platform/x11/server_keymap.h"
#include "platform/xkb/key_table.h"

#include <QKeyEvent>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <X11/keysym.h>

namespace quillet {

namespace x11 {

namespace {

// The XKB group of an event sits in bits 13 and 14 of its state.
constexpr unsigned kGroupShift = 13;
constexpr std::uint16_t kGroupBits = 0x3;

// Keysyms of keys that only change the state, as Xlib's IsModifierKey sees
// them; such keys report as modifier changes even when no row holds them.
bool isModifierKeysym(Keysym keysym) {
    return (keysym >= XK_Shift_L && keysym <= XK_Hyper_R) ||
           (keysym >= XK_ISO_Lock && keysym <= XK_ISO_Level5_Lock) || keysym == XK_Mode_switch ||
           keysym == XK_Num_Lock;
}

// The key code of the key's first-level keysym in the current group, else in
// group 1: a letter key on a second layout without Latin letters still reads
// as the key the first layout names.
std::optional<KeyCode> keyCodeOf(std::span<const Keysym> keysyms, unsigned group) {
    // The core table only spells out groups 1 and 2 (two columns each).
    for (const std::size_t column : {std::size_t{group <= 1 ? 2 * group : 0}, std::size_t{0}}) {
        if (column < keysyms.size()) {
            if (const auto code = xkb::keyCodeForKeysym(keysyms[column])) {
                return code;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<KeyEvent> translateKey(bool press, std::uint16_t state, const KeyFacts& key) {
    const Keysym first = key.keysyms.empty() ? 0 : key.keysyms.front();
    const bool modifierKey = key.ownModifierBits != 0 || isModifierKeysym(first);
    if (!press && !modifierKey) {
        return std::nullopt;
    }
    // The state is the one before the event: a modifier key's own bits are
    // not in it on its press and still in it on its release.
    std::uint16_t after = state;
    if (modifierKey) {
        after = press ? static_cast<std::uint16_t>(state | key.ownModifierBits)
                      : static_cast<std::uint16_t>(state & ~key.ownModifierBits);
    }
    const unsigned group = (state >> kGroupShift) & kGroupBits;
    return KeyEvent{modifierKey ? KeyEventType::FlagsChanged : KeyEventType::KeyDown,
                    keyCodeOf(key.keysyms, group), flagsForXModifiers(after, key.masks)};
}

}  // namespace x11

KeyTranslatorX11::KeyTranslatorX11() : connection_(x11::qtConnection()) {}

std::optional<KeyEvent> KeyTranslatorX11::translate(const QKeyEvent& event) {
    const bool press = event.type() == QEvent::KeyPress;
    if (connection_ == nullptr || (!press && event.type() != QEvent::KeyRelease)) {
        return std::nullopt;
    }
    const quint32 keycode = event.nativeScanCode();
    if (keycode == 0 || keycode > 0xFF) {
        return std::nullopt;  // not from the server (a synthetic event)
    }
    const auto keyboard = x11::KeyboardMap::read(connection_);
    const auto modifiers = x11::ModifierMap::read(connection_);
    if (!keyboard || !modifiers) {
        return std::nullopt;
    }
    const auto code = static_cast<std::uint8_t>(keycode);
    const x11::KeyFacts facts{keyboard->keysymsOf(code), modifiers->bitsOf(code),
                              modifiers->masks(*keyboard)};
    return x11::translateKey(press, static_cast<std::uint16_t>(event.nativeModifiers()), facts);
}

}  // namespace quillet
