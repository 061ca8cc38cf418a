#include "platform/x11/keymap.h"

// X11 headers after the program's own (which pull in Qt): they define macros
// that break Qt headers.
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <iterator>

namespace quillet::x11 {

namespace {

struct KeyEntry {
    KeyCode code;
    Keysym keysym;
};

// Each key code's keysym: used in both directions.
constexpr KeyEntry kKeys[] = {
    // Letters, digits and punctuation of the US layout.
    {0x00, XK_a},
    {0x01, XK_s},
    {0x02, XK_d},
    {0x03, XK_f},
    {0x04, XK_h},
    {0x05, XK_g},
    {0x06, XK_z},
    {0x07, XK_x},
    {0x08, XK_c},
    {0x09, XK_v},
    {0x0B, XK_b},
    {0x0C, XK_q},
    {0x0D, XK_w},
    {0x0E, XK_e},
    {0x0F, XK_r},
    {0x10, XK_y},
    {0x11, XK_t},
    {0x12, XK_1},
    {0x13, XK_2},
    {0x14, XK_3},
    {0x15, XK_4},
    {0x16, XK_6},
    {0x17, XK_5},
    {0x18, XK_equal},
    {0x19, XK_9},
    {0x1A, XK_7},
    {0x1B, XK_minus},
    {0x1C, XK_8},
    {0x1D, XK_0},
    {0x1E, XK_bracketright},
    {0x1F, XK_o},
    {0x20, XK_u},
    {0x21, XK_bracketleft},
    {0x22, XK_i},
    {0x23, XK_p},
    {0x25, XK_l},
    {0x26, XK_j},
    {0x27, XK_apostrophe},
    {0x28, XK_k},
    {0x29, XK_semicolon},
    {0x2A, XK_backslash},
    {0x2B, XK_comma},
    {0x2C, XK_slash},
    {0x2D, XK_n},
    {0x2E, XK_m},
    {0x2F, XK_period},
    {0x32, XK_grave},
    // Editing and navigation. The Mac's "Delete" erases backwards.
    {0x24, XK_Return},
    {0x30, XK_Tab},
    {0x31, XK_space},
    {0x33, XK_BackSpace},
    {0x35, XK_Escape},
    // PC keyboards have Insert where the Mac has Help.
    {0x72, XK_Insert},
    {0x73, XK_Home},
    {0x74, XK_Prior},
    {0x75, XK_Delete},
    {0x77, XK_End},
    {0x79, XK_Next},
    {0x7B, XK_Left},
    {0x7C, XK_Right},
    {0x7D, XK_Down},
    {0x7E, XK_Up},
    // Modifier keys; Command is Super.
    {0x36, XK_Super_R},
    {0x37, XK_Super_L},
    {0x38, XK_Shift_L},
    {0x39, XK_Caps_Lock},
    {0x3A, XK_Alt_L},
    {0x3B, XK_Control_L},
    {0x3C, XK_Shift_R},
    {0x3D, XK_Alt_R},
    {0x3E, XK_Control_R},
    // Function keys.
    {0x7A, XK_F1},
    {0x78, XK_F2},
    {0x63, XK_F3},
    {0x76, XK_F4},
    {0x60, XK_F5},
    {0x61, XK_F6},
    {0x62, XK_F7},
    {0x64, XK_F8},
    {0x65, XK_F9},
    {0x6D, XK_F10},
    {0x67, XK_F11},
    {0x6F, XK_F12},
    {0x69, XK_F13},
    {0x6B, XK_F14},
    {0x71, XK_F15},
    {0x6A, XK_F16},
    {0x40, XK_F17},
    {0x4F, XK_F18},
    {0x50, XK_F19},
    {0x5A, XK_F20},
    // Keypad, as it reads with NumLock on.
    {0x41, XK_KP_Decimal},
    {0x43, XK_KP_Multiply},
    {0x45, XK_KP_Add},
    {0x47, XK_Clear},
    {0x4B, XK_KP_Divide},
    {0x4C, XK_KP_Enter},
    {0x4E, XK_KP_Subtract},
    {0x51, XK_KP_Equal},
    {0x52, XK_KP_0},
    {0x53, XK_KP_1},
    {0x54, XK_KP_2},
    {0x55, XK_KP_3},
    {0x56, XK_KP_4},
    {0x57, XK_KP_5},
    {0x58, XK_KP_6},
    {0x59, XK_KP_7},
    {0x5B, XK_KP_8},
    {0x5C, XK_KP_9},
};

// Other keysyms the same keys produce; read, never sent. Upper-case letters
// are folded in keyCodeForKeysym instead of listed.
constexpr KeyEntry kAlternateKeysyms[] = {
    // The keypad with NumLock off.
    {0x41, XK_KP_Delete},
    {0x52, XK_KP_Insert},
    {0x53, XK_KP_End},
    {0x54, XK_KP_Down},
    {0x55, XK_KP_Next},
    {0x56, XK_KP_Left},
    {0x57, XK_KP_Begin},
    {0x58, XK_KP_Right},
    {0x59, XK_KP_Home},
    {0x5B, XK_KP_Up},
    {0x5C, XK_KP_Prior},
    // Shift+Tab.
    {0x30, XK_ISO_Left_Tab},
    {0x72, XK_Help},
};

template <std::size_t N, std::size_t M>
constexpr bool keysymsUnique(const KeyEntry (&a)[N], const KeyEntry (&b)[M]) {
    for (std::size_t i = 0; i < N + M; ++i) {
        const Keysym first = i < N ? a[i].keysym : b[i - N].keysym;
        for (std::size_t j = i + 1; j < N + M; ++j) {
            if (first == (j < N ? a[j].keysym : b[j - N].keysym)) {
                return false;
            }
        }
    }
    return true;
}

template <std::size_t N>
constexpr bool codesUnique(const KeyEntry (&keys)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = i + 1; j < N; ++j) {
            if (keys[i].code == keys[j].code) {
                return false;
            }
        }
    }
    return true;
}

static_assert(codesUnique(kKeys), "a key code has one keysym");
static_assert(keysymsUnique(kKeys, kAlternateKeysyms), "a keysym belongs to one key");

std::optional<KeyCode> findCode(const auto& table, Keysym keysym) {
    const auto* found = std::find_if(std::begin(table), std::end(table),
                                     [keysym](const KeyEntry& e) { return e.keysym == keysym; });
    if (found == std::end(table)) {
        return std::nullopt;
    }
    return found->code;
}

}  // namespace

std::optional<Keysym> keysymForKeyCode(KeyCode keyCode) {
    const auto* found = std::find_if(std::begin(kKeys), std::end(kKeys),
                                     [keyCode](const KeyEntry& e) { return e.code == keyCode; });
    if (found == std::end(kKeys)) {
        return std::nullopt;
    }
    return found->keysym;
}

std::optional<KeyCode> keyCodeForKeysym(Keysym keysym) {
    if (keysym >= XK_A && keysym <= XK_Z) {
        keysym += XK_a - XK_A;
    }
    if (const auto code = findCode(kKeys, keysym)) {
        return code;
    }
    return findCode(kAlternateKeysyms, keysym);
}

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
