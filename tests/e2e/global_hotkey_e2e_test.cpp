// The shortcuts' key grabs on a real X server, pressed with XTest.

#include "platform/x11/global_hotkey_x11.h"
#include "x_harness.h"

#include <QProcess>

#include <gtest/gtest.h>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <X11/Xlib.h>

namespace quillet::harness {
namespace {

using namespace modifier;

constexpr ModifierFlags kControlOptionCommand = kControl | kOption | kCommand;
constexpr Shortcut kControlOptionCommandB{0x0B, kControlOptionCommand};
constexpr Shortcut kControlOptionCommandZ{0x06, kControlOptionCommand};
constexpr Shortcut kControlOptionCommandY{0x10, kControlOptionCommand};
constexpr Shortcut kF3{0x63, 0};
const std::vector<std::string> kChordB{"Control_L", "Alt_L", "Super_L", "b"};
constexpr auto kPaste = ShortcutAction::PasteNext;
constexpr auto kBack = ShortcutAction::Back;

class GlobalHotkeyTest : public testing::Test {
protected:
    void SetUp() override {
        hotkey_.setHandler([this](ShortcutAction action) {
            ++calls_;
            fired_.push_back(action);
        });
    }

    // The handler ran `expected` times in all, and no more in the settle window.
    bool firedTotal(int expected) {
        return waitUntil([&] { return calls_ >= expected; }, 3s) &&
               !waitUntil([&] { return calls_ > expected; }, 300ms);
    }

    // Presses the chord until the handler runs for the action: a re-grab
    // after a mapping change happens at a moment the test cannot see. A new
    // client each time, as one reads the keyboard mapping when it connects.
    // Until then the key may still be another action's.
    bool pressUntilFired(const std::vector<std::string>& chord, ShortcutAction action) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int before = calls_;
            XClient().chord(chord);
            if (waitUntil([&] { return calls_ > before; }, 250ms) && fired_.back() == action) {
                return true;
            }
        }
        return false;
    }

    GlobalHotkeyX11 hotkey_;
    int calls_ = 0;
    std::vector<ShortcutAction> fired_;
};

TEST_F(GlobalHotkeyTest, EachActionFiresOncePerPressWhateverLockIsOnAndOnlyForItsModifiers) {
    ASSERT_TRUE(hotkey_.grab(kPaste, kDefaultShortcut));
    ASSERT_TRUE(hotkey_.grab(kBack, kControlOptionCommandB));
    x().chord({"Control_L", "Alt_L", "v"});
    x().chord({"Shift_L", "Control_L", "Alt_L", "Super_L", "v"});
    x().chord({"v"});
    x().chord({"Control_L", "Alt_L", "b"});
    EXPECT_TRUE(firedTotal(0));
    x().chord(kDefaultChord);
    x().chord(kChordB);
    EXPECT_TRUE(firedTotal(2));

    int expected = 2;
    for (const auto& locks : std::vector<std::vector<std::string>>{
             {"Num_Lock"}, {"Caps_Lock"}, {"Num_Lock", "Caps_Lock"}}) {
        for (const auto& lock : locks) {
            x().chord({lock});
        }
        x().chord(kChordB);
        x().chord(kDefaultChord);
        expected += 2;
        EXPECT_TRUE(firedTotal(expected)) << locks.size() << " locks, first " << locks[0];
        for (const auto& lock : locks) {
            x().chord({lock});  // off again
        }
    }
    EXPECT_EQ(fired_, (std::vector{kPaste, kBack, kBack, kPaste, kBack, kPaste, kBack, kPaste}));
}

TEST_F(GlobalHotkeyTest, HoldingFiresOnceAndQuickPressesOnABusyServerFireEach) {
    ASSERT_TRUE(hotkey_.grab(kPaste, kDefaultShortcut));
    ASSERT_TRUE(hotkey_.grab(kBack, kControlOptionCommandB));
    x().chord(kDefaultChord, 1500ms);
    x().chord(kChordB, 1500ms);
    EXPECT_TRUE(firedTotal(2));
    EXPECT_EQ(fired_, (std::vector{kPaste, kBack}));
    // Without detectable auto-repeat this pair reads as a repeat: a press lost.
    x().down(kDefaultChord);
    x().pressAgain("v");
    x().up(kDefaultChord);
    EXPECT_TRUE(firedTotal(4));
}

TEST_F(GlobalHotkeyTest, GrabbingAgainHoldsOnlyTheNewShortcutAndNoTwoActionsShareOne) {
    ASSERT_TRUE(hotkey_.grab(kPaste, kDefaultShortcut));
    ASSERT_TRUE(hotkey_.grab(kPaste, kDefaultShortcut));
    x().chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));

    ASSERT_TRUE(hotkey_.grab(kPaste, kControlOptionCommandB));
    x().chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));
    x().chord(kChordB);
    EXPECT_TRUE(firedTotal(2));

    // Ungrabbing the second would take the first one's keys with it.
    EXPECT_FALSE(hotkey_.grab(kBack, kControlOptionCommandB));
    hotkey_.release(kBack);
    x().chord(kChordB);
    EXPECT_TRUE(firedTotal(3));
    EXPECT_EQ(fired_.back(), kPaste);

    hotkey_.release(kPaste);
    EXPECT_FALSE(x().grabbedElsewhere(kDefaultChordMask, "b")) << "still grabbed";

    // A bare key, and only without modifiers.
    ASSERT_TRUE(hotkey_.grab(kBack, kF3));
    x().chord({"Control_L", "F3"});
    x().chord({"F3"});
    EXPECT_TRUE(firedTotal(4));
    EXPECT_EQ(fired_.back(), kBack);
    hotkey_.releaseAll();
    EXPECT_FALSE(x().grabbedElsewhere(0, "F3")) << "still grabbed";
}

TEST_F(GlobalHotkeyTest, ATakenCombinationFailsAndHoldsNothing) {
    {
        // Only the CapsLock variant is taken, so some grabs succeed before one fails.
        XClient other;
        ASSERT_TRUE(other.grabKey(kDefaultChordMask | LockMask, "v"));
        EXPECT_FALSE(hotkey_.grab(kPaste, kDefaultShortcut));
        EXPECT_FALSE(x().grabbedElsewhere(kDefaultChordMask, "v"))
            << "the failed grab left a grab behind";
        x().chord(kDefaultChord);
        EXPECT_TRUE(firedTotal(0));
    }
    EXPECT_TRUE(hotkey_.grab(kPaste, kDefaultShortcut));
    x().chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));
}

// Runs setxkbmap; none when it fails.
std::optional<QString> setxkbmap(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("setxkbmap"), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return std::nullopt;
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

TEST_F(GlobalHotkeyTest, FollowsALayoutChange) {
    const auto query = setxkbmap({QStringLiteral("-query")});
    if (!query) {
        GTEST_SKIP() << "needs setxkbmap";
    }
    QString layout = QStringLiteral("us");
    for (const QString& line : query->split(u'\n')) {
        if (line.startsWith(u"layout:")) {
            layout = line.mid(7).trimmed();
        }
    }
    const OnExit restore{[&] { setxkbmap({QStringLiteral("-layout"), layout}); }};
    const auto useLayout = [](const char* name) {
        return setxkbmap({QStringLiteral("-layout"), QString::fromLatin1(name)}).has_value();
    };

    ASSERT_TRUE(useLayout("us"));
    ASSERT_TRUE(hotkey_.grab(kPaste, kControlOptionCommandZ));
    const std::vector<std::string> chordZ{"Control_L", "Alt_L", "Super_L", "z"};
    const std::vector<std::string> chordY{"Control_L", "Alt_L", "Super_L", "y"};
    // The server may still be announcing the keymap just loaded, and the
    // grabs follow each announcement.
    ASSERT_TRUE(pressUntilFired(chordZ, kPaste));

    // German swaps Y and Z: the shortcut moves to the other key, and the key
    // that was Z (now Y) is let go.
    ASSERT_TRUE(useLayout("de"));
    EXPECT_TRUE(pressUntilFired(chordZ, kPaste));
    EXPECT_FALSE(XClient().grabbedElsewhere(kDefaultChordMask, "y"))
        << "the old key is still grabbed";

    // Two actions trade keys: each takes the one the other lets go of.
    ASSERT_TRUE(hotkey_.grab(kBack, kControlOptionCommandY));
    ASSERT_TRUE(useLayout("us"));
    EXPECT_TRUE(pressUntilFired(chordZ, kPaste));
    EXPECT_TRUE(pressUntilFired(chordY, kBack));
    const int before = calls_;
    x().chord(chordY);
    x().chord(chordZ);
    EXPECT_TRUE(firedTotal(before + 2));
    EXPECT_EQ(fired_.back(), kPaste);
    EXPECT_EQ(fired_[fired_.size() - 2], kBack);
}

}  // namespace
}  // namespace quillet::harness
