#include "platform/portal/shortcut_trigger.h"

#include "platform/xkb/key_table.h"

namespace quillet::portal {

std::optional<QString> shortcutTrigger(Shortcut shortcut) {
    const auto name = xkb::keysymName(shortcut.keyCode);
    if (!name) {
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
    return trigger + *name;
}

}  // namespace quillet::portal
