#pragma once

// Owners of xkbcommon's objects, and where a keysym sits on a keymap. Pure:
// keymaps are compiled from text or from names, never asked of a server.

#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <optional>
#include <string_view>

namespace quillet::xkb {

struct Unref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
using ContextPtr = std::unique_ptr<xkb_context, Unref>;
using KeymapPtr = std::unique_ptr<xkb_keymap, Unref>;
using StatePtr = std::unique_ptr<xkb_state, Unref>;

ContextPtr newContext();

// Null when the text is no keymap.
KeymapPtr keymapFromText(xkb_context* context, std::string_view text);

// Null when xkbcommon cannot compile the names. A null or empty name takes
// xkbcommon's choice (the XKB_DEFAULT_* variables, then its default, us).
// Layouts and variants are comma-separated, one per layout.
KeymapPtr keymapFromNames(xkb_context* context, const char* model, const char* layout,
                          const char* variant);

// A key that gives the keysym, and the level it gives it on.
struct KeyPlace {
    xkb_keycode_t code = 0;
    xkb_layout_index_t layout = 0;
    xkb_level_index_t level = 0;
    friend bool operator==(const KeyPlace&, const KeyPlace&) = default;
};

// The key on the lowest level that any layout gives the keysym on: in the
// first layout that has it there, the lowest keycode. Only `layout` is
// searched when one is given.
std::optional<KeyPlace> findKey(xkb_keymap* keymap, xkb_keysym_t keysym,
                                std::optional<xkb_layout_index_t> layout = std::nullopt);

// XKB keycodes, and X ones, are evdev codes plus 8.
inline constexpr xkb_keycode_t kEvdevOffset = 8;

// Where a US keyboard has V. A layout without a V (Russian) keeps it there:
// applications take Control on that key as Control+V.
inline constexpr xkb_keycode_t kUsV = 55;

}  // namespace quillet::xkb
