#include "platform/xkb/key_table.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace quillet::xkb {

namespace {

struct KeyEntry {
    KeyCode code;
    xkb_keysym_t keysym;
};

// Each key code's keysym: used in both directions.
constexpr KeyEntry kKeys[] = {
    // Letters, digits and punctuation of the US layout.
    {0x00, XKB_KEY_a},
    {0x01, XKB_KEY_s},
    {0x02, XKB_KEY_d},
    {0x03, XKB_KEY_f},
    {0x04, XKB_KEY_h},
    {0x05, XKB_KEY_g},
    {0x06, XKB_KEY_z},
    {0x07, XKB_KEY_x},
    {0x08, XKB_KEY_c},
    {0x09, XKB_KEY_v},
    {0x0B, XKB_KEY_b},
    {0x0C, XKB_KEY_q},
    {0x0D, XKB_KEY_w},
    {0x0E, XKB_KEY_e},
    {0x0F, XKB_KEY_r},
    {0x10, XKB_KEY_y},
    {0x11, XKB_KEY_t},
    {0x12, XKB_KEY_1},
    {0x13, XKB_KEY_2},
    {0x14, XKB_KEY_3},
    {0x15, XKB_KEY_4},
    {0x16, XKB_KEY_6},
    {0x17, XKB_KEY_5},
    {0x18, XKB_KEY_equal},
    {0x19, XKB_KEY_9},
    {0x1A, XKB_KEY_7},
    {0x1B, XKB_KEY_minus},
    {0x1C, XKB_KEY_8},
    {0x1D, XKB_KEY_0},
    {0x1E, XKB_KEY_bracketright},
    {0x1F, XKB_KEY_o},
    {0x20, XKB_KEY_u},
    {0x21, XKB_KEY_bracketleft},
    {0x22, XKB_KEY_i},
    {0x23, XKB_KEY_p},
    {0x25, XKB_KEY_l},
    {0x26, XKB_KEY_j},
    {0x27, XKB_KEY_apostrophe},
    {0x28, XKB_KEY_k},
    {0x29, XKB_KEY_semicolon},
    {0x2A, XKB_KEY_backslash},
    {0x2B, XKB_KEY_comma},
    {0x2C, XKB_KEY_slash},
    {0x2D, XKB_KEY_n},
    {0x2E, XKB_KEY_m},
    {0x2F, XKB_KEY_period},
    {0x32, XKB_KEY_grave},
    // Editing and navigation. The Mac's "Delete" erases backwards.
    {0x24, XKB_KEY_Return},
    {0x30, XKB_KEY_Tab},
    {0x31, XKB_KEY_space},
    {0x33, XKB_KEY_BackSpace},
    {0x35, XKB_KEY_Escape},
    // PC keyboards have Insert where the Mac has Help.
    {0x72, XKB_KEY_Insert},
    {0x73, XKB_KEY_Home},
    {0x74, XKB_KEY_Prior},
    {0x75, XKB_KEY_Delete},
    {0x77, XKB_KEY_End},
    {0x79, XKB_KEY_Next},
    {0x7B, XKB_KEY_Left},
    {0x7C, XKB_KEY_Right},
    {0x7D, XKB_KEY_Down},
    {0x7E, XKB_KEY_Up},
    // Modifier keys; Command is Super.
    {0x36, XKB_KEY_Super_R},
    {0x37, XKB_KEY_Super_L},
    {0x38, XKB_KEY_Shift_L},
    {0x39, XKB_KEY_Caps_Lock},
    {0x3A, XKB_KEY_Alt_L},
    {0x3B, XKB_KEY_Control_L},
    {0x3C, XKB_KEY_Shift_R},
    {0x3D, XKB_KEY_Alt_R},
    {0x3E, XKB_KEY_Control_R},
    // Function keys.
    {0x7A, XKB_KEY_F1},
    {0x78, XKB_KEY_F2},
    {0x63, XKB_KEY_F3},
    {0x76, XKB_KEY_F4},
    {0x60, XKB_KEY_F5},
    {0x61, XKB_KEY_F6},
    {0x62, XKB_KEY_F7},
    {0x64, XKB_KEY_F8},
    {0x65, XKB_KEY_F9},
    {0x6D, XKB_KEY_F10},
    {0x67, XKB_KEY_F11},
    {0x6F, XKB_KEY_F12},
    {0x69, XKB_KEY_F13},
    {0x6B, XKB_KEY_F14},
    {0x71, XKB_KEY_F15},
    {0x6A, XKB_KEY_F16},
    {0x40, XKB_KEY_F17},
    {0x4F, XKB_KEY_F18},
    {0x50, XKB_KEY_F19},
    {0x5A, XKB_KEY_F20},
    // Keypad, as it reads with NumLock on.
    {0x41, XKB_KEY_KP_Decimal},
    {0x43, XKB_KEY_KP_Multiply},
    {0x45, XKB_KEY_KP_Add},
    {0x47, XKB_KEY_Clear},
    {0x4B, XKB_KEY_KP_Divide},
    {0x4C, XKB_KEY_KP_Enter},
    {0x4E, XKB_KEY_KP_Subtract},
    {0x51, XKB_KEY_KP_Equal},
    {0x52, XKB_KEY_KP_0},
    {0x53, XKB_KEY_KP_1},
    {0x54, XKB_KEY_KP_2},
    {0x55, XKB_KEY_KP_3},
    {0x56, XKB_KEY_KP_4},
    {0x57, XKB_KEY_KP_5},
    {0x58, XKB_KEY_KP_6},
    {0x59, XKB_KEY_KP_7},
    {0x5B, XKB_KEY_KP_8},
    {0x5C, XKB_KEY_KP_9},
};

// Other keysyms the same keys produce; read, never sent. Upper-case letters
// are folded in keyCodeForKeysym instead of listed.
constexpr KeyEntry kAlternateKeysyms[] = {
    // The keypad with NumLock off.
    {0x41, XKB_KEY_KP_Delete},
    {0x52, XKB_KEY_KP_Insert},
    {0x53, XKB_KEY_KP_End},
    {0x54, XKB_KEY_KP_Down},
    {0x55, XKB_KEY_KP_Next},
    {0x56, XKB_KEY_KP_Left},
    {0x57, XKB_KEY_KP_Begin},
    {0x58, XKB_KEY_KP_Right},
    {0x59, XKB_KEY_KP_Home},
    {0x5B, XKB_KEY_KP_Up},
    {0x5C, XKB_KEY_KP_Prior},
    // Shift+Tab.
    {0x30, XKB_KEY_ISO_Left_Tab},
    {0x72, XKB_KEY_Help},
};

template <std::size_t N, std::size_t M>
constexpr bool keysymsUnique(const KeyEntry (&a)[N], const KeyEntry (&b)[M]) {
    for (std::size_t i = 0; i < N + M; ++i) {
        const xkb_keysym_t first = i < N ? a[i].keysym : b[i - N].keysym;
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

std::optional<KeyCode> findCode(const auto& table, xkb_keysym_t keysym) {
    const auto* found = std::find_if(std::begin(table), std::end(table),
                                     [keysym](const KeyEntry& e) { return e.keysym == keysym; });
    if (found == std::end(table)) {
        return std::nullopt;
    }
    return found->code;
}

}  // namespace

std::optional<xkb_keysym_t> keysymForKeyCode(KeyCode keyCode) {
    const auto* found = std::find_if(std::begin(kKeys), std::end(kKeys),
                                     [keyCode](const KeyEntry& e) { return e.code == keyCode; });
    if (found == std::end(kKeys)) {
        return std::nullopt;
    }
    return found->keysym;
}

std::optional<QString> keysymName(KeyCode keyCode) {
    const auto keysym = keysymForKeyCode(keyCode);
    std::array<char, 64> name{};
    if (!keysym || xkb_keysym_get_name(*keysym, name.data(), name.size()) <= 0) {
        return std::nullopt;
    }
    return QString::fromLatin1(name.data());
}

std::optional<KeyCode> keyCodeForKeysym(xkb_keysym_t keysym) {
    if (keysym >= XKB_KEY_A && keysym <= XKB_KEY_Z) {
        keysym += XKB_KEY_a - XKB_KEY_A;
    }
    if (const auto code = findCode(kKeys, keysym)) {
        return code;
    }
    return findCode(kAlternateKeysyms, keysym);
}

}  // namespace quillet::xkb
