#pragma once

#include "platform/global_hotkey.h"
#include "platform/press_relay.h"
#include "platform/x11/keymap.h"
#include "platform/x11/server_keymap.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

struct xcb_connection_t;
struct xcb_ge_generic_event_t;
struct xcb_key_press_event_t;

namespace quillet {

// The shortcuts as passive key grabs on the root window, through Qt's own xcb
// connection. Every keycode that carries the key's keysym is grabbed, once per
// combination of the lock modifiers, so a shortcut works whatever lock is on;
// the grabs are renewed when the keyboard mapping changes. Each action's
// grabs are its own; two actions never hold the same key and modifiers, as
// ungrabbing one would let go of the other.
class GlobalHotkeyX11 final : public GlobalHotkey, private QAbstractNativeEventFilter {
public:
    // Needs a QGuiApplication on the xcb platform; without one every
    // registration fails.
    GlobalHotkeyX11();
    ~GlobalHotkeyX11() override;

    void setHandler(std::function<void(ShortcutAction)> onPress) override;
    bool grab(ShortcutAction action, Shortcut shortcut) override;
    void release(ShortcutAction action) override;
    void releaseAll() override;
    void setBlockedHandler(std::function<void()> onBlocked) override;

private:
    struct Grab {
        std::uint8_t keycode;
        std::uint16_t modifiers;
        friend bool operator==(const Grab&, const Grab&) = default;
    };

    // What a shortcut means on the server's current keyboard mapping.
    struct GrabSet {
        x11::ModifierMasks masks;
        std::uint16_t modifiers = 0;  // X state bits of the shortcut, locks excluded
        std::vector<std::uint8_t> keycodes;
        std::vector<Grab> grabs;  // every keycode with every lock combination
        friend bool operator==(const GrabSet&, const GrabSet&) = default;
        bool matches(std::uint8_t keycode, std::uint16_t state) const;
    };

    // One action's shortcut.
    struct Slot {
        std::optional<Shortcut> shortcut;  // what the user asked for, kept across remaps
        GrabSet held;                      // what is grabbed now; no grabs when nothing is
        // Events carry the sequence number of the last request the server had
        // done when it made them. Until one comes from after the grabs, raw
        // keys may be from before them, when the combination was not ours.
        std::uint32_t grabbedAt = 0;
        bool settled = true;
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void onKeyPress(const xcb_key_press_event_t& event);
    void onKeyRelease(const xcb_key_press_event_t& event);
    void onRawKey(const xcb_ge_generic_event_t& event);
    void settle(std::uint16_t sequence);
    void watchRawKeys();
    void askForDetectableRepeat();

    std::optional<GrabSet> planGrabs(Shortcut shortcut) const;
    // Whether a grab of the set belongs to another slot already.
    bool clashes(const Slot& slot, const GrabSet& set) const;
    bool takeGrabs(Slot& slot, GrabSet set);
    void releaseGrabs(Slot& slot);
    void regrab();
    bool holdsKeycode(std::uint8_t keycode) const;

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    int xkbEventType_ = -1;                            // the event code of XKEYBOARD, when present
    std::array<Slot, kShortcutActions.size()> slots_;  // indexed by the action
    // Auto-repeat shows up as presses without releases once the server keeps
    // it detectable; otherwise as release+press pairs with one timestamp,
    // which two quick presses on a busy server can share too.
    bool detectableRepeat_ = false;
    std::uint8_t keyDown_ = 0;
    std::uint32_t lastReleaseTime_ = 0;
    // A layout switch reports itself several times; one re-grab is enough.
    QTimer regrabTimer_;
    // XInput2 raw key events come whoever holds the keyboard: a press of the
    // combination that the grab never saw means another client had it. Not
    // while our own grab is active, though: then the server sends us core
    // events in their place, and the keys held are read from both.
    int xinputOpcode_ = -1;
    std::bitset<256> keysDown_;
    std::optional<x11::ModifierMap> modifierMap_;
    std::uint32_t rawPressTime_ = 0;
    std::uint32_t grabPressTime_ = 0;
    QTimer blockedTimer_;
    std::function<void()> onBlocked_;
    PressRelay presses_;
};

}  // namespace quillet
