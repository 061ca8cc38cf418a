#pragma once

// What the virtual keyboard needs from xkbcommon: owners of its objects,
// where a keysym sits on a keymap, and keymaps made for typing text. Pure:
// no compositor involved.

#include <xkbcommon/xkbcommon.h>

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::wayland {

struct XkbContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct XkbKeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct XkbStateUnref {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
using XkbContext = std::unique_ptr<xkb_context, XkbContextUnref>;
using XkbKeymap = std::unique_ptr<xkb_keymap, XkbKeymapUnref>;
using XkbState = std::unique_ptr<xkb_state, XkbStateUnref>;

XkbContext newXkbContext();
// Null when the text is no keymap.
XkbKeymap compileKeymap(xkb_context* context, std::string_view text);

// A key that gives the keysym: the first on its shift level 0, in the
// first layout that has it, else on any level.
struct KeyPlace {
    xkb_keycode_t code = 0;
    xkb_layout_index_t layout = 0;
    xkb_level_index_t level = 0;
};
std::optional<KeyPlace> findKey(xkb_keymap* keymap, xkb_keysym_t keysym);

// Our keymaps carry this name, so that the program can tell its own apart
// from the seat's when the compositor hands them around.
inline constexpr std::string_view kOwnKeymapName = "quillet";

// Where the paste chord's keys sit on the seat's keymap; where it has none
// of them, where a US keyboard has it.
struct ChordKeys {
    xkb_keycode_t control = 37;
    xkb_keycode_t shift = 50;
    xkb_keycode_t v = 55;
    friend bool operator==(const ChordKeys&, const ChordKeys&) = default;
};
ChordKeys chordKeysOf(xkb_keymap* seat);

// A keymap of the chord's keys alone, on those keycodes. The focused
// application takes our keymap whenever our keyboard types, and compiling
// this one costs it next to nothing, where the seat's whole keymap takes
// milliseconds, right when the line is due.
std::string chordKeymap(const ChordKeys& keys);

// The keysyms a text needs, one per character (code point) in order; none
// for characters that have no keysym.
std::vector<xkb_keysym_t> keysymsOf(const QString& text);

// A keymap with one key per keysym, each on the only level of its own
// keycode: keysyms[i] on keycode kFirstTypingKeycode + i.
inline constexpr xkb_keycode_t kFirstTypingKeycode = 9;
std::string typingKeymap(const std::vector<xkb_keysym_t>& keysyms);

}  // namespace quillet::wayland
