#include "platform/key_translator_x11.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <X11/keysym.h>

namespace quillet::x11 {
namespace {

using namespace modifier;

// A common server: Alt on Mod1, NumLock on Mod2, Super on Mod4.
constexpr std::uint16_t kMod1 = 1U << 3, kMod2 = 1U << 4, kMod4 = 1U << 6;
constexpr ModifierMasks kMasks{kMod1, kMod4, kMod2, 0};
constexpr std::uint16_t kSecondGroup = 1U << 13;

TEST(KeyTranslatorX11, ReadsKeysAndModifiersInTheProgramsVocabulary) {
    using enum KeyEventType;
    const struct {
        std::vector<Keysym> keysyms;
        std::uint16_t ownBits, state;
        bool press;
        KeyEvent expected;
    } cases[] = {
        {{XK_f, XK_F}, 0, kMod4, true, {KeyDown, 0x03, kCommand}},
        // Keypad with NumLock off.
        {{XK_KP_End, XK_KP_1}, 0, kControlMask | kMod2, true, {KeyDown, 0x53, kControl}},
        // The second layout names the key, or the first when it has no Latin letters.
        {{XK_y, XK_Y, XK_z, XK_Z}, 0, kSecondGroup, true, {KeyDown, 0x06, 0}},
        {{XK_f, XK_F, XK_Cyrillic_a, XK_Cyrillic_A},
         0,
         kSecondGroup | kMod1,
         true,
         {KeyDown, 3, kOption}},
        // Super's press adds Command, its release takes it away.
        {{XK_Super_L}, kMod4, kControlMask, true, {FlagsChanged, 0x37, kControl | kCommand}},
        {{XK_Super_L}, kMod4, kControlMask | kMod4, false, {FlagsChanged, 0x37, kControl}},
        // A modifier key on no row still only changes the state.
        {{XK_ISO_Level3_Shift}, 0, kShiftMask, true, {FlagsChanged, 0, kShift}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto event = translateKey(c.press, c.state, KeyFacts{c.keysyms, c.ownBits, kMasks});
        ASSERT_TRUE(event.has_value()) << i;
        EXPECT_EQ(std::tie(event->type, event->keyCode, event->modifierFlags),
                  std::tie(c.expected.type, c.expected.keyCode, c.expected.modifierFlags))
            << i;
    }
    // An ordinary key's release is not watched.
    const std::vector<Keysym> f{XK_f, XK_F};
    EXPECT_EQ(translateKey(false, kMod4, KeyFacts{f, 0, kMasks}), std::nullopt);
}

}  // namespace
}  // namespace quillet::x11
