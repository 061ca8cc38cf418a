#include "platform/portal/key_translator_xkb.h"

#include "platform/xkb/key_table.h"

#include <QKeyEvent>

#include <xkbcommon/xkbcommon-keysyms.h>

namespace quillet {

namespace portal {

namespace {

// The shortcut bit a modifier key sets; 0 for keys that only change the
// state otherwise (locks, AltGr), none for other keys.
std::optional<ModifierFlags> modifierKeyBit(std::uint32_t keysym) {
    switch (keysym) {
        case XKB_KEY_Shift_L:
        case XKB_KEY_Shift_R:
            return modifier::kShift;
        case XKB_KEY_Control_L:
        case XKB_KEY_Control_R:
            return modifier::kControl;
        case XKB_KEY_Alt_L:
        case XKB_KEY_Alt_R:
        case XKB_KEY_Meta_L:
        case XKB_KEY_Meta_R:
            return modifier::kOption;
        case XKB_KEY_Super_L:
        case XKB_KEY_Super_R:
            return modifier::kCommand;
        default:
            break;
    }
    const bool other = (keysym >= XKB_KEY_Caps_Lock && keysym <= XKB_KEY_Hyper_R) ||
                       (keysym >= XKB_KEY_ISO_Lock && keysym <= XKB_KEY_ISO_Level5_Lock) ||
                       keysym == XKB_KEY_Mode_switch || keysym == XKB_KEY_Num_Lock;
    return other ? std::optional<ModifierFlags>(0) : std::nullopt;
}

ModifierFlags flagsOf(Qt::KeyboardModifiers modifiers) {
    ModifierFlags flags = 0;
    if (modifiers.testFlag(Qt::ShiftModifier)) {
        flags |= modifier::kShift;
    }
    if (modifiers.testFlag(Qt::ControlModifier)) {
        flags |= modifier::kControl;
    }
    if (modifiers.testFlag(Qt::AltModifier)) {
        flags |= modifier::kOption;
    }
    if (modifiers.testFlag(Qt::MetaModifier)) {
        flags |= modifier::kCommand;
    }
    return flags;
}

}  // namespace

std::optional<KeyEvent> translateXkbKey(bool press, std::uint32_t keysym,
                                        const std::vector<std::uint32_t>& plainKeysyms,
                                        ModifierFlags held) {
    if (const auto bit = modifierKeyBit(keysym)) {
        // Wayland tells the new modifiers after the key: its own bit is
        // set or cleared here, whichever Qt saw.
        return KeyEvent{KeyEventType::FlagsChanged, std::nullopt,
                        press ? held | *bit : held & ~*bit};
    }
    if (!press) {
        return std::nullopt;
    }
    std::optional<KeyCode> code = xkb::keyCodeForKeysym(keysym);
    for (auto plain = plainKeysyms.begin(); !code && plain != plainKeysyms.end(); ++plain) {
        code = xkb::keyCodeForKeysym(*plain);
    }
    return KeyEvent{KeyEventType::KeyDown, code, held};
}

}  // namespace portal

std::optional<KeyEvent> KeyTranslatorXkb::translate(const QKeyEvent& event) {
    const bool press = event.type() == QEvent::KeyPress;
    if ((!press && event.type() != QEvent::KeyRelease) || event.nativeVirtualKey() == 0) {
        return std::nullopt;  // not from the compositor (a synthetic event)
    }
    if (!keymap_) {
        keymap_.emplace(names_);
    }
    return portal::translateXkbKey(press, event.nativeVirtualKey(),
                                   keymap_->plainKeysyms(event.nativeScanCode()),
                                   portal::flagsOf(event.modifiers()));
}

}  // namespace quillet
