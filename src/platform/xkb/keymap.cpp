#include "platform/xkb/keymap.h"

#include <algorithm>

namespace quillet::xkb {

ContextPtr newContext() {
    return ContextPtr(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
}

KeymapPtr keymapFromText(xkb_context* context, std::string_view text) {
    return KeymapPtr(xkb_keymap_new_from_buffer(
        context, text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

KeymapPtr keymapFromNames(xkb_context* context, const char* model, const char* layout,
                          const char* variant) {
    const auto orNull = [](const char* name) {
        return name != nullptr && *name != '\0' ? name : nullptr;
    };
    const xkb_rule_names names{nullptr, orNull(model), orNull(layout), orNull(variant), nullptr};
    return KeymapPtr(xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
}

std::optional<KeyPlace> findKey(xkb_keymap* keymap, xkb_keysym_t keysym,
                                std::optional<xkb_layout_index_t> layout) {
    const xkb_layout_index_t firstLayout = layout.value_or(0);
    const xkb_layout_index_t endLayout = layout
                                             ? std::min(*layout + 1, xkb_keymap_num_layouts(keymap))
                                             : xkb_keymap_num_layouts(keymap);
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap);
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_level_index_t level = 0;; ++level) {
        bool anyKeyHasLevel = false;
        for (xkb_layout_index_t l = firstLayout; l < endLayout; ++l) {
            for (xkb_keycode_t code = first; code <= last; ++code) {
                if (level >= xkb_keymap_num_levels_for_key(keymap, code, l)) {
                    continue;
                }
                anyKeyHasLevel = true;
                const xkb_keysym_t* syms = nullptr;
                const int count = xkb_keymap_key_get_syms_by_level(keymap, code, l, level, &syms);
                if (std::find(syms, syms + std::max(count, 0), keysym) !=
                    syms + std::max(count, 0)) {
                    return KeyPlace{code, l, level};
                }
            }
        }
        if (!anyKeyHasLevel) {
            return std::nullopt;
        }
    }
}

}  // namespace quillet::xkb
