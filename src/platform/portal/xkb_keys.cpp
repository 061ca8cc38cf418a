#include "platform/portal/xkb_keys.h"

#include <QSettings>

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <memory>

namespace quillet::portal {

namespace {

struct ContextUnref {
    void operator()(xkb_context* context) const { xkb_context_unref(context); }
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

void XkbKeymapUnref::operator()(xkb_keymap* keymap) const {
    xkb_keymap_unref(keymap);
}

Keymap::Keymap(const KeymapNames& names) {
    const std::unique_ptr<xkb_context, ContextUnref> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (context) {
        const xkb_rule_names rules{nullptr, orNull(names.model), orNull(names.layout),
                                   orNull(names.variant), nullptr};
        keymap_.reset(
            xkb_keymap_new_from_names(context.get(), &rules, XKB_KEYMAP_COMPILE_NO_FLAGS));
    }
}

namespace {

// The key of the layout that gives the keysym on one of the levels.
std::optional<xkb_keycode_t> keyFor(xkb_keymap* keymap, xkb_layout_index_t layout,
                                    xkb_level_index_t levels, xkb_keysym_t keysym) {
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
        for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap); key <= last; ++key) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms) == 1 &&
                syms[0] == keysym) {
                return key;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> Keymap::evdevKeyFor(std::uint32_t keysym) const {
    for (xkb_layout_index_t layout = 0; keymap_ && layout < xkb_keymap_num_layouts(keymap_.get());
         ++layout) {
        if (const auto key = keyFor(keymap_.get(), layout, 1, keysym)) {
            // XKB key codes are evdev codes plus 8.
            return static_cast<int>(*key) - 8;
        }
    }
    return std::nullopt;
}

std::vector<std::uint32_t> Keymap::plainKeysyms(std::uint32_t xkbKeycode) const {
    std::vector<std::uint32_t> keysyms;
    for (xkb_layout_index_t layout = 0;
         keymap_ && layout < xkb_keymap_num_layouts_for_key(keymap_.get(), xkbKeycode); ++layout) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap_.get(), xkbKeycode, layout, 0, &syms) == 1) {
            keysyms.push_back(syms[0]);
        }
    }
    return keysyms;
}

bool Keymap::typesOnFirstLayout(const std::vector<std::uint32_t>& keysyms) const {
    return !keymap_ || std::all_of(keysyms.begin(), keysyms.end(), [this](std::uint32_t keysym) {
        return keyFor(keymap_.get(), 0, 3, keysym).has_value();
    });
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
