#include "platform/x11_keymap.h"

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <algorithm>
#include <set>

namespace quillet::x11 {
namespace {

using namespace modifier;
using namespace Qt::StringLiterals;

constexpr std::uint16_t kMod1 = 1U << 3, kMod2 = 1U << 4, kMod3 = 1U << 5, kMod4 = 1U << 6,
                        kMod5 = 1U << 7;

using ModifierMap = std::array<std::vector<Keysym>, 8>;

// Xvfb's default mapping: Alt on Mod1, NumLock on Mod2, Super on Mod4.
const ModifierMap kXvfbMap{{{XK_Shift_L, XK_Shift_R},
                            {XK_Caps_Lock},
                            {XK_Control_L, XK_Control_R},
                            {XK_Alt_L, XK_Meta_L},
                            {XK_Num_Lock},
                            {},
                            {XK_Super_L, XK_Super_R, XK_Hyper_L},
                            {XK_ISO_Level3_Shift}}};
// Alt keys on the fixed rows don't count.
const ModifierMap kUnusualMap{{{XK_Shift_L, XK_Alt_L},
                               {XK_Caps_Lock},
                               {XK_Control_L},
                               {XK_Num_Lock},
                               {XK_Scroll_Lock},
                               {XK_Super_R},
                               {},
                               {XK_Alt_R}}};
constexpr ModifierMasks kUnusualMasks{kMod5, kMod3, kMod1, kMod2};

TEST(X11Keymap, EveryKeyCodeRoundTrips) {
    for (int code = 0; code <= 0xFFFF; ++code) {
        const auto keyCode = static_cast<KeyCode>(code);
        const auto keysym = keysymForKeyCode(keyCode);
        // A key the program can name or record must also be grabbable.
        if (keyCodeToChar(keyCode) || !specialKeyCodeName(keyCode).isEmpty() ||
            modifierKeyCodes.contains(keyCode) || standaloneKeyCodes.contains(keyCode)) {
            EXPECT_TRUE(keysym.has_value()) << std::hex << code;
        }
        if (keysym) {
            EXPECT_EQ(keyCodeForKeysym(*keysym), keyCode) << std::hex << code;
        }
    }
    // Keys no name covers.
    EXPECT_EQ(keysymForKeyCode(0x2F), XK_period);
    EXPECT_EQ(keysymForKeyCode(0x75), XK_Delete);
    EXPECT_EQ(keysymForKeyCode(0x5A), XK_F20);
}

// Names and keysyms are kept apart; where both are plain they must agree.
TEST(X11Keymap, KeysymsAgreeWithKeyNames) {
    int checked = 0;
    for (KeyCode code = 0; code < 128; ++code) {
        const auto keysym = keysymForKeyCode(code);
        const QString special = specialKeyCodeName(code);
        if (const auto name = keyCodeToChar(code)) {
            // Printable ASCII keysyms equal their character.
            EXPECT_EQ(keysym, name->toLower().front().unicode()) << std::hex << code;
        } else if (keysym >= XK_F1 && keysym <= XK_F35 && !special.isEmpty()) {
            EXPECT_EQ(special, u"F"_s + QString::number(*keysym - XK_F1 + 1)) << std::hex << code;
        } else if (keysym >= XK_KP_0 && keysym <= XK_KP_9) {
            EXPECT_EQ(special, u"Num "_s + QString::number(*keysym - XK_KP_0)) << std::hex << code;
        } else {
            continue;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 46 + 16 + 10);
}

// Shifted and keypad forms lead to the same key; modifiers and keys the
// program has no code for lead nowhere.
TEST(X11Keymap, OtherKeysymsOfTheSameKeys) {
    const std::pair<Keysym, std::optional<KeyCode>> cases[] = {
        {XK_A, 0x00},      {XK_KP_Insert, 0x52}, {XK_ISO_Left_Tab, 0x30},
        {XK_Insert, 0x72}, {XK_Meta_L, {}},      {XK_Num_Lock, {}},
        {XK_F21, {}},      {XK_exclam, {}},      {0, {}}};
    for (const auto& [keysym, code] : cases) {
        EXPECT_EQ(keyCodeForKeysym(keysym), code) << std::hex << keysym;
    }
}

TEST(X11Keymap, MasksFromModifierMap) {
    EXPECT_EQ(modifierMasksFromMap(kXvfbMap), (ModifierMasks{kMod1, kMod4, kMod2, 0}));
    EXPECT_EQ(modifierMasksFromMap(kUnusualMap), kUnusualMasks);
    EXPECT_EQ(modifierMasksFromMap({}), ModifierMasks{});
}

TEST(X11Keymap, LockVariantsCoverEverySubsetOnce) {
    const struct {
        ModifierMasks masks;
        std::size_t count;
    } cases[] = {{modifierMasksFromMap(kXvfbMap), 4},
                 {kUnusualMasks, 8},
                 {{kMod1, kMod4, kMod2, kMod2}, 4},
                 {{}, 2}};
    for (const auto& c : cases) {
        const auto variants = lockVariants(c.masks);
        ASSERT_EQ(variants.size(), c.count);
        EXPECT_EQ(variants.front(), 0);
        EXPECT_EQ(std::set(variants.begin(), variants.end()).size(), c.count);
        const std::uint16_t all = kLockMask | c.masks.numLock | c.masks.scrollLock;
        EXPECT_EQ(std::count(variants.begin(), variants.end(), all), 1);
        EXPECT_TRUE(std::all_of(variants.begin(), variants.end(),
                                [all](std::uint16_t state) { return (state & ~all) == 0; }));
    }
}

TEST(X11Keymap, ModifierFlagsRoundTripThroughXState) {
    const ModifierMasks xvfb = modifierMasksFromMap(kXvfbMap);
    EXPECT_EQ(xModifiersForFlags(kDefaultHotkeyModifiers, xvfb), kControlMask | kMod1 | kMod4);
    EXPECT_EQ(xModifiersForFlags(0x10000 | kShift, xvfb), kShiftMask);

    const ModifierMasks noSuper{kMod1, 0, kMod2, 0};
    EXPECT_EQ(xModifiersForFlags(kCommand, noSuper), std::nullopt);
    EXPECT_EQ(xModifiersForFlags(kControl | kOption, noSuper), kControlMask | kMod1);
    EXPECT_EQ(xModifiersForFlags(kOption, ModifierMasks{}), std::nullopt);

    for (const ModifierMasks& masks : {xvfb, kUnusualMasks}) {
        // The four shortcut bits are adjacent: this steps through every combination.
        for (ModifierFlags flags = 0; flags <= kShortcutMask; flags += kShift) {
            const auto state = xModifiersForFlags(flags, masks);
            ASSERT_TRUE(state.has_value()) << flags;
            for (const auto lock : lockVariants(masks)) {
                EXPECT_EQ(flagsForXModifiers(*state | lock, masks), flags) << flags << ' ' << lock;
            }
        }
    }
}

}  // namespace
}  // namespace quillet::x11
