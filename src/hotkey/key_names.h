#pragma once

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <optional>

namespace quillet {

class SettingsStore;

// The program's key vocabulary: macOS virtual key codes and NSEventModifierFlags
// bits, stored and shown the same way on every platform.
using KeyCode = std::uint16_t;
using ModifierFlags = std::uint64_t;

namespace modifier {
inline constexpr ModifierFlags kShift = 0x20000;
inline constexpr ModifierFlags kControl = 0x40000;
inline constexpr ModifierFlags kOption = 0x80000;
inline constexpr ModifierFlags kCommand = 0x100000;
// The only bits that take part in a shortcut.
inline constexpr ModifierFlags kShortcutMask = kShift | kControl | kOption | kCommand;
}  // namespace modifier

// Control + Option + Command + V.
inline constexpr KeyCode kDefaultHotkeyCode = 9;
inline constexpr ModifierFlags kDefaultHotkeyModifiers = 0x1C0000;

// A fixed set of key codes; only membership is asked.
class KeyCodeSet {
public:
    constexpr KeyCodeSet(std::initializer_list<KeyCode> codes) {
        for (const KeyCode code : codes) {
            bits_[code / 64] |= std::uint64_t{1} << (code % 64);
        }
    }
    constexpr bool contains(KeyCode code) const {
        return code < 128 && ((bits_[code / 64] >> (code % 64)) & 1U) != 0;
    }

private:
    std::uint64_t bits_[2] = {0, 0};  // every listed code is below 128
};

// Keys that are modifiers themselves.
inline constexpr KeyCodeSet modifierKeyCodes{0x37, 0x36, 0x3A, 0x3D, 0x3B, 0x3E, 0x38, 0x3C};

// Keys accepted as a shortcut without any modifier.
inline constexpr KeyCodeSet standaloneKeyCodes{0x35, 0x31, 0x7E, 0x7D, 0x7B, 0x7C, 0x7A, 0x78,
                                               0x63, 0x76, 0x60, 0x61, 0x62, 0x64, 0x65, 0x6D,
                                               0x67, 0x6F, 0x69, 0x6B, 0x71, 0x6A};

// Carbon hot-key mask of the four shortcut modifiers; other bits are ignored.
std::uint32_t convertCocoaToCarbonModifiers(ModifierFlags cocoaFlags);

// Modifier symbols in the fixed order ⌃ ⌥ ⇧ ⌘, without separators.
QString stringRepresentation(ModifierFlags flags);

// The printable name of a key (codes 0 to 50), or none.
std::optional<QString> keyCodeToChar(KeyCode keyCode);

// The name of a non-printable key, or "".
QString specialKeyCodeName(KeyCode keyCode);

// Modifier symbols followed directly by the key's name.
QString shortcutText(KeyCode keyCode, ModifierFlags modifiers);

// The text of the stored shortcut; the default's text when none is stored.
QString storedShortcutText(const SettingsStore& settings);

}  // namespace quillet
