#pragma once

// The server's keyboard and modifier mappings, read through an xcb
// connection. Shared by the shortcut grabs and the translation of the key
// events our own windows receive, so both read keys the same way.

#include "platform/x11/keymap.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct xcb_connection_t;

namespace quillet::x11 {

// The server's keysym table, every group and level of every keycode.
class KeyboardMap {
public:
    static std::optional<KeyboardMap> read(xcb_connection_t* connection);

    // The keysyms of one keycode in core order (group 1 level 1, group 1
    // level 2, group 2 level 1, ...); empty for keycodes outside the table.
    std::span<const Keysym> keysymsOf(std::uint8_t keycode) const;

    // Every keycode that carries the keysym in any group or level.
    std::vector<std::uint8_t> keycodesWith(Keysym keysym) const;

private:
    std::uint8_t first_ = 0;
    std::size_t perKeycode_ = 0;
    std::vector<Keysym> keysyms_;
};

// The server's modifier map: which keycodes sit on which of the eight rows.
class ModifierMap {
public:
    static std::optional<ModifierMap> read(xcb_connection_t* connection);

    // Which bits Alt, Super and the locks sit on. Each key counts by its
    // first keysym, as xmodmap lists it.
    ModifierMasks masks(const KeyboardMap& keyboard) const;

    // The modifier bits a key sets itself; 0 for ordinary keys.
    std::uint16_t bitsOf(std::uint8_t keycode) const;

private:
    std::array<std::vector<std::uint8_t>, 8> rows_;
};

}  // namespace quillet::x11
