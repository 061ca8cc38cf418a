#include "platform/global_hotkey_x11.h"

#include "platform/display_x11.h"
#include "x_session.h"

#include <QGuiApplication>
#include <QProcess>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <X11/Xlib.h>
#include <X11/XKBlib.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillet::e2e {
namespace {

using namespace modifier;

constexpr quillet::KeyCode kKeyB = 0x0B, kKeyZ = 0x06, kKeyF3 = 0x63;  // macOS key codes
constexpr ModifierFlags kControlOptionCommand = kControl | kOption | kCommand;

// Puts back what a test changed on the shared server, even when it fails.
struct OnExit {
    std::function<void()> undo;
    ~OnExit() { undo(); }
};

class GlobalHotkeyE2E : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_DISPLAY();
        hotkey_ = std::make_unique<GlobalHotkeyX11>();
        hotkey_->setHandler([this] { ++calls_; });
        keys_ = std::make_unique<KeyDriver>();
    }

    bool registerDefault() {
        return hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers);
    }

    // The handler ran `expected` times in all, and no more in the settle window.
    bool firedTotal(int expected) {
        return waitUntil([&] { return calls_ >= expected; }, 3s) &&
               !waitUntil([&] { return calls_ > expected; }, 300ms);
    }

    // Presses the chord until the handler runs: a re-grab after a mapping
    // change happens at a moment the test cannot see.
    bool pressUntilFired(const std::vector<std::string>& chord) {
        const int before = calls_;
        for (int attempt = 0; attempt < 20; ++attempt) {
            KeyDriver().chord(chord);
            if (waitUntil([&] { return calls_ > before; }, 250ms)) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<GlobalHotkeyX11> hotkey_;
    std::unique_ptr<KeyDriver> keys_;  // made once a display is known to be there
    int calls_ = 0;
};

TEST_F(GlobalHotkeyE2E, FiresOncePerPressWhateverLockIsOnAndOnlyForItsModifiers) {
    ASSERT_TRUE(registerDefault());
    keys_->chord({"Control_L", "Alt_L", "v"});
    keys_->chord({"Shift_L", "Control_L", "Alt_L", "Super_L", "v"});
    keys_->chord({"v"});
    EXPECT_TRUE(firedTotal(0));
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));

    int expected = 1;
    for (const auto& locks : std::vector<std::vector<std::string>>{
             {"Num_Lock"}, {"Caps_Lock"}, {"Num_Lock", "Caps_Lock"}}) {
        for (const auto& lock : locks) {
            keys_->chord({lock});
        }
        keys_->chord(kDefaultChord);
        EXPECT_TRUE(firedTotal(++expected)) << locks.size() << " locks, first " << locks[0];
        for (const auto& lock : locks) {
            keys_->chord({lock});  // off again
        }
    }
}

TEST_F(GlobalHotkeyE2E, HoldingFiresOnce) {
    ASSERT_TRUE(registerDefault());
    // With detectable auto-repeat, repeats come as presses without releases.
    Display* qtDisplay = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display();
    const auto setDetectable = [qtDisplay](Bool on) {
        Bool supported = False;
        XkbSetDetectableAutoRepeat(qtDisplay, on, &supported);
        XSync(qtDisplay, False);
        return supported == True;
    };
    int expected = 0;
    for (const Bool detectable : {False, True}) {
        SCOPED_TRACE(detectable);
        ASSERT_TRUE(!detectable || setDetectable(True));
        const OnExit restore{[&] { setDetectable(False); }};
        keys_->chord(kDefaultChord, 1500ms);
        EXPECT_TRUE(firedTotal(++expected));
        keys_->chord(kDefaultChord);
        EXPECT_TRUE(firedTotal(++expected));
    }
}

TEST_F(GlobalHotkeyE2E, RegisteringAgainHoldsOnlyTheNewShortcut) {
    ASSERT_TRUE(registerDefault());
    ASSERT_TRUE(registerDefault());
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));

    ASSERT_TRUE(hotkey_->registerHotkey(kKeyB, kControlOptionCommand));
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));
    for (const int total : {2, 3}) {
        keys_->chord({"Control_L", "Alt_L", "Super_L", "b"});
        EXPECT_TRUE(firedTotal(total));
    }

    hotkey_->unregisterHotkey();
    EXPECT_FALSE(comboGrabbedElsewhere(kDefaultChordMask, "b")) << "still grabbed";

    // A bare key, and only without modifiers.
    ASSERT_TRUE(hotkey_->registerHotkey(kKeyF3, 0));
    keys_->chord({"Control_L", "F3"});
    keys_->chord({"F3"});
    EXPECT_TRUE(firedTotal(4));
}

TEST_F(GlobalHotkeyE2E, TakenCombinationFailsAndHoldsNothing) {
    {
        // Only the CapsLock variant is taken, so some grabs succeed before one fails.
        const OtherClientGrab other(kDefaultChordMask | LockMask, "v");
        ASSERT_TRUE(other.held());
        EXPECT_FALSE(registerDefault());
        EXPECT_FALSE(comboGrabbedElsewhere(kDefaultChordMask, "v"))
            << "the failed registration left a grab behind";
        keys_->chord(kDefaultChord);
        EXPECT_TRUE(firedTotal(0));
    }
    EXPECT_TRUE(registerDefault());
    keys_->chord(kDefaultChord);
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

TEST_F(GlobalHotkeyE2E, FollowsALayoutChange) {
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
    ASSERT_TRUE(hotkey_->registerHotkey(kKeyZ, kControlOptionCommand));
    const std::vector<std::string> chordZ{"Control_L", "Alt_L", "Super_L", "z"};
    // The server may still be announcing the keymap just loaded, and the
    // grabs follow each announcement.
    ASSERT_TRUE(pressUntilFired(chordZ));

    // German swaps Y and Z: the shortcut moves to the other key, and the key
    // that was Z (now Y) is let go.
    ASSERT_TRUE(useLayout("de"));
    EXPECT_TRUE(pressUntilFired(chordZ));
    EXPECT_FALSE(comboGrabbedElsewhere(kDefaultChordMask, "y")) << "the old key is still grabbed";

    ASSERT_TRUE(useLayout("us"));
    EXPECT_TRUE(pressUntilFired(chordZ));
}

TEST(GlobalHotkeyWithoutX11, EveryRegistrationFails) {
    if (x11::qtConnection() != nullptr) {
        GTEST_SKIP() << "runs where Qt has no X11 connection";
    }
    GlobalHotkeyX11 hotkey;
    EXPECT_FALSE(hotkey.registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    EXPECT_FALSE(hotkey.registerHotkey(kKeyF3, 0));
}

}  // namespace
}  // namespace quillet::e2e
