#include "core/shortcut_action.h"

#include "core/keys.h"

namespace quillet {

ShortcutKeys shortcutKeys(ShortcutAction action) {
    switch (action) {
        case ShortcutAction::PasteNext:
            break;
        case ShortcutAction::Back:
            return {u"backHotkeyCode", u"backHotkeyModifiers"};
        case ShortcutAction::Skip:
            return {u"skipHotkeyCode", u"skipHotkeyModifiers"};
        case ShortcutAction::StartOver:
            return {u"restartHotkeyCode", u"restartHotkeyModifiers"};
    }
    return {kHotkeyCodeKey, kHotkeyModifiersKey};
}

const Text& actionName(ShortcutAction action) {
    switch (action) {
        case ShortcutAction::PasteNext:
            break;
        case ShortcutAction::Back:
            return text::kBack;
        case ShortcutAction::Skip:
            return text::kSkip;
        case ShortcutAction::StartOver:
            return text::kStartOver;
    }
    return text::kPasteNextAction;
}

}  // namespace quillet
