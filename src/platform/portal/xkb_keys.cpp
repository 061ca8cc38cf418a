#include "platform/portal/xkb_keys.h"

#include <QSettings>

#include <algorithm>

namespace quillet::portal {

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

Keymap::Keymap(const KeymapNames& names) {
    if (const xkb::ContextPtr context = xkb::newContext()) {
        keymap_ = xkb::keymapFromNames(context.get(), names.model.constData(),
                                       names.layout.constData(), names.variant.constData());
    }
}

std::optional<int> Keymap::evdevKeyFor(std::uint32_t keysym) const {
    const auto place = keymap_ ? xkb::findKey(keymap_.get(), keysym) : std::nullopt;
    if (!place || place->level != 0) {
        return std::nullopt;
    }
    return static_cast<int>(place->code - xkb::kEvdevOffset);
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
        const auto place = xkb::findKey(keymap_.get(), keysym, 0);
        return place && place->level < 3;
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
