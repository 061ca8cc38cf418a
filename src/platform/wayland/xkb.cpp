#include "platform/wayland/xkb.h"

#include <QList>

#include <array>
#include <cstdlib>

namespace quillet::wayland {

XkbContext newXkbContext() {
    return XkbContext(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
}

XkbKeymap compileKeymap(xkb_context* context, std::string_view text) {
    return XkbKeymap(xkb_keymap_new_from_buffer(
        context, text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

std::string defaultKeymapText(xkb_context* context) {
    const xkb_rule_names names{};  // null members: the XKB_DEFAULT_* environment, else us
    const XkbKeymap keymap(xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return {};
    }
    const std::unique_ptr<char, decltype(&std::free)> text(
        xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    return text ? std::string(text.get()) : std::string();
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

std::string typingKeymap(const std::vector<xkb_keysym_t>& keysyms) {
    const std::string name = "\"" + std::string(kTypingKeymapName) + "\"";
    std::string keycodes;
    std::string symbols;
    std::array<char, 64> keysymName{};
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        const std::string key = "<T" + std::to_string(i) + ">";
        keycodes += "  " + key + " = " + std::to_string(kFirstTypingKeycode + i) + ";\n";
        if (xkb_keysym_get_name(keysyms[i], keysymName.data(), keysymName.size()) <= 0) {
            keysymName = {'N', 'o', 'S', 'y', 'm', 'b', 'o', 'l'};
        }
        symbols += "  key " + key + " { [ " + keysymName.data() + " ] };\n";
    }
    return "xkb_keymap {\n"
           "xkb_keycodes " +
           name +
           " {\n"
           "  minimum = 8;\n"
           "  maximum = " +
           std::to_string(kFirstTypingKeycode + keysyms.size()) + ";\n" + keycodes +
           "};\n"
           "xkb_types " +
           name +
           " { include \"complete\" };\n"
           "xkb_compat " +
           name +
           " { include \"complete\" };\n"
           "xkb_symbols " +
           name + " {\n" + symbols +
           "};\n"
           "};\n";
}

}  // namespace quillet::wayland
