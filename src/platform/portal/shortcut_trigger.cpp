#include "platform/portal/shortcut_trigger.h"

#include "platform/xkb/key_table.h"

#include <xkbcommon/xkbcommon.h>

#include <array>

namespace quillet::portal {

std::optional<QString> shortcutTrigger(Shortcut shortcut) {
    const auto keysym = xkb::keysymForKeyCode(shortcut.keyCode);
    std::array<char, 64> name{};
    if (!keysym || xkb_keysym_get_name(*keysym, name.data(), name.size()) <= 0) {
        return std::nullopt;
    }
    QString trigger;
    // In the order the program shows them, ⌃⌥⇧⌘.
    constexpr std::pair<ModifierFlags, const char16_t*> kModifiers[] = {
        {modifier::kControl, u"CTRL+"},
        {modifier::kOption, u"ALT+"},
        {modifier::kShift, u"SHIFT+"},
        {modifier::kCommand, u"LOGO+"},
    };
    for (const auto& [flag, text] : kModifiers) {
        if ((shortcut.modifiers & flag) != 0) {
            trigger += QString::fromUtf16(text);
        }
    }
    return trigger + QString::fromLatin1(name.data());
}

}  // namespace quillet::portal
