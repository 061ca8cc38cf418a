#pragma once

// The keymaps the virtual keyboard gives applications: ours, made for the
// chords and for typing text, on the keys of the seat's. Pure: no compositor
// involved.

#include "platform/xkb/keymap.h"

#include <QString>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::wayland {

// Our keymaps carry this name, so that the program can tell its own apart
// from the seat's when the compositor hands them around.
inline constexpr std::string_view kOwnKeymapName = "quillet";

// The keys we press on their own, on the keycodes where the seat's keymap
// has them (applications that match shortcuts by key, as browsers do, then
// see the keys they expect); where it has none, where a US keyboard has it.
struct SeatKeys {
    xkb_keycode_t control = 37;
    xkb_keycode_t shift = 50;
    xkb_keycode_t alt = 64;
    xkb_keycode_t super = 133;
    xkb_keycode_t v = xkb::kUsV;
    xkb_keycode_t insert = 118;
    xkb_keycode_t tab = 23;
    xkb_keycode_t enter = 36;
    friend bool operator==(const SeatKeys&, const SeatKeys&) = default;
};
SeatKeys seatKeysOf(xkb_keymap* seat);

// Keycodes beyond 255 reach no X client through Xwayland, and 8 is no key
// at all. The keys typed take the codes in between that SeatKeys leaves free.
inline constexpr xkb_keycode_t kMinimumKeycode = 9;
inline constexpr xkb_keycode_t kMaximumKeycode = 255;
inline constexpr std::size_t kMostTypedKeys = 200;

// The keymap our keyboard gives every application: the modifiers, V,
// Insert, Tab and Return, plus one key per keysym to type (distinct ones,
// the first kMostTypedKeys). Alt and Super are there although never pressed: GTK 3
// ignores Control+V from a keymap without them. Every part Xwayland needs is
// in it too, or Xwayland puts a US keymap in its place.
struct OwnKeymap {
    std::string text;
    std::vector<xkb_keysym_t> typed;
    std::vector<xkb_keycode_t> typedCodes;  // typed[i] on typedCodes[i]
};
OwnKeymap ownKeymap(const SeatKeys& keys, const std::vector<xkb_keysym_t>& typed = {});

// The keysyms a text needs, one per character (code point) in order; none
// for characters that have no keysym.
std::vector<xkb_keysym_t> keysymsOf(const QString& text);

}  // namespace quillet::wayland
