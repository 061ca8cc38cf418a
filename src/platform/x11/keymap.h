#pragma once

// Translation between the program's modifier flags (NSEventModifierFlags
// bits) and X11 modifier masks, and typing plans on the server's keysym
// table; the key codes' keysyms are xkb's key table. Pure: the server's maps
// are passed in, never queried here.

#include "core/keys.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet::x11 {

using Keysym = std::uint32_t;

// Which X modifier bits carry Alt, Super and the lock keys on this server.
// Shift, Lock (CapsLock) and Control are fixed by the protocol.
struct ModifierMasks {
    std::uint16_t alt = 0;
    std::uint16_t super = 0;
    std::uint16_t numLock = 0;
    std::uint16_t scrollLock = 0;
    friend bool operator==(const ModifierMasks&, const ModifierMasks&) = default;
};

inline constexpr std::uint16_t kShiftMask = 1U << 0;
inline constexpr std::uint16_t kLockMask = 1U << 1;
inline constexpr std::uint16_t kControlMask = 1U << 2;

// rows[i] holds the keysyms of the keys on modifier row i (Shift, Lock,
// Control, Mod1..Mod5), as the server's modifier mapping lists them.
ModifierMasks modifierMasksFromMap(const std::array<std::vector<Keysym>, 8>& rows);

// The X modifier state for a set of modifier flags; none when a needed
// modifier (Alt or Super) is not mapped on this server. Only the four
// shortcut bits are looked at.
std::optional<std::uint16_t> xModifiersForFlags(ModifierFlags flags, const ModifierMasks& masks);

// The modifier flags held in an X event state; lock bits are ignored.
ModifierFlags flagsForXModifiers(std::uint16_t state, const ModifierMasks& masks);

// Every combination of the mapped lock modifiers (CapsLock, NumLock,
// ScrollLock), starting with 0; a grab is repeated with each one.
std::vector<std::uint16_t> lockVariants(const ModifierMasks& masks);

// The keysym that types a character, as layouts name it.
Keysym keysymForCharacter(char32_t c);

// The server's core keysym table: for each keycode from `first`, `perKeycode`
// keysyms (group 1 level 1, group 1 level 2, group 2 level 1, ...).
struct KeysymTable {
    std::uint8_t first = 8;
    std::size_t perKeycode = 0;
    std::span<const Keysym> keysyms;
};

struct TypedKey {
    std::uint8_t keycode = 0;
    bool shift = false;
    friend bool operator==(const TypedKey&, const TypedKey&) = default;
};

// How to type the start of a text: each character by a key of the active
// group (0-based; levels 1 and 2, Caps Lock off), else by a spare key (one
// without any keysym) mapped for it first. Stops where the spare keys run
// out: `typed` says how many characters the plan covers.
struct TypingPlan {
    std::vector<TypedKey> keys;  // one per character typed
    std::vector<std::pair<std::uint8_t, Keysym>> spareMaps;
    std::size_t typed = 0;
};
TypingPlan planTyping(std::u32string_view text, const KeysymTable& table, unsigned group);

// Keys that change together: neighbouring keycodes, each with its keysym, so
// one request (and one mapping notice to every client) covers them.
struct KeyRun {
    std::uint8_t first = 0;
    std::vector<Keysym> keysyms;  // one per keycode from `first` on
    friend bool operator==(const KeyRun&, const KeyRun&) = default;
};
std::vector<KeyRun> keyRuns(std::vector<std::pair<std::uint8_t, Keysym>> keys);

}  // namespace quillet::x11
