#include "platform/x11/global_hotkey_x11.h"

#include "platform/x11/connection.h"
#include "platform/x11/server_keymap.h"
#include "platform/xkb/key_table.h"

#include <QByteArray>
#include <QCoreApplication>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <xcb/xcb.h>
// xkb.h names a struct member "explicit"; Qt's xcb plugin includes it the same way.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wkeyword-macro"
#endif
#define explicit explicit_
#include <xcb/xkb.h>
#include <xcb/xinput.h>
#undef explicit
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace quillet {

namespace {

using x11::own;

// Core key events carry pointer buttons and the XKB group above these bits.
constexpr std::uint16_t kModifierBits = 0xFF;
constexpr std::uint8_t kSendEventBit = 0x80;

int xkbFirstEvent(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* xkb = xcb_get_extension_data(connection, &xcb_xkb_id);
    return xkb != nullptr && xkb->present != 0 ? xkb->first_event : -1;
}

}  // namespace

GlobalHotkeyX11::GlobalHotkeyX11() : connection_(x11::qtConnection()), root_(x11::qtRootWindow()) {
    if (connection_ == nullptr || root_ == 0) {
        connection_ = nullptr;
        return;
    }
    xkbEventType_ = xkbFirstEvent(connection_);
    regrabTimer_.setSingleShot(true);
    regrabTimer_.setInterval(0);
    QObject::connect(&regrabTimer_, &QTimer::timeout, &regrabTimer_, [this] { regrab(); });
    blockedTimer_.setSingleShot(true);
    // Our own grab answers within milliseconds even on a busy machine.
    blockedTimer_.setInterval(400);
    QObject::connect(&blockedTimer_, &QTimer::timeout, &blockedTimer_, [this] {
        if (onBlocked_ && grabPressTime_ - rawPressTime_ > 0x7FFFFFFF) {
            onBlocked_();
        }
    });
    askForDetectableRepeat();
    watchRawKeys();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

void GlobalHotkeyX11::askForDetectableRepeat() {
    if (xkbEventType_ < 0) {
        return;
    }
    constexpr std::uint32_t flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    const auto reply = own(xcb_xkb_per_client_flags_reply(
        connection_,
        xcb_xkb_per_client_flags(connection_, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0),
        nullptr));
    detectableRepeat_ = reply && (reply->value & flag) != 0;
}

void GlobalHotkeyX11::watchRawKeys() {
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(connection_, &xcb_input_id);
    if (xinput == nullptr || xinput->present == 0) {
        return;
    }
    // Raw events reach every client that asks since XInput 2.1, grabs or not.
    const auto version = own(xcb_input_xi_query_version_reply(
        connection_, xcb_input_xi_query_version(connection_, 2, 2), nullptr));
    if (!version || (version->major_version == 2 && version->minor_version < 1)) {
        return;
    }
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE};
    xcb_input_xi_select_events(connection_, root_, 1, &mask.head);
    xinputOpcode_ = xinput->major_opcode;
}

void GlobalHotkeyX11::setBlockedHandler(std::function<void()> onBlocked) {
    onBlocked_ = std::move(onBlocked);
}

GlobalHotkeyX11::~GlobalHotkeyX11() {
    if (QCoreApplication::instance() == nullptr) {
        return;  // Qt's connection is gone, and the grabs with it
    }
    QCoreApplication::instance()->removeNativeEventFilter(this);
    releaseAll();
}

void GlobalHotkeyX11::setHandler(std::function<void(ShortcutAction)> onPress) {
    presses_.setHandler(std::move(onPress));
}

bool GlobalHotkeyX11::grab(ShortcutAction action, Shortcut shortcut) {
    release(action);
    if (connection_ == nullptr) {
        return false;
    }
    Slot& slot = slots_[static_cast<std::size_t>(action)];
    auto set = planGrabs(shortcut);
    if (!set || clashes(slot, *set) || !takeGrabs(slot, std::move(*set))) {
        return false;
    }
    slot.shortcut = shortcut;
    return true;
}

void GlobalHotkeyX11::release(ShortcutAction action) {
    Slot& slot = slots_[static_cast<std::size_t>(action)];
    slot.shortcut.reset();
    releaseGrabs(slot);
}

void GlobalHotkeyX11::releaseAll() {
    regrabTimer_.stop();
    for (const ShortcutAction action : kShortcutActions) {
        release(action);
    }
}

std::optional<GlobalHotkeyX11::GrabSet> GlobalHotkeyX11::planGrabs(Shortcut shortcut) const {
    const auto keysym = xkb::keysymForKeyCode(shortcut.keyCode);
    if (!keysym) {
        return std::nullopt;
    }
    const auto map = x11::KeyboardMap::read(connection_);
    if (!map) {
        return std::nullopt;
    }
    const auto modifierMap = x11::ModifierMap::read(connection_);
    if (!modifierMap) {
        return std::nullopt;
    }
    const auto masks = modifierMap->masks(*map);
    const auto modifiers =
        x11::xModifiersForFlags(shortcut.modifiers & modifier::kShortcutMask, masks);
    if (!modifiers) {
        return std::nullopt;
    }
    GrabSet set;
    set.masks = masks;
    set.modifiers = *modifiers;
    set.keycodes = map->keycodesWith(*keysym);
    if (set.keycodes.empty()) {
        return std::nullopt;
    }
    const auto locks = x11::lockVariants(masks);
    for (const std::uint8_t keycode : set.keycodes) {
        for (const std::uint16_t lock : locks) {
            set.grabs.push_back({keycode, static_cast<std::uint16_t>(*modifiers | lock)});
        }
    }
    return set;
}

bool GlobalHotkeyX11::clashes(const Slot& slot, const GrabSet& set) const {
    return std::any_of(slots_.begin(), slots_.end(), [&](const Slot& other) {
        return &other != &slot &&
               std::any_of(set.grabs.begin(), set.grabs.end(), [&](const Grab& grab) {
                   return std::find(other.held.grabs.begin(), other.held.grabs.end(), grab) !=
                          other.held.grabs.end();
               });
    });
}

bool GlobalHotkeyX11::takeGrabs(Slot& slot, GrabSet set) {
    std::vector<xcb_void_cookie_t> cookies;
    cookies.reserve(set.grabs.size());
    for (const Grab& grab : set.grabs) {
        cookies.push_back(xcb_grab_key_checked(connection_, 1, root_, grab.modifiers, grab.keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    // Check them all, so no error is left behind for Qt to report.
    bool ok = true;
    for (const xcb_void_cookie_t cookie : cookies) {
        if (own(xcb_request_check(connection_, cookie))) {
            ok = false;  // BadAccess: another client holds this combination
        }
    }
    slot.held = std::move(set);
    slot.grabbedAt = cookies.back().sequence;
    slot.settled = false;
    modifierMap_ = x11::ModifierMap::read(connection_);
    keyDown_ = 0;
    lastReleaseTime_ = 0;
    if (!ok) {
        // Ungrabbing never touches another client's grabs, so undo every one.
        releaseGrabs(slot);
    }
    return ok;
}

void GlobalHotkeyX11::releaseGrabs(Slot& slot) {
    if (connection_ == nullptr || slot.held.grabs.empty()) {
        return;
    }
    std::vector<xcb_void_cookie_t> cookies;
    cookies.reserve(slot.held.grabs.size());
    for (const Grab& grab : slot.held.grabs) {
        cookies.push_back(xcb_ungrab_key_checked(connection_, grab.keycode, root_, grab.modifiers));
    }
    // Waiting for the answers also makes the keys free for others on return.
    for (const xcb_void_cookie_t cookie : cookies) {
        own(xcb_request_check(connection_, cookie));
    }
    slot.held = {};
}

void GlobalHotkeyX11::regrab() {
    // Every changed slot lets go first, so that one's new keys never meet
    // another's old ones.
    std::array<std::optional<GrabSet>, kShortcutActions.size()> plans;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (!slots_[i].shortcut) {
            continue;
        }
        plans[i] = planGrabs(*slots_[i].shortcut);
        if (plans[i] && *plans[i] == slots_[i].held) {
            plans[i].reset();  // the mapping changed elsewhere; keep the grabs without a gap
            continue;
        }
        releaseGrabs(slots_[i]);
    }
    // When the new layout lacks the key, nothing is held until a later mapping has it.
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (plans[i] && !clashes(slots_[i], *plans[i])) {
            takeGrabs(slots_[i], std::move(*plans[i]));
        }
    }
}

bool GlobalHotkeyX11::GrabSet::matches(std::uint8_t keycode, std::uint16_t state) const {
    const auto locks =
        static_cast<std::uint16_t>(x11::kLockMask | masks.numLock | masks.scrollLock);
    return std::find(keycodes.begin(), keycodes.end(), keycode) != keycodes.end() &&
           (state & kModifierBits & ~locks) == modifiers;
}

bool GlobalHotkeyX11::holdsKeycode(std::uint8_t keycode) const {
    return std::any_of(slots_.begin(), slots_.end(), [keycode](const Slot& slot) {
        return std::find(slot.held.keycodes.begin(), slot.held.keycodes.end(), keycode) !=
               slot.held.keycodes.end();
    });
}

bool GlobalHotkeyX11::nativeEventFilter(const QByteArray& eventType, void* message,
                                        qintptr* /*result*/) {
    if (message == nullptr || eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & ~kSendEventBit;
    if (type != XCB_KEYMAP_NOTIFY) {  // the one event without a sequence number
        settle(event->sequence);
    }
    switch (type) {
        case XCB_KEY_PRESS:
            // Sent events never come from our grabs.
            if ((event->response_type & kSendEventBit) == 0) {
                onKeyPress(*reinterpret_cast<const xcb_key_press_event_t*>(event));
            }
            // Passed on all the same: Qt records the press's time, which it
            // needs for claiming the clipboard and for raising our dialogs.
            // No window of ours is the root window, so Qt delivers it nowhere.
            return false;
        case XCB_KEY_RELEASE:
            if ((event->response_type & kSendEventBit) == 0) {
                onKeyRelease(*reinterpret_cast<const xcb_key_release_event_t*>(event));
            }
            return false;
        case XCB_MAPPING_NOTIFY:
            if (reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request !=
                XCB_MAPPING_POINTER) {
                regrabTimer_.start();
            }
            return false;
        case XCB_GE_GENERIC:
            onRawKey(*reinterpret_cast<const xcb_ge_generic_event_t*>(event));
            return false;
        default:
            // setxkbmap reports only through XKB: Qt gets no core MappingNotify then.
            if (xkbEventType_ >= 0 && type == xkbEventType_) {
                // Every XKB event starts like this one: the subtype is its second byte.
                const auto xkbType =
                    reinterpret_cast<const xcb_xkb_new_keyboard_notify_event_t*>(event)->xkbType;
                if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY) {
                    regrabTimer_.start();
                }
            }
            return false;  // Qt needs these too
    }
}

void GlobalHotkeyX11::onKeyPress(const xcb_key_press_event_t& event) {
    keysDown_[event.detail] = true;
    if (!holdsKeycode(event.detail)) {
        return;
    }
    if (event.event != root_) {
        // One of our own windows holds the keyboard (the tray menu): no other program had it.
        blockedTimer_.stop();
        return;
    }
    const bool repeat = keyDown_ == event.detail || (!detectableRepeat_ && lastReleaseTime_ != 0 &&
                                                     event.time == lastReleaseTime_);
    keyDown_ = event.detail;
    grabPressTime_ = event.time;
    blockedTimer_.stop();
    // While a grab is active every key comes here, so the modifiers are checked.
    const auto slot = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& candidate) {
        return candidate.held.matches(event.detail, event.state);
    });
    if (slot == slots_.end() || repeat) {
        return;
    }
    const ShortcutAction action = kShortcutActions[static_cast<std::size_t>(slot - slots_.begin())];
    presses_.post(action);  // not from inside Qt's xcb event dispatch
}

void GlobalHotkeyX11::onRawKey(const xcb_ge_generic_event_t& event) {
    if (xinputOpcode_ < 0 || event.extension != xinputOpcode_ ||
        (event.event_type != XCB_INPUT_RAW_KEY_PRESS &&
         event.event_type != XCB_INPUT_RAW_KEY_RELEASE)) {
        return;
    }
    const auto& raw = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event);
    const auto keycode = static_cast<std::uint8_t>(raw.detail);
    const bool press = event.event_type == XCB_INPUT_RAW_KEY_PRESS;
    const bool repeat = (raw.flags & XCB_INPUT_KEY_EVENT_FLAGS_KEY_REPEAT) != 0;
    keysDown_[keycode] = press;
    if (!press || repeat || !modifierMap_ || !holdsKeycode(keycode)) {
        return;
    }
    std::uint16_t state = 0;
    for (std::size_t key = 0; key < keysDown_.size(); ++key) {
        if (keysDown_[key]) {
            state |= modifierMap_->bitsOf(static_cast<std::uint8_t>(key));
        }
    }
    if (std::any_of(slots_.begin(), slots_.end(), [&](const Slot& slot) {
            return slot.settled && slot.held.matches(keycode, state);
        })) {
        rawPressTime_ = raw.time;
        blockedTimer_.start();
    }
}

void GlobalHotkeyX11::settle(std::uint16_t sequence) {
    for (Slot& slot : slots_) {
        // Sequence numbers wrap at 16 bits; the first event after the grabs
        // comes long before the difference could.
        if (!slot.settled &&
            static_cast<std::int16_t>(sequence - static_cast<std::uint16_t>(slot.grabbedAt)) >= 0) {
            slot.settled = true;
        }
    }
}

void GlobalHotkeyX11::onKeyRelease(const xcb_key_press_event_t& event) {
    keysDown_[event.detail] = false;
    if (event.detail == keyDown_) {
        keyDown_ = 0;
        lastReleaseTime_ = event.time;
    }
}

}  // namespace quillet
