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
#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillet::e2e {
namespace {

using namespace modifier;

// macOS virtual key codes.
constexpr quillet::KeyCode kKeyB = 0x0B;
constexpr quillet::KeyCode kKeyZ = 0x06;
constexpr quillet::KeyCode kKeyF3 = 0x63;
constexpr ModifierFlags kControlOptionCommand = kControl | kOption | kCommand;

const std::vector<std::string> kDefaultChord{"Control_L", "Alt_L", "Super_L", "v"};

// Puts back what a test changed on the shared server, even when it fails.
struct OnExit {
    std::function<void()> undo;
    ~OnExit() { undo(); }
};

// Another X client, for holding keys ourselves from outside the program.
class OtherClient {
public:
    OtherClient()
        : display_(x11::openDisplay()),
          connection_(xcb_connect(nullptr, nullptr), &xcb_disconnect) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_.get())).data->root;
    }

    std::uint8_t keycode(const char* keysym) const {
        return XKeysymToKeycode(display_.get(), XStringToKeysym(keysym));
    }

    // The modifier bit the key sits on, read from the server.
    std::uint16_t modifierBit(const char* keysym) const {
        const std::unique_ptr<XModifierKeymap, decltype(&XFreeModifiermap)> map(
            XGetModifierMapping(display_.get()), &XFreeModifiermap);
        const std::uint8_t code = keycode(keysym);
        for (int i = 0; i < 8 * map->max_keypermod; ++i) {
            if (map->modifiermap[i] == code) {
                return static_cast<std::uint16_t>(1U << (i / map->max_keypermod));
            }
        }
        return 0;
    }

    std::uint16_t controlAltSuper() const {
        return ControlMask | modifierBit("Alt_L") | modifierBit("Super_L");
    }

    bool grab(std::uint8_t keycode, std::uint16_t modifiers) {
        const std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
            xcb_request_check(connection_.get(),
                              xcb_grab_key_checked(connection_.get(), 0, root_, modifiers, keycode,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
            &std::free);
        return error == nullptr;
    }

private:
    x11::DisplayPtr display_;
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_;
    xcb_window_t root_ = 0;
};

class GlobalHotkeyE2E : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_DISPLAY();
        hotkey_ = std::make_unique<GlobalHotkeyX11>();
        hotkey_->setHandler([this] { ++calls_; });
        keys_ = std::make_unique<KeyDriver>();
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

TEST_F(GlobalHotkeyE2E, FiresOncePerPressWhateverLockIsOn) {
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
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
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_->chord(kDefaultChord, 1500ms);
    EXPECT_TRUE(firedTotal(1));
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(2));

    // With detectable auto-repeat, repeats come as presses without releases.
    Display* qtDisplay = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->display();
    const auto setDetectable = [qtDisplay](Bool on) {
        Bool supported = False;
        XkbSetDetectableAutoRepeat(qtDisplay, on, &supported);
        XSync(qtDisplay, False);
        return supported == True;
    };
    ASSERT_TRUE(setDetectable(True));
    const OnExit restore{[&] { setDetectable(False); }};
    keys_->chord(kDefaultChord, 1500ms);
    EXPECT_TRUE(firedTotal(3));
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(4));
}

TEST_F(GlobalHotkeyE2E, OtherModifiersDoNotFire) {
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_->chord({"Control_L", "Alt_L", "v"});
    keys_->chord({"Shift_L", "Control_L", "Alt_L", "Super_L", "v"});
    keys_->chord({"v"});
    EXPECT_TRUE(firedTotal(0));
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));
}

TEST_F(GlobalHotkeyE2E, RegisteringAgainHoldsOnlyTheNewShortcut) {
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));

    ASSERT_TRUE(hotkey_->registerHotkey(kKeyB, kControlOptionCommand));
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));
    keys_->chord({"Control_L", "Alt_L", "Super_L", "b"});
    EXPECT_TRUE(firedTotal(2));
    keys_->chord({"Control_L", "Alt_L", "Super_L", "b"});
    EXPECT_TRUE(firedTotal(3));

    OtherClient other;
    hotkey_->unregisterHotkey();
    EXPECT_TRUE(other.grab(other.keycode("b"), other.controlAltSuper())) << "still grabbed";
}

TEST_F(GlobalHotkeyE2E, TakenCombinationFailsAndHoldsNothing) {
    auto other = std::make_unique<OtherClient>();
    const std::uint8_t v = other->keycode("v");
    const std::uint16_t mods = other->controlAltSuper();
    // Only the CapsLock variant is taken, so some grabs succeed before one fails.
    ASSERT_TRUE(other->grab(v, mods | LockMask));
    EXPECT_FALSE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    EXPECT_TRUE(other->grab(v, mods)) << "the failed registration left a grab behind";
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(0));

    other.reset();
    EXPECT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_->chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));
}

TEST_F(GlobalHotkeyE2E, BareKeyFires) {
    ASSERT_TRUE(hotkey_->registerHotkey(kKeyF3, 0));
    keys_->chord({"Control_L", "F3"});
    keys_->chord({"F3"});
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

    ASSERT_TRUE(setxkbmap({QStringLiteral("-layout"), QStringLiteral("us")}));
    ASSERT_TRUE(hotkey_->registerHotkey(kKeyZ, kControlOptionCommand));
    const std::vector<std::string> chordZ{"Control_L", "Alt_L", "Super_L", "z"};
    // The server may still be announcing the keymap just loaded, and the
    // grabs follow each announcement.
    ASSERT_TRUE(pressUntilFired(chordZ));
    const std::uint8_t usZ = OtherClient().keycode("z");

    // German swaps Y and Z: the shortcut moves to the other key.
    ASSERT_TRUE(setxkbmap({QStringLiteral("-layout"), QStringLiteral("de")}));
    {
        OtherClient other;
        ASSERT_NE(other.keycode("z"), usZ);
        EXPECT_TRUE(pressUntilFired(chordZ));
        EXPECT_TRUE(other.grab(usZ, other.controlAltSuper())) << "the old key is still grabbed";
    }

    ASSERT_TRUE(setxkbmap({QStringLiteral("-layout"), QStringLiteral("us")}));
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
