#include "hotkey/shortcut_capture.h"

#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/recording_settings_delegate.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
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
    std::vector<Step> steps;
    std::optional<Shortcut> captured = std::nullopt;
    bool chinese = false;
};

TEST(ShortcutCapture, JudgesKeySequencesAsTheUserPressesThem) {
    const Scenario scenarios[] = {
        {"Command then F, then let go; lock and other bits do not count",
         {flags(kCommand, u"⌘ (Key missing)"_s, false),
          down(kF, kCommand | 0x10000 | 0x800000, u"⌘F"_s, true, true), flags(0, u"⌘F"_s, true)},
         Shortcut{kF, kCommand}},
        {"each new key drops the held one: F3 and Escape alone are held, F alone is not",
         {down(kF3, 0, u"F3"_s, true, true), down(kEscape, 0, u"Esc"_s, true, true),
          down(kB, kCommand, u"⌘B"_s, true, true),
          down(kF, 0, u"F (Modifier missing)"_s, false, false)}},
        {"a refused key stays pending for a later modifier",
         {down(kF, 0, u"F (Modifier missing)"_s, false, false), flags(kCommand, u"⌘F"_s, true)},
         Shortcut{kF, kCommand}},
        {"Return alone is refused and passed on",
         {down(kReturn, 0, u"\u21A9\uFE0E (Modifier missing)"_s, false, false)}},
        {"Command-C is refused, Shift-Command-C is not",
         {flags(kCommand, u"⌘ (Key missing)"_s, false),
          down(kC, kCommand, u"⌘C (Copy disabled)"_s, false, false),
          flags(kCommand | kShift, u"⇧⌘C"_s, true),
          down(kC, kCommand | kShift, u"⇧⌘C"_s, true, true)},
         Shortcut{kC, kCommand | kShift}},
        {"modifiers only",
         {flags(kControl, u"⌃ (Key missing)"_s, false),
          flags(kControl | kOption, u"⌃⌥ (Key missing)"_s, false),
          flags(0, u"Press shortcut..."_s, false)}},
        {"a key without a name",
         {down(kF17, kCommand, u"⌘"_s, true, true),
          down(kF17, 0, u"Press shortcut... (Modifier missing)"_s, false, false)}},
        {"the A key is never taken", {down(kA, kCommand, u"⌘ (Key missing)"_s, false, false)}},
        {"letting go keeps a held combination, a new modifier drops it",
         {down(kK, kControl | kOption, u"⌃⌥K"_s, true, true), flags(kControl, u"⌃⌥K"_s, true),
          flags(0, u"⌃⌥K"_s, true), flags(kShift, u"⇧ (Key missing)"_s, false),
          flags(0, u"Press shortcut..."_s, false)}},
        {"other windows' events change nothing",
         {down(kF, kCommand, u"⌘F"_s, true, true), elsewhere(KeyEventType::KeyDown, kB, kCommand),
          elsewhere(KeyEventType::FlagsChanged, 0, kShift), flags(0, u"⌘F"_s, true)},
         Shortcut{kF, kCommand}},
        {"every refusal in Chinese",
         {flags(kControl | kOption, u"⌃⌥（缺少非修饰键）"_s, false),
          flags(0, u"按下快捷键..."_s, false),
          down(kC, kCommand, u"⌘C (禁用复制键)"_s, false, false),
          down(kF, 0, u"F (缺少修饰键)"_s, false, false),
          down(kF17, 0, u"按下快捷键... (缺少修饰键)"_s, false, false)},
         std::nullopt,
         true},
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
                EXPECT_EQ(std::tie(outcome->text, outcome->confirmEnabled, outcome->consumed),
                          std::tie(step.expected->text, step.expected->confirmEnabled,
                                   step.expected->consumed))
                    << "step " << i << ": " << outcome->text.toStdString();
            }
        }
        EXPECT_EQ(capture.captured(), scenario.captured);
    }
}

TEST(ShortcutCapture, ClosingRegistersTheNewShortcutOrTheStoredOneAgain) {
    using S = std::optional<Shortcut>;
    const Shortcut f3{kF3, 0}, cmdF{kF, kCommand};
    const QString fromDefaults = u"fromDefaults 3 1048576"_s;
    const struct {
        S stored, confirmed;
        bool taken;  // what registerHotkeyFromUserDefaults() answers
        QStringList calls;
        S storedAfter;
    } cases[] = {
        {f3, cmdF, true, {fromDefaults}, cmdF},
        // Taken elsewhere: the previous one comes back.
        {f3, cmdF, false, {fromDefaults, u"global 99 0"_s}, f3},
        // Cancelled.
        {cmdF, {}, true, {u"global 3 1048576"_s}, cmdF},
        {{}, {}, true, {u"default"_s}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.calls.join(u',').toStdString());
        InMemorySettingsStore settings;
        if (c.stored) {
            storeShortcut(settings, *c.stored);
        }
        RecordingSettingsDelegate delegate(settings);
        delegate.fromDefaultsTaken = c.taken;
        EXPECT_EQ(finishShortcutCapture(delegate, settings, c.confirmed), c.confirmed && c.taken);
        EXPECT_EQ(delegate.calls, c.calls);
        EXPECT_EQ(readStoredShortcut(settings), c.storedAfter);
    }
}

}  // namespace
}  // namespace quillet
