#include "platform/key_translator_x11.h"

#include <gtest/gtest.h>

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
    const struct {
        const char* name;
        std::vector<Keysym> keysyms;
        std::uint16_t ownBits;
        bool press;
        std::uint16_t state;
        std::optional<KeyEvent> expected;
    } cases[] = {
        {"letter with Super held",
         {XK_f, XK_F},
         0,
         true,
         kMod4,
         KeyEvent{KeyEventType::KeyDown, 0x03, kCommand}},
        {"keypad with NumLock off, Control held",
         {XK_KP_End, XK_KP_1},
         0,
         true,
         kControlMask | kMod2,
         KeyEvent{KeyEventType::KeyDown, 0x53, kControl}},
        {"second layout names the key",
         {XK_y, XK_Y, XK_z, XK_Z},
         0,
         true,
         kSecondGroup,
         KeyEvent{KeyEventType::KeyDown, 0x06, 0}},
        {"second layout without Latin letters falls back to the first",
         {XK_f, XK_F, XK_Cyrillic_a, XK_Cyrillic_A},
         0,
         true,
         kSecondGroup | kMod1,
         KeyEvent{KeyEventType::KeyDown, 0x03, kOption}},
        {"an ordinary key's release is not watched", {XK_f, XK_F}, 0, false, kMod4, std::nullopt},
        {"Super's press adds Command",
         {XK_Super_L},
         kMod4,
         true,
         kControlMask,
         KeyEvent{KeyEventType::FlagsChanged, 0x37, kControl | kCommand}},
        {"Super's release takes it away",
         {XK_Super_L},
         kMod4,
         false,
         kControlMask | kMod4,
         KeyEvent{KeyEventType::FlagsChanged, 0x37, kControl}},
        {"a modifier key on no row still only changes the state",
         {XK_ISO_Level3_Shift},
         0,
         true,
         kShiftMask,
         KeyEvent{KeyEventType::FlagsChanged, 0, kShift}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto event = translateKey(c.press, c.state, KeyFacts{c.keysyms, c.ownBits, kMasks});
        ASSERT_EQ(event.has_value(), c.expected.has_value());
        if (event) {
            EXPECT_EQ(event->type, c.expected->type);
            EXPECT_EQ(event->keyCode, c.expected->keyCode);
            EXPECT_EQ(event->modifierFlags, c.expected->modifierFlags);
        }
    }
}

}  // namespace
}  // namespace quillet::x11
