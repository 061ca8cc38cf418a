#include "platform/x11/server_keymap.h"

#include "platform/x11/connection.h"

// X11 headers after the program's own (which pull in Qt): they define macros
// that break Qt headers.
#include <xcb/xcb.h>

#include <algorithm>

namespace quillet::x11 {

std::optional<KeyboardMap> KeyboardMap::read(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const std::uint8_t first = setup->min_keycode;
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - first + 1);
    const auto reply = own(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, first, count), nullptr));
    if (!reply || reply->keysyms_per_keycode == 0) {
        return std::nullopt;
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int length = xcb_get_keyboard_mapping_keysyms_length(reply.get());
    KeyboardMap map;
    map.first_ = first;
    map.perKeycode_ = reply->keysyms_per_keycode;
    map.keysyms_.assign(keysyms, keysyms + length);
    return map;
}

std::span<const Keysym> KeyboardMap::keysymsOf(std::uint8_t keycode) const {
    if (keycode < first_) {
        return {};
    }
    const std::size_t index = std::size_t{keycode} - first_;
    if ((index + 1) * perKeycode_ > keysyms_.size()) {
        return {};
    }
    return std::span(keysyms_).subspan(index * perKeycode_, perKeycode_);
}

std::vector<std::uint8_t> KeyboardMap::keycodesWith(Keysym keysym) const {
    std::vector<std::uint8_t> keycodes;
    const std::size_t keys = keysyms_.size() / perKeycode_;
    for (std::size_t i = 0; i < keys; ++i) {
        const auto keycode = static_cast<std::uint8_t>(first_ + i);
        const auto syms = keysymsOf(keycode);
        if (std::find(syms.begin(), syms.end(), keysym) != syms.end()) {
            keycodes.push_back(keycode);
        }
    }
    return keycodes;
}

std::optional<ModifierMap> ModifierMap::read(xcb_connection_t* connection) {
    const auto reply = own(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply.get());
    const std::size_t perRow = reply->keycodes_per_modifier;
    ModifierMap map;
    for (std::size_t row = 0; row < map.rows_.size(); ++row) {
        for (std::size_t i = 0; i < perRow; ++i) {
            // 0 marks an unused slot.
            if (const xcb_keycode_t keycode = keycodes[row * perRow + i]; keycode != 0) {
                map.rows_[row].push_back(keycode);
            }
        }
    }
    return map;
}

ModifierMasks ModifierMap::masks(const KeyboardMap& keyboard) const {
    std::array<std::vector<Keysym>, 8> rows;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (const std::uint8_t keycode : rows_[row]) {
            const auto syms = keyboard.keysymsOf(keycode);
            const auto sym =
                std::find_if(syms.begin(), syms.end(), [](Keysym s) { return s != XCB_NO_SYMBOL; });
            if (sym != syms.end()) {
                rows[row].push_back(*sym);
            }
        }
    }
    return modifierMasksFromMap(rows);
}

std::uint16_t ModifierMap::bitsOf(std::uint8_t keycode) const {
    std::uint16_t bits = 0;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        if (std::find(rows_[row].begin(), rows_[row].end(), keycode) != rows_[row].end()) {
            bits |= static_cast<std::uint16_t>(1U << row);
        }
    }
    return bits;
}

}  // namespace quillet::x11
