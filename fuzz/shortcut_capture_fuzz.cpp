// ShortcutCapture driven by arbitrary key event sequences: whatever the order
// of presses and modifier changes, the combination it holds must be one the
// program can register, and its outcome must agree with what it holds.
#include "hotkey/shortcut_capture.h"
#include "require.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

using namespace quillet;

// The low four bits are the shortcut modifiers, the high four are flags a
// real event carries alongside them (caps lock, numeric pad, help, function).
constexpr std::array<ModifierFlags, 8> kModifierBits = {
    modifier::kShift, modifier::kControl, modifier::kOption, modifier::kCommand,
    0x10000,          0x200000,           0x400000,          0x800000};

ModifierFlags modifiersFrom(std::uint8_t byte) {
    ModifierFlags flags = 0;
    for (std::size_t bit = 0; bit < kModifierBits.size(); ++bit) {
        if ((byte >> bit) & 1U) {
            flags |= kModifierBits[bit];
        }
    }
    return flags;
}

void requireAcceptable(const Shortcut& shortcut) {
    using namespace modifier;
    require(!modifierKeyCodes.contains(shortcut.keyCode));
    require((shortcut.modifiers & ~kShortcutMask) == 0);
    require((shortcut.modifiers & ~kShift) != 0 || standaloneKeyCodes.contains(shortcut.keyCode));
    // Copy and paste stay everyone's: C, V and Insert with Control, Shift or both.
    for (const Shortcut copyOrPaste :
         {Shortcut{0x08, kControl}, Shortcut{0x08, kControl | kShift}, Shortcut{0x72, kControl},
          Shortcut{0x09, kControl}, Shortcut{0x09, kControl | kShift}, Shortcut{0x72, kShift}}) {
        require(shortcut != copyOrPaste);
    }
}

}  // namespace

// Byte 0 picks the language; then three bytes per event: kind (bit 0: key
// down or modifier change, bit 1: another window's event, bit 2: a key code
// above one byte, bit 3: a key outside the vocabulary), key code, modifiers.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    ShortcutCapture capture((data[0] & 1) != 0 ? Language::Chinese : Language::English);

    for (std::size_t i = 1; i + 3 <= size; i += 3) {
        const std::uint8_t kind = data[i];
        KeyEvent event;
        event.type = (kind & 1) != 0 ? KeyEventType::FlagsChanged : KeyEventType::KeyDown;
        if ((kind & 8) == 0) {
            event.keyCode = (kind & 4) != 0 ? static_cast<KeyCode>(data[i + 1] << 8 | kind)
                                            : KeyCode{data[i + 1]};
        }
        event.modifierFlags = modifiersFrom(data[i + 2]);
        const bool inDialog = (kind & 2) == 0;

        const std::optional<Shortcut> before = capture.captured();
        const std::optional<ShortcutCapture::Outcome> outcome = capture.handle(event, inDialog);
        if (!inDialog) {
            require(!outcome.has_value() && capture.captured() == before);
            continue;
        }
        require(outcome.has_value());
        require(!outcome->text.isEmpty());

        const std::optional<Shortcut> held = capture.captured();
        require(outcome->confirmEnabled == held.has_value());
        if (held) {
            requireAcceptable(*held);
        }
        if (outcome->consumed) {
            require(event.type == KeyEventType::KeyDown && held.has_value());
        }
    }
    return 0;
}
