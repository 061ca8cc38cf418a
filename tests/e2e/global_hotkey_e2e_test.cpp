#include "platform/global_hotkey_x11.h"

#include "platform/display_x11.h"
#include "x_session.h"

#include <QProcess>

#include <gtest/gtest.h>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace quillet::e2e {
namespace {

using namespace modifier;

// macOS virtual key codes.
constexpr quillet::KeyCode kKeyB = 0x0B;
constexpr quillet::KeyCode kKeyZ = 0x06;
constexpr quillet::KeyCode kKeyF3 = 0x63;
constexpr ModifierFlags kControlOptionCommand = kControl | kOption | kCommand;

const std::vector<std::string> kDefaultChord{"Control_L", "Alt_L", "Super_L", "v"};

// Another X client, for holding keys ourselves from outside the program.
class OtherClient {
public:
    OtherClient() : display_(x11::openDisplay()), connection_(xcb_connect(nullptr, nullptr)) {
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
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection_{nullptr,
                                                                             &xcb_disconnect};
    xcb_window_t root_ = 0;
};

class GlobalHotkeyE2E : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_DISPLAY();
        hotkey_ = std::make_unique<GlobalHotkeyX11>();
        hotkey_->setHandler([this] { ++calls_; });
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
    KeyDriver keys_;
    int calls_ = 0;
};

TEST_F(GlobalHotkeyE2E, FiresOncePerPressWhateverLockIsOn) {
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_.chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));

    int expected = 1;
    for (const auto& locks : std::vector<std::vector<std::string>>{
             {"Num_Lock"}, {"Caps_Lock"}, {"Num_Lock", "Caps_Lock"}}) {
        for (const auto& lock : locks) {
            keys_.chord({lock});
        }
        keys_.chord(kDefaultChord);
        EXPECT_TRUE(firedTotal(++expected)) << locks.size() << " locks, first " << locks[0];
        for (const auto& lock : locks) {
            keys_.chord({lock});  // off again
        }
    }
}

TEST_F(GlobalHotkeyE2E, HoldingFiresOnce) {
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_.chord(kDefaultChord, 1500ms);
    EXPECT_TRUE(firedTotal(1));
    keys_.chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(2));
}

TEST_F(GlobalHotkeyE2E, OtherModifiersDoNotFire) {
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_.chord({"Control_L", "Alt_L", "v"});
    keys_.chord({"Shift_L", "Control_L", "Alt_L", "Super_L", "v"});
    keys_.chord({"v"});
    EXPECT_TRUE(firedTotal(0));
    // The grab makes every key come here until V is released: Super let go
    // first, then V pressed again while the others are held.
    keys_.down("Control_L");
    keys_.down("Alt_L");
    keys_.down("Super_L");
    keys_.down("v");
    keys_.up("Super_L");
    keys_.up("v");
    keys_.down("v");
    keys_.up("v");
    keys_.up("Alt_L");
    keys_.up("Control_L");
    EXPECT_TRUE(firedTotal(1));
}

TEST_F(GlobalHotkeyE2E, RegisteringAgainHoldsOnlyTheNewShortcut) {
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    ASSERT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_.chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));

    ASSERT_TRUE(hotkey_->registerHotkey(kKeyB, kControlOptionCommand));
    keys_.chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));
    keys_.chord({"Control_L", "Alt_L", "Super_L", "b"});
    keys_.chord({"Control_L", "Alt_L", "Super_L", "b"});
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
    keys_.chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(0));

    other.reset();
    EXPECT_TRUE(hotkey_->registerHotkey(kDefaultHotkeyCode, kDefaultHotkeyModifiers));
    keys_.chord(kDefaultChord);
    EXPECT_TRUE(firedTotal(1));
}

TEST_F(GlobalHotkeyE2E, BareKeyFires) {
    ASSERT_TRUE(hotkey_->registerHotkey(kKeyF3, 0));
    keys_.chord({"Control_L", "F3"});
    keys_.chord({"F3"});
    EXPECT_TRUE(firedTotal(1));
}

// Reads or sets the layout with setxkbmap; empty when that fails.
QString runSetxkbmap(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("setxkbmap"), arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return {};
    }
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    return out.isEmpty() ? QStringLiteral("ok") : out;
}

TEST_F(GlobalHotkeyE2E, FollowsALayoutChange) {
    const QString query = runSetxkbmap({QStringLiteral("-query")});
    if (query.isEmpty()) {
        GTEST_SKIP() << "needs setxkbmap";
    }
    QString layout = QStringLiteral("us");
    for (const QString& line : query.split(u'\n')) {
        if (line.startsWith(u"layout:")) {
            layout = line.mid(7).trimmed();
        }
    }
    const std::unique_ptr<const QString, void (*)(const QString*)> restore(
        &layout, [](const QString* l) { runSetxkbmap({QStringLiteral("-layout"), *l}); });

    ASSERT_TRUE(runSetxkbmap({QStringLiteral("-layout"), QStringLiteral("us")}) == u"ok");
    ASSERT_TRUE(hotkey_->registerHotkey(kKeyZ, kControlOptionCommand));
    const std::vector<std::string> chordZ{"Control_L", "Alt_L", "Super_L", "z"};
    KeyDriver().chord(chordZ);
    ASSERT_TRUE(firedTotal(1));
    const std::uint8_t usZ = OtherClient().keycode("z");

    // German swaps Y and Z: the shortcut moves to the other key.
    ASSERT_TRUE(runSetxkbmap({QStringLiteral("-layout"), QStringLiteral("de")}) == u"ok");
    OtherClient other;
    ASSERT_NE(other.keycode("z"), usZ);
    EXPECT_TRUE(pressUntilFired(chordZ));
    EXPECT_TRUE(other.grab(usZ, other.controlAltSuper())) << "the old key is still grabbed";

    ASSERT_TRUE(runSetxkbmap({QStringLiteral("-layout"), QStringLiteral("us")}) == u"ok");
    const int before = calls_;
    EXPECT_FALSE(pressUntilFired(chordZ)) << "the other client holds it now";
    EXPECT_EQ(calls_, before);
}

}  // namespace
}  // namespace quillet::e2e
