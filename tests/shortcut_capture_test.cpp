#include "hotkey/shortcut_capture.h"

#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/recording_settings_delegate.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace quillet {
namespace {

using namespace modifier;
using namespace Qt::StringLiterals;

constexpr KeyCode kA = 0x00, kF = 0x03, kC = 0x08, kB = 0x0B, kK = 0x28, kReturn = 0x24,
                  kEscape = 0x35, kF3 = 0x63, kF17 = 0x40;

struct Step {
    KeyEvent event;
    std::optional<ShortcutCapture::Outcome> expected;  // none: not the dialog's event
    bool inWindow = true;
};

Step down(KeyCode code, ModifierFlags held, QString text, bool confirm, bool consumed) {
    return {{KeyEventType::KeyDown, code, held}, ShortcutCapture::Outcome{text, confirm, consumed}};
}
Step flags(ModifierFlags held, QString text, bool confirm) {
    return {{KeyEventType::FlagsChanged, 0, held}, ShortcutCapture::Outcome{text, confirm, false}};
}
Step elsewhere(KeyEventType type, KeyCode code, ModifierFlags held) {
    return {{type, code, held}, std::nullopt, false};
}

struct Scenario {
    const char* name;
    bool chinese;
    std::vector<Step> steps;
    std::optional<Shortcut> captured;
};

TEST(ShortcutCapture, JudgesKeySequencesAsTheUserPressesThem) {
    const Scenario scenarios[] = {
        {"command then F, then let go; lock and other bits do not count",
         false,
         {flags(kCommand, u"⌘ (Key missing)"_s, false),
          down(kF, kCommand | 0x10000 | 0x800000, u"⌘F"_s, true, true), flags(0, u"⌘F"_s, true)},
         Shortcut{kF, kCommand}},
        {"each new key drops the held one: F3 and Escape alone are held, F alone is not",
         false,
         {down(kF3, 0, u"F3"_s, true, true), down(kEscape, 0, u"Esc"_s, true, true),
          down(kB, kCommand, u"⌘B"_s, true, true),
          down(kF, 0, u"F (Modifier missing)"_s, false, false)},
         std::nullopt},
        {"a refused key stays pending for a later modifier",
         false,
         {down(kF, 0, u"F (Modifier missing)"_s, false, false), flags(kCommand, u"⌘F"_s, true)},
         Shortcut{kF, kCommand}},
        {"Return alone is refused and passed on",
         false,
         {down(kReturn, 0, u"\u21A9\uFE0E (Modifier missing)"_s, false, false)},
         std::nullopt},
        {"Command-C is refused, Shift-Command-C is not",
         false,
         {flags(kCommand, u"⌘ (Key missing)"_s, false),
          down(kC, kCommand, u"⌘C (Copy disabled)"_s, false, false),
          flags(kCommand | kShift, u"⇧⌘C"_s, true),
          down(kC, kCommand | kShift, u"⇧⌘C"_s, true, true)},
         Shortcut{kC, kCommand | kShift}},
        {"modifiers only",
         false,
         {flags(kControl, u"⌃ (Key missing)"_s, false),
          flags(kControl | kOption, u"⌃⌥ (Key missing)"_s, false),
          flags(0, u"Press shortcut..."_s, false)},
         std::nullopt},
        {"a key without a name",
         false,
         {down(kF17, kCommand, u"⌘"_s, true, true),
          down(kF17, 0, u"Press shortcut... (Modifier missing)"_s, false, false)},
         std::nullopt},
        {"the A key is never taken",
         false,
         {down(kA, kCommand, u"⌘ (Key missing)"_s, false, false)},
         std::nullopt},
        {"letting go keeps a held combination, a new modifier drops it",
         false,
         {down(kK, kControl | kOption, u"⌃⌥K"_s, true, true), flags(kControl, u"⌃⌥K"_s, true),
          flags(0, u"⌃⌥K"_s, true), flags(kShift, u"⇧ (Key missing)"_s, false),
          flags(0, u"Press shortcut..."_s, false)},
         std::nullopt},
        {"other windows' events change nothing",
         false,
         {down(kF, kCommand, u"⌘F"_s, true, true), elsewhere(KeyEventType::KeyDown, kB, kCommand),
          elsewhere(KeyEventType::FlagsChanged, 0, kShift), flags(0, u"⌘F"_s, true)},
         Shortcut{kF, kCommand}},
        {"every refusal in Chinese",
         true,
         {flags(kControl | kOption, u"⌃⌥（缺少非修饰键）"_s, false),
          flags(0, u"按下快捷键..."_s, false),
          down(kC, kCommand, u"⌘C (禁用复制键)"_s, false, false),
          down(kF, 0, u"F (缺少修饰键)"_s, false, false),
          down(kF17, 0, u"按下快捷键... (缺少修饰键)"_s, false, false)},
         std::nullopt},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        InMemorySettingsStore settings;
        settings.setString(u"appLanguage"_s, scenario.chinese ? u"zh"_s : u"en"_s);
        const FixedUiLanguages languages;
        ShortcutCapture capture(LocalizedStrings(settings, languages));
        for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
            const Step& step = scenario.steps[i];
            const auto outcome = capture.handle(step.event, step.inWindow);
            ASSERT_EQ(outcome.has_value(), step.expected.has_value()) << "step " << i;
            if (outcome) {
                EXPECT_EQ(outcome->text.toStdString(), step.expected->text.toStdString())
                    << "step " << i;
                EXPECT_EQ(outcome->confirmEnabled, step.expected->confirmEnabled) << "step " << i;
                EXPECT_EQ(outcome->consumed, step.expected->consumed) << "step " << i;
            }
        }
        EXPECT_EQ(capture.captured(), scenario.captured);
    }
}

TEST(ShortcutCapture, ClosingRegistersTheNewShortcutOrTheStoredOneAgain) {
    const QString codeKey = QString::fromUtf16(kHotkeyCodeKey);
    const QString modifiersKey = QString::fromUtf16(kHotkeyModifiersKey);
    const struct {
        const char* name;
        std::optional<Shortcut> stored;
        std::optional<Shortcut> confirmed;
        bool taken;  // what registerHotkeyFromUserDefaults() answers
        QStringList calls;
        Shortcut storedAfter;
    } cases[] = {
        {"confirmed and taken",
         Shortcut{kF3, 0},
         Shortcut{kF, kCommand},
         true,
         {u"fromDefaults 3 1048576"_s},
         {kF, kCommand}},
        {"confirmed but taken elsewhere: the previous one comes back",
         Shortcut{kF3, 0},
         Shortcut{kF, kCommand},
         false,
         {u"fromDefaults 3 1048576"_s, u"global 99 0"_s},
         {kF3, 0}},
        {"cancelled",
         Shortcut{kF, kCommand},
         std::nullopt,
         true,
         {u"global 3 1048576"_s},
         {kF, kCommand}},
        {"cancelled with nothing stored", std::nullopt, std::nullopt, true, {u"default"_s}, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InMemorySettingsStore settings;
        if (c.stored) {
            storeShortcut(settings, *c.stored);
        }
        RecordingSettingsDelegate delegate(settings);
        delegate.fromDefaultsTaken = c.taken;
        EXPECT_EQ(finishShortcutCapture(delegate, settings, c.confirmed), c.confirmed && c.taken);
        EXPECT_EQ(delegate.calls, c.calls);
        EXPECT_EQ(settings.integer(codeKey), c.storedAfter.keyCode);
        EXPECT_EQ(settings.integer(modifiersKey),
                  static_cast<std::int64_t>(c.storedAfter.modifiers));
    }
}

}  // namespace
}  // namespace quillet
