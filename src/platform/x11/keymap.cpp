#include "platform/x11/keymap.h"

// X11 headers after the program's own (which pull in Qt): they define macros
// that break Qt headers.
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>

namespace quillet::x11 {

ModifierMasks modifierMasksFromMap(const std::array<std::vector<Keysym>, 8>& rows) {
    ModifierMasks masks;
    // Shift, Lock and Control (rows 0 to 2) are fixed; the rest are Mod1..Mod5.
    // The first row holding a key wins.
    const auto take = [](std::uint16_t& mask, std::uint16_t bit) {
        if (mask == 0) {
            mask = bit;
        }
    };
    for (std::size_t row = 3; row < rows.size(); ++row) {
        const auto bit = static_cast<std::uint16_t>(1U << row);
        for (const Keysym keysym : rows[row]) {
            switch (keysym) {
                case XK_Alt_L:
                case XK_Alt_R:
                    take(masks.alt, bit);
                    break;
                case XK_Super_L:
                case XK_Super_R:
                    take(masks.super, bit);
                    break;
                case XK_Num_Lock:
                    take(masks.numLock, bit);
                    break;
                case XK_Scroll_Lock:
                    take(masks.scrollLock, bit);
                    break;
                default:
                    break;
            }
        }
    }
    return masks;
}

std::optional<std::uint16_t> xModifiersForFlags(ModifierFlags flags, const ModifierMasks& masks) {
    std::uint16_t state = 0;
    if ((flags & modifier::kShift) != 0) {
        state |= kShiftMask;
    }
    if ((flags & modifier::kControl) != 0) {
        state |= kControlMask;
    }
    if ((flags & modifier::kOption) != 0) {
        if (masks.alt == 0) {
            return std::nullopt;
        }
        state |= masks.alt;
    }
    if ((flags & modifier::kCommand) != 0) {
        if (masks.super == 0) {
            return std::nullopt;
        }
        state |= masks.super;
    }
    return state;
}

ModifierFlags flagsForXModifiers(std::uint16_t state, const ModifierMasks& masks) {
    ModifierFlags flags = 0;
    if ((state & kShiftMask) != 0) {
        flags |= modifier::kShift;
    }
    if ((state & kControlMask) != 0) {
        flags |= modifier::kControl;
    }
    if ((state & masks.alt) != 0) {
        flags |= modifier::kOption;
    }
    if ((state & masks.super) != 0) {
        flags |= modifier::kCommand;
    }
    return flags;
}

std::vector<std::uint16_t> lockVariants(const ModifierMasks& masks) {
    std::vector<std::uint16_t> locks;
    for (const std::uint16_t lock : {kLockMask, masks.numLock, masks.scrollLock}) {
        if (lock != 0 && std::find(locks.begin(), locks.end(), lock) == locks.end()) {
            locks.push_back(lock);
        }
    }
    // Bit i of the subset number picks locks[i], so the empty subset comes first.
    std::vector<std::uint16_t> variants;
    variants.reserve(std::size_t{1} << locks.size());
    for (unsigned subset = 0; subset < (1U << locks.size()); ++subset) {
        std::uint16_t state = 0;
        for (std::size_t i = 0; i < locks.size(); ++i) {
            if ((subset & (1U << i)) != 0) {
                state |= locks[i];
            }
        }
        variants.push_back(state);
    }
    return variants;
}

Keysym keysymForCharacter(char32_t c) {
    return xkb_utf32_to_keysym(c);
}

TypingPlan planTyping(std::u32string_view text, const KeysymTable& table, unsigned group) {
    const std::size_t keys = table.perKeycode == 0 ? 0 : table.keysyms.size() / table.perKeycode;
    const auto at = [&](std::size_t key, std::size_t column) -> Keysym {
        return column < table.perKeycode ? table.keysyms[key * table.perKeycode + column] : 0;
    };
    // Where the active group's two levels sit in the core table; groups past
    // the second are not spelled out there, and get spare keys.
    const std::size_t column = group <= 1 ? 2 * std::size_t{group} : table.perKeycode;
    std::vector<std::uint8_t> spares;
    for (std::size_t key = keys; key-- > 0;) {
        bool empty = true;
        for (std::size_t c = 0; c < table.perKeycode; ++c) {
            empty = empty && at(key, c) == 0;
        }
        if (empty) {
            spares.push_back(static_cast<std::uint8_t>(table.first + key));
        }
    }

    TypingPlan plan;
    for (const char32_t c : text) {
        const Keysym wanted = keysymForCharacter(c);
        std::optional<TypedKey> found;
        for (std::size_t level = 0; level < 2 && !found; ++level) {
            for (std::size_t key = 0; key < keys && !found; ++key) {
                // By character: layouts use the old keysyms (Cyrillic_be), not Unicode ones.
                if (xkb_keysym_to_utf32(at(key, column + level)) == c) {
                    found = TypedKey{static_cast<std::uint8_t>(table.first + key), level == 1};
                }
            }
        }
        if (!found) {
            const auto mapped = std::find_if(plan.spareMaps.begin(), plan.spareMaps.end(),
                                             [&](const auto& map) { return map.second == wanted; });
            if (mapped != plan.spareMaps.end()) {
                found = TypedKey{mapped->first, false};
            } else if (plan.spareMaps.size() < spares.size()) {
                plan.spareMaps.emplace_back(spares[plan.spareMaps.size()], wanted);
                found = TypedKey{plan.spareMaps.back().first, false};
            } else {
                break;
            }
        }
        plan.keys.push_back(*found);
        ++plan.typed;
    }
    return plan;
}

std::vector<KeyRun> keyRuns(std::vector<std::pair<std::uint8_t, Keysym>> keys) {
    std::sort(keys.begin(), keys.end());
    std::vector<KeyRun> runs;
    for (const auto& [keycode, keysym] : keys) {
        if (runs.empty() || runs.back().first + runs.back().keysyms.size() != keycode) {
            runs.push_back({keycode, {}});
        }
        runs.back().keysyms.push_back(keysym);
    }
    return runs;
}

}  // namespace quillet::x11
