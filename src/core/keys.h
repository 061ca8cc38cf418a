#pragma once

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <optional>

namespace quillet {

// The program's key vocabulary: macOS virtual key codes and NSEventModifierFlags
// bits, stored and shown the same way on every platform. Platform code
// translates at its edge.
using KeyCode = std::uint16_t;
using ModifierFlags = std::uint64_t;

namespace modifier {
inline constexpr ModifierFlags kShift = 0x20000;
inline constexpr ModifierFlags kControl = 0x40000;
inline constexpr ModifierFlags kOption = 0x80000;    // Alt
inline constexpr ModifierFlags kCommand = 0x100000;  // Super
// The only bits that take part in a shortcut.
inline constexpr ModifierFlags kShortcutMask = kShift | kControl | kOption | kCommand;
}  // namespace modifier

inline constexpr auto kHotkeyCodeKey = u"hotkeyCode";
inline constexpr auto kHotkeyModifiersKey = u"hotkeyModifiers";
// "true" once the user let the program put its shortcuts into the desktop's
// own settings (GNOME), "false" once they declined; absent: not asked yet.
inline constexpr auto kDesktopShortcutsKey = u"desktopShortcutsAllowed";

struct Shortcut {
    KeyCode keyCode = 0;
    ModifierFlags modifiers = 0;
    friend bool operator==(const Shortcut&, const Shortcut&) = default;
};

// Control + Option + Command + V (Control+Alt+Super+V).
inline constexpr Shortcut kDefaultShortcut{9, 0x1C0000};

// The shortcut the two stored integers stand for, or none. Key code 0 is the
// A key; a key code not stored means none. So do 0 without modifiers (the A
// key alone is never a shortcut, and stores that read an absent number as 0
// write that pair for none) and values outside the ranges this program
// writes (another program's edits).
std::optional<Shortcut> shortcutFromStored(std::optional<std::int64_t> keyCode,
                                           std::optional<std::int64_t> modifiers);

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

// Keys accepted as a shortcut without a modifier, or with Shift alone: F1 to
// F16. Any other key taken so would be lost to typing in every program.
inline constexpr KeyCodeSet standaloneKeyCodes{0x7A, 0x78, 0x63, 0x76, 0x60, 0x61, 0x62, 0x64,
                                               0x65, 0x6D, 0x67, 0x6F, 0x69, 0x6B, 0x71, 0x6A};

// Modifier symbols in the fixed order ⌃ ⌥ ⇧ ⌘, without separators.
QString modifierSymbols(ModifierFlags flags);

// The printable name of a key (codes 0 to 50), or none.
std::optional<QString> keyCodeToChar(KeyCode keyCode);

// The name of a non-printable key, or "".
QString specialKeyCodeName(KeyCode keyCode);

// Modifier symbols followed directly by the key's name: "⌃⌥⌘V".
QString shortcutText(KeyCode keyCode, ModifierFlags modifiers);
inline QString shortcutText(Shortcut shortcut) {
    return shortcutText(shortcut.keyCode, shortcut.modifiers);
}

// What a menu draws at a row's right edge for the shortcut: symbols and the
// key's printable name; "" for keys without one.
QString shortcutHint(Shortcut shortcut);

// A key event as the shortcut capture sees it: a key going down, or a change
// of the held modifiers (a modifier key's press or release). keyCode is none
// for keys outside the vocabulary; modifierFlags are those held after the event.
enum class KeyEventType { KeyDown, FlagsChanged };
struct KeyEvent {
    KeyEventType type = KeyEventType::KeyDown;
    std::optional<KeyCode> keyCode;
    ModifierFlags modifierFlags = 0;
};

}  // namespace quillet
