// The shortcuts: the capture's judgement, and how one is stored, taken and rolled back.

#include "hotkey/hotkey_registration.h"
#include "hotkey/shortcut_capture.h"

#include "doubles.h"
#include "in_memory_settings_store.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <vector>

namespace quillet {
namespace {

using namespace modifier;
using namespace Qt::StringLiterals;

constexpr KeyCode kA = 0x00, kF = 0x03, kC = 0x08, kV = 0x09, kB = 0x0B, kK = 0x28, kReturn = 0x24,
                  kEscape = 0x35, kF3 = 0x63, kF17 = 0x40, kInsert = 0x72;

struct Step {
    KeyEvent event;
    std::optional<ShortcutCapture::Outcome> expected;
};

Step down(std::optional<KeyCode> code, ModifierFlags held, QString text, bool confirm,
          bool consumed) {
    return {{KeyEventType::KeyDown, code, held}, ShortcutCapture::Outcome{text, confirm, consumed}};
}
Step flags(ModifierFlags held, QString text, bool confirm) {
    return {{KeyEventType::FlagsChanged, 0, held}, ShortcutCapture::Outcome{text, confirm, false}};
}

TEST(ShortcutCapture, JudgesKeySequencesAsTheUserPressesThem) {
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::optional<Shortcut> captured = std::nullopt;
        Language language = Language::English;
    } scenarios[] = {
        {"Command then F, then let go; lock and other bits do not count",
         {flags(kCommand, u"⌘ (Key missing)"_s, false),
          down(kF, kCommand | 0x10000 | 0x800000, u"⌘F"_s, true, true), flags(0, u"⌘F"_s, true)},
         Shortcut{kF, kCommand}},
        {"each new key drops the held one: F3 alone is held; Escape alone, F under Shift are not",
         {down(kF3, 0, u"F3"_s, true, true),
          down(kEscape, 0, u"Esc (Modifier missing)"_s, false, false),
          down(kB, kCommand, u"⌘B"_s, true, true),
          down(kF, kShift, u"⇧F (Modifier missing)"_s, false, false)}},
        {"a refused key stays pending for a later modifier",
         {down(kF, 0, u"F (Modifier missing)"_s, false, false), flags(kCommand, u"⌘F"_s, true)},
         Shortcut{kF, kCommand}},
        {"Return alone is refused and passed on",
         {down(kReturn, 0, u"\u21A9\uFE0E (Modifier missing)"_s, false, false)}},
        {"the keys of copy and paste are refused, Super-C is not",
         {down(kC, kControl, u"⌃C (Copy disabled)"_s, false, false),
          flags(kControl | kShift, u"⌃⇧C (Copy disabled)"_s, false),
          down(kInsert, kControl, u"⌃Insert (Copy disabled)"_s, false, false),
          down(kV, kControl, u"⌃V (Paste disabled)"_s, false, false),
          down(kV, kControl | kShift, u"⌃⇧V (Paste disabled)"_s, false, false),
          down(kInsert, kShift, u"⇧Insert (Paste disabled)"_s, false, false),
          down(kC, kCommand, u"⌘C"_s, true, true)},
         Shortcut{kC, kCommand}},
        {"a key without a name, a key outside the vocabulary, and the A key",
         {down(kF17, kCommand, u"⌘"_s, true, true),
          down(std::nullopt, kCommand, u"⌘ (Key missing)"_s, false, false),
          down(kA, kControl | kOption, u"⌃⌥A"_s, true, true)},
         Shortcut{kA, kControl | kOption}},
        {"letting go keeps a held combination, a new modifier drops it",
         {down(kK, kControl | kOption, u"⌃⌥K"_s, true, true), flags(kControl, u"⌃⌥K"_s, true),
          flags(0, u"⌃⌥K"_s, true), flags(kShift, u"⇧ (Key missing)"_s, false),
          flags(0, u"Press shortcut..."_s, false)}},
        {"every refusal in Chinese",
         {flags(kControl | kOption, u"⌃⌥（缺少非修饰键）"_s, false),
          flags(0, u"按下快捷键..."_s, false),
          down(kC, kControl, u"⌃C (禁用复制键)"_s, false, false),
          down(kV, kControl, u"⌃V (禁用粘贴键)"_s, false, false),
          down(kF17, 0, u"按下快捷键... (缺少修饰键)"_s, false, false)},
         std::nullopt,
         Language::Chinese},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        ShortcutCapture capture(scenario.language);
        for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
            const Step& step = scenario.steps[i];
            const auto outcome = capture.handle(step.event, true);
            ASSERT_EQ(outcome.has_value(), step.expected.has_value()) << "step " << i;
            if (outcome) {
                EXPECT_EQ(std::tie(outcome->text, outcome->confirmEnabled, outcome->consumed),
                          std::tie(step.expected->text, step.expected->confirmEnabled,
                                   step.expected->consumed))
                    << "step " << i << ": " << outcome->text.toStdString();
            }
        }
        EXPECT_EQ(capture.captured(), scenario.captured);
    }
}

struct RegistrationRig {
    InMemorySettingsStore settings;
    FakeGlobalHotkey hotkey;
    std::ostringstream console;
    HotkeyRegistration hotkeys{hotkey, settings, console};

    void store(std::int64_t code, std::int64_t modifiers) {
        settings.setInteger(u"hotkeyCode"_s, code);
        settings.setInteger(u"hotkeyModifiers"_s, modifiers);
    }
};

// The default stored on a first run: ShortcutTest.FirstRunAsksAtOnce...
TEST(HotkeyRegistration, TakesTheStoredShortcut) {
    RegistrationRig rig;
    rig.store(0, 0xC0000);
    EXPECT_TRUE(rig.hotkeys.registerStoredOrDefault());
    EXPECT_EQ(rig.hotkey.held(), (Shortcut{kA, kControl | kOption}));

    // Lock and other bits stored by someone else do not take part in the grab.
    rig.store(0x60, 0x100000 | 0x10000);
    EXPECT_TRUE(rig.hotkeys.registerStoredOrDefault());
    EXPECT_EQ(rig.hotkey.held(), (Shortcut{0x60, kCommand}));
    EXPECT_TRUE(rig.hotkeys.held());
    rig.hotkeys.release();
    EXPECT_FALSE(rig.hotkey.held().has_value());
    EXPECT_EQ(rig.console.str(), "");
}

// A value out of range, or no number at all, is damage: the default goes in
// its place, never another shortcut (a bare V for modifiers read as 0).
TEST(HotkeyRegistration, DamagedStoredValuesGiveTheDefaultNeverAnotherShortcut) {
    const QVariant damaged[] = {
        u"18446744073709551615"_s,           u"-9223372036854775809"_s,  u"vee"_s, u""_s,
        QVariant::fromValue(~qulonglong{0}), QStringList{u"1"_s, u"2"_s}};
    for (const QVariant& value : damaged) {
        RegistrationRig rig;
        rig.settings.setRaw(u"hotkeyCode"_s, u"9"_s);
        rig.settings.setRaw(u"hotkeyModifiers"_s, value);
        rig.settings.setRaw(u"backHotkeyCode"_s, u"11"_s);
        rig.settings.setRaw(u"backHotkeyModifiers"_s, value);
        EXPECT_EQ(readStoredShortcut(rig.settings), std::nullopt) << value.toString().toStdString();
        EXPECT_TRUE(rig.hotkeys.registerStoredOrDefault());
        rig.hotkeys.registerStoredMoves();
        EXPECT_EQ(rig.hotkey.held(), kDefaultShortcut) << value.toString().toStdString();
        EXPECT_EQ(rig.hotkey.held(ShortcutAction::Back), std::nullopt);
        EXPECT_EQ(rig.settings.integer(u"hotkeyModifiers"_s), 1835008);
    }
}

// Taken, but the settings cannot be written: not reported as set. (A new
// shortcut taken elsewhere rolls back in ShortcutTest.FirstRunAsksAtOnce...)
TEST(HotkeyRegistration, ANewShortcutThatCannotBeStoredIsNotSet) {
    RegistrationRig rig;
    const Shortcut f3{kF3, 0};
    ASSERT_TRUE(rig.hotkeys.registerStoredOrDefault());
    rig.settings.setWritable(false);
    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::PasteNext, f3),
              HotkeyRegistration::Change::Unsaved);
    EXPECT_EQ(rig.hotkey.held(), f3);
    EXPECT_FALSE(rig.hotkeys.clear(ShortcutAction::Back));
}

TEST(HotkeyRegistration, MovesHaveNoShortcutUntilOneIsChosenAndNoTwoActionsShareOne) {
    RegistrationRig rig;
    const Shortcut f3{kF3, 0}, cmdB{kB, kCommand};
    // Out of range counts as none, and grabs nothing.
    rig.settings.setInteger(u"skipHotkeyCode"_s, 0x10000);
    rig.settings.setInteger(u"skipHotkeyModifiers"_s, 0);
    rig.settings.setInteger(u"restartHotkeyCode"_s, kF);
    rig.settings.setInteger(u"restartHotkeyModifiers"_s, -1);
    ASSERT_TRUE(rig.hotkeys.registerStoredOrDefault());
    rig.hotkeys.registerStoredMoves();
    for (const ShortcutAction move : kMoveActions) {
        EXPECT_EQ(rig.hotkeys.shortcutFor(move), std::nullopt);
        EXPECT_EQ(rig.hotkey.held(move), std::nullopt);
    }
    EXPECT_EQ(rig.hotkey.grabs(), 1);
    EXPECT_FALSE(rig.settings.contains(u"backHotkeyCode"_s));

    using enum HotkeyRegistration::Change;
    // How it is stored, and that the paste keeps its own: ShortcutTest.AMovesShortcut...
    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::Back, f3), Set);
    EXPECT_EQ(rig.hotkey.held(ShortcutAction::Back), f3);

    // Refused before anything is stored or grabbed; lock bits make no other shortcut.
    const int grabs = rig.hotkey.grabs();
    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::Skip, kDefaultShortcut), Duplicate);
    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::Skip, {kF3, 0x10000}), Duplicate);
    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::PasteNext, f3), Duplicate);
    EXPECT_EQ(rig.hotkeys.actionWith(f3, ShortcutAction::Skip), ShortcutAction::Back);
    EXPECT_EQ(rig.hotkey.grabs(), grabs);
    EXPECT_EQ(rig.settings.integer(u"skipHotkeyCode"_s), 0x10000);
    EXPECT_EQ(rig.hotkeys.current(), kDefaultShortcut);

    // A move's own shortcut again is no duplicate.
    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::Back, f3), Set);
    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::Skip, cmdB), Set);
    EXPECT_EQ(rig.console.str(), "");
}

TEST(HotkeyRegistration, AMoveThatCannotBeTakenRollsBackAndClearingLeavesTheOthers) {
    RegistrationRig rig;
    const Shortcut f3{kF3, 0}, taken{kK, kControl | kShift};
    rig.hotkey.taken.push_back(taken);
    ASSERT_TRUE(rig.hotkeys.registerStoredOrDefault());
    ASSERT_EQ(rig.hotkeys.change(ShortcutAction::Back, f3), HotkeyRegistration::Change::Set);

    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::Back, taken), HotkeyRegistration::Change::Failed);
    EXPECT_EQ(rig.hotkeys.shortcutFor(ShortcutAction::Back), f3);
    EXPECT_EQ(rig.hotkey.held(ShortcutAction::Back), f3);
    // A move that had none has none again, and nothing stored.
    EXPECT_EQ(rig.hotkeys.change(ShortcutAction::StartOver, taken),
              HotkeyRegistration::Change::Failed);
    EXPECT_FALSE(rig.settings.contains(u"restartHotkeyCode"_s));
    EXPECT_FALSE(rig.settings.contains(u"restartHotkeyModifiers"_s));
    EXPECT_EQ(rig.console.str(),
              "Hotkey registration failed: Back\nHotkey registration failed: Start Over\n");

    // The dialog lets go of one shortcut; a cancelled one comes back.
    rig.hotkeys.release(ShortcutAction::Back);
    EXPECT_EQ(rig.hotkey.held(ShortcutAction::Back), std::nullopt);
    EXPECT_EQ(rig.hotkey.held(), kDefaultShortcut);
    rig.hotkeys.registerStored(ShortcutAction::Back);
    EXPECT_EQ(rig.hotkey.held(ShortcutAction::Back), f3);

    rig.hotkeys.clear(ShortcutAction::Back);
    EXPECT_EQ(rig.hotkey.held(ShortcutAction::Back), std::nullopt);
    EXPECT_TRUE(rig.hotkeys.held());
    rig.hotkeys.registerStoredMoves();
    EXPECT_EQ(rig.hotkey.held(ShortcutAction::Back), std::nullopt);
}

}  // namespace
}  // namespace quillet
