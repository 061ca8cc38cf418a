#include "platform/wayland/xkb.h"

#include <QList>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

namespace quillet::wayland {

XkbContext newXkbContext() {
    return XkbContext(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
}

XkbKeymap compileKeymap(xkb_context* context, std::string_view text) {
    return XkbKeymap(xkb_keymap_new_from_buffer(
        context, text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

std::optional<KeyPlace> findKey(xkb_keymap* keymap, xkb_keysym_t keysym) {
    std::optional<KeyPlace> anyLevel;
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_layout_index_t layout = 0; layout < xkb_keymap_num_layouts(keymap); ++layout) {
        for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= last; ++code) {
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, code, layout);
            for (xkb_level_index_t level = 0; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                const int count =
                    xkb_keymap_key_get_syms_by_level(keymap, code, layout, level, &syms);
                for (int i = 0; i < count; ++i) {
                    if (syms[i] != keysym) {
                        continue;
                    }
                    if (level == 0) {
                        return KeyPlace{code, layout, 0};
                    }
                    if (!anyLevel) {
                        anyLevel = KeyPlace{code, layout, level};
                    }
                }
            }
        }
    }
    return anyLevel;
}

std::vector<xkb_keysym_t> keysymsOf(const QString& text) {
    std::vector<xkb_keysym_t> keysyms;
    for (const uint point : text.toUcs4()) {
        if (const xkb_keysym_t keysym = xkb_utf32_to_keysym(point); keysym != XKB_KEY_NoSymbol) {
            keysyms.push_back(keysym);
        }
    }
    return keysyms;
}

namespace {

// The parts our keymaps share: every level named, no include of the system's
// files, which would cost the application compiling it as much as a full keymap.
std::string keymapText(const std::string& keycodes, xkb_keycode_t maximum,
                       const std::string& compat, const std::string& symbols) {
    // Appended piece by piece: GCC 12 warns (-Wrestrict, wrongly) about a
    // chain of operator+ on string literals in a release build.
    std::string name = "\"";
    name.append(kOwnKeymapName).append("\"");
    std::string text = "xkb_keymap {\n";
    text.append("xkb_keycodes ").append(name).append(" {\n  minimum = 8;\n  maximum = ");
    text.append(std::to_string(std::max<xkb_keycode_t>(maximum, 255))).append(";\n");
    text.append(keycodes).append("};\n");
    text.append("xkb_types ").append(name).append(" {\n");
    text.append("  type \"ONE_LEVEL\" { modifiers = none; level_name[Level1] = \"Any\"; };\n");
    text.append("  type \"TWO_LEVEL\" { modifiers = Shift; map[Shift] = Level2;\n");
    text.append("    level_name[Level1] = \"Base\"; level_name[Level2] = \"Shift\"; };\n");
    text.append("};\n");
    text.append("xkb_compat ").append(name).append(" {\n").append(compat).append("};\n");
    text.append("xkb_symbols ").append(name).append(" {\n").append(symbols).append("};\n");
    text.append("};\n");
    return text;
}

}  // namespace

ChordKeys chordKeysOf(xkb_keymap* seat) {
    ChordKeys keys;
    if (seat == nullptr) {
        return keys;
    }
    for (const auto& [keysym, code] :
         {std::pair{XKB_KEY_Control_L, &keys.control}, std::pair{XKB_KEY_Shift_L, &keys.shift},
          std::pair{XKB_KEY_v, &keys.v}}) {
        if (const auto place = findKey(seat, keysym)) {
            *code = place->code;
        }
    }
    return keys;
}

std::string chordKeymap(const ChordKeys& keys) {
    const auto code = [](xkb_keycode_t keycode) { return std::to_string(keycode); };
    return keymapText("  <CTRL> = " + code(keys.control) + ";\n  <SHFT> = " + code(keys.shift) +
                          ";\n  <V> = " + code(keys.v) + ";\n",
                      std::max({keys.control, keys.shift, keys.v}),
                      "  interpret Control_L { action = SetMods(modifiers = Control); };\n"
                      "  interpret Shift_L { action = SetMods(modifiers = Shift); };\n",
                      "  key <CTRL> { type = \"ONE_LEVEL\", [ Control_L ] };\n"
                      "  key <SHFT> { type = \"ONE_LEVEL\", [ Shift_L ] };\n"
                      "  key <V> { type = \"TWO_LEVEL\", [ v, V ] };\n"
                      "  modifier_map Control { <CTRL> };\n"
                      "  modifier_map Shift { <SHFT> };\n");
}

std::string typingKeymap(const std::vector<xkb_keysym_t>& keysyms) {
    std::string keycodes;
    std::string symbols;
    std::array<char, 64> keysymName{};
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        const std::string key = "<T" + std::to_string(i) + ">";
        keycodes += "  " + key + " = " + std::to_string(kFirstTypingKeycode + i) + ";\n";
        if (xkb_keysym_get_name(keysyms[i], keysymName.data(), keysymName.size()) <= 0) {
            keysymName = {'N', 'o', 'S', 'y', 'm', 'b', 'o', 'l'};
        }
        symbols += "  key " + key + " { type = \"ONE_LEVEL\", [ " + keysymName.data() + " ] };\n";
    }
    return keymapText(keycodes, kFirstTypingKeycode + static_cast<xkb_keycode_t>(keysyms.size()),
                      {}, symbols);
}

}  // namespace quillet::wayland
