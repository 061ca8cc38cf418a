#include "platform/portal/xkb_keys.h"

#include <QSettings>

#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace quillet::portal {

namespace {

struct ContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapUnref {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};

const char* orNull(const QByteArray& value) {
    return value.isEmpty() ? nullptr : value.constData();
}

}  // namespace

KeymapNames sessionKeymapNames(const QString& configFolder) {
    const QSettings kxkbrc(configFolder + QStringLiteral("/kxkbrc"), QSettings::IniFormat);
    // KConfig writes lists as "us,de"; QSettings reads them back as lists.
    const auto entry = [&kxkbrc](const char* key) {
        return kxkbrc.value(QLatin1String("Layout/") + QLatin1String(key))
            .toStringList()
            .join(u',')
            .toLatin1();
    };
    if (entry("LayoutList").isEmpty()) {
        return {};
    }
    return {entry("Model"), entry("LayoutList"), entry("VariantList")};
}

std::optional<int> evdevKeyFor(const KeymapNames& names, std::uint32_t keysym) {
    const std::unique_ptr<xkb_context, ContextUnref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!context) {
        return std::nullopt;
    }
    const xkb_rule_names rules{nullptr, orNull(names.model), orNull(names.layout),
                               orNull(names.variant), nullptr};
    const std::unique_ptr<xkb_keymap, KeymapUnref> keymap(
        xkb_keymap_new_from_names(context.get(), &rules, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return std::nullopt;
    }
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap.get());
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap.get());
    for (xkb_layout_index_t layout = 0; layout < xkb_keymap_num_layouts(keymap.get()); ++layout) {
        for (xkb_keycode_t key = first; key <= last; ++key) {
            const xkb_keysym_t* syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(keymap.get(), key, layout, 0, &syms);
            if (count == 1 && syms[0] == keysym) {
                // XKB key codes are evdev codes plus 8.
                return static_cast<int>(key) - 8;
            }
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint32_t>> keysymsForText(const QString& text) {
    std::vector<std::uint32_t> keysyms;
    for (const char32_t c : text.toUcs4()) {
        const xkb_keysym_t keysym = xkb_utf32_to_keysym(c);
        if (keysym == XKB_KEY_NoSymbol) {
            return std::nullopt;
        }
        keysyms.push_back(keysym);
    }
    return keysyms;
}

}  // namespace quillet::portal
