#include "platform/wayland/xkb.h"

#include <QList>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>

namespace quillet::wayland {

std::vector<xkb_keysym_t> keysymsOf(const QString& text) {
    std::vector<xkb_keysym_t> keysyms;
    for (const uint point : text.toUcs4()) {
        if (const xkb_keysym_t keysym = xkb_utf32_to_keysym(point); keysym != XKB_KEY_NoSymbol) {
            keysyms.push_back(keysym);
        }
    }
    return keysyms;
}

SeatKeys seatKeysOf(xkb_keymap* seat) {
    SeatKeys keys;
    if (seat == nullptr) {
        return keys;
    }
    SeatKeys found = keys;
    const std::array<std::pair<xkb_keysym_t, xkb_keycode_t*>, 8> wanted{{
        {XKB_KEY_Control_L, &found.control},
        {XKB_KEY_Shift_L, &found.shift},
        {XKB_KEY_Alt_L, &found.alt},
        {XKB_KEY_Super_L, &found.super},
        {XKB_KEY_v, &found.v},
        {XKB_KEY_Insert, &found.insert},
        {XKB_KEY_Tab, &found.tab},
        {XKB_KEY_Return, &found.enter},
    }};
    std::set<xkb_keycode_t> codes;
    for (const auto& [keysym, code] : wanted) {
        if (const auto place = xkb::findKey(seat, keysym)) {
            *code = place->code;
        }
        codes.insert(*code);
    }
    // A keymap that puts two of them on one key, or one beyond X's codes,
    // would lose a key: the US places then.
    const bool usable = codes.size() == wanted.size() && *codes.begin() >= kMinimumKeycode &&
                        *codes.rbegin() <= kMaximumKeycode;
    return usable ? found : keys;
}

OwnKeymap ownKeymap(const SeatKeys& keys, const std::vector<xkb_keysym_t>& typed) {
    OwnKeymap keymap;
    std::string keycodes;
    std::string symbols;
    const auto key = [&](const std::string& name, xkb_keycode_t code, const char* type,
                         const std::string& syms) {
        keycodes.append("  <").append(name).append("> = ").append(std::to_string(code));
        keycodes.append(";\n");
        symbols.append("  key <").append(name).append("> { type = \"").append(type);
        symbols.append("\", [ ").append(syms).append(" ] };\n");
    };
    key("CTRL", keys.control, "ONE_LEVEL", "Control_L");
    key("SHFT", keys.shift, "ONE_LEVEL", "Shift_L");
    key("ALT", keys.alt, "ONE_LEVEL", "Alt_L");
    key("SUPR", keys.super, "ONE_LEVEL", "Super_L");
    key("V", keys.v, "TWO_LEVEL", "v, V");
    key("INS", keys.insert, "ONE_LEVEL", "Insert");
    key("TAB", keys.tab, "ONE_LEVEL", "Tab");
    key("RTRN", keys.enter, "ONE_LEVEL", "Return");

    const std::set<xkb_keycode_t> taken{keys.control, keys.shift,  keys.alt, keys.super,
                                        keys.v,       keys.insert, keys.tab, keys.enter};
    xkb_keycode_t code = kMinimumKeycode;
    std::array<char, 64> name{};
    for (const xkb_keysym_t keysym : typed) {
        if (keymap.typed.size() == kMostTypedKeys) {
            break;
        }
        while (taken.count(code) != 0) {
            ++code;
        }
        if (xkb_keysym_get_name(keysym, name.data(), name.size()) <= 0) {
            name = {'N', 'o', 'S', 'y', 'm', 'b', 'o', 'l'};
        }
        key(std::string("T").append(std::to_string(keymap.typed.size())), code, "ONE_LEVEL",
            name.data());
        keymap.typed.push_back(keysym);
        keymap.typedCodes.push_back(code++);
    }

    // Appended piece by piece: GCC 12 warns (-Wrestrict, wrongly) about a
    // chain of operator+ on string literals in a release build. Nothing is
    // included from the system's files, which would cost the application
    // compiling it as much as a full keymap. What X needs is there, measured
    // with Xwayland 22.1: without virtual modifiers or interprets it puts a
    // US keymap in the place of ours; without the four types every X keymap
    // has, X clients cannot read ours (Qt's end); without indicators it
    // crashes when one asks.
    const std::string title = "\"" + std::string(kOwnKeymapName) + "\" {\n";
    std::string& text = keymap.text;
    text = "xkb_keymap {\n";
    text.append("xkb_keycodes ").append(title).append("  minimum = 8;\n  maximum = 255;\n");
    text.append(keycodes);
    text.append("  indicator 1 = \"Caps Lock\";\n  indicator 2 = \"Num Lock\";\n};\n");
    text.append("xkb_types ").append(title);
    text.append("  type \"ONE_LEVEL\" { modifiers = none; level_name[Level1] = \"Any\"; };\n");
    text.append("  type \"TWO_LEVEL\" { modifiers = Shift; map[Shift] = Level2;\n");
    text.append("    level_name[Level1] = \"Base\"; level_name[Level2] = \"Shift\"; };\n");
    text.append("  type \"ALPHABETIC\" { modifiers = Shift + Lock; map[Shift] = Level2;\n");
    text.append("    map[Lock] = Level2; level_name[Level1] = \"Base\";\n");
    text.append("    level_name[Level2] = \"Caps\"; };\n");
    text.append("  type \"KEYPAD\" { modifiers = Shift; map[Shift] = Level2;\n");
    text.append("    level_name[Level1] = \"Base\"; level_name[Level2] = \"Number\"; };\n");
    text.append("};\n");
    text.append("xkb_compat ").append(title).append("  virtual_modifiers Alt, Super;\n");
    text.append("  indicator \"Caps Lock\" { modifiers = Lock; };\n");
    text.append("  indicator \"Num Lock\" { modifiers = Mod2; };\n");
    text.append("  interpret Control_L { action = SetMods(modifiers = Control); };\n");
    text.append("  interpret Shift_L { action = SetMods(modifiers = Shift); };\n");
    text.append(
        "  interpret Alt_L { virtualModifier = Alt; action = SetMods(modifiers = "
        "modMapMods); };\n");
    text.append(
        "  interpret Super_L { virtualModifier = Super; action = SetMods(modifiers = "
        "modMapMods); };\n");
    text.append("};\n");
    text.append("xkb_symbols ").append(title).append(symbols);
    text.append("  modifier_map Control { <CTRL> };\n  modifier_map Shift { <SHFT> };\n");
    text.append("  modifier_map Mod1 { <ALT> };\n  modifier_map Mod4 { <SUPR> };\n");
    text.append("};\n};\n");
    return keymap;
}

}  // namespace quillet::wayland
