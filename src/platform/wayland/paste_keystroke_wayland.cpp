#include "platform/wayland/paste_keystroke_wayland.h"

#include "platform/wayland/owned.h"
#include "platform/wayland/protocols/virtual-keyboard-unstable-v1.h"
#include "platform/wayland/session.h"
#include "platform/wayland/xkb.h"
#include "platform/wayland/xwayland_keys.h"
#include "platform/xkb/chord.h"

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace quillet {

namespace wayland {

namespace {

void destroyManager(zwp_virtual_keyboard_manager_v1* manager) {
    zwp_virtual_keyboard_manager_v1_destroy(manager);
}
void destroyKeyboard(zwp_virtual_keyboard_v1* keyboard) {
    zwp_virtual_keyboard_v1_destroy(keyboard);
}
void releaseSeatKeyboard(wl_keyboard* keyboard) {
    if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
        wl_keyboard_release(keyboard);
    } else {
        wl_keyboard_destroy(keyboard);
    }
}

// How long a line to type waits for the user to let go of the shortcut.
constexpr std::chrono::milliseconds kKeysHeldDeadline{2000};

// How long the keys typed with one keymap get before the next keymap goes
// out, in a line of more different characters than one keymap holds.
constexpr std::chrono::milliseconds kKeymapSettle{150};

std::uint32_t nowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// The keymap in shared memory, as the protocol passes it.
UniqueFd keymapFile(const std::string& text) {
    UniqueFd fd(memfd_create("quillet-keymap", MFD_CLOEXEC));
    const std::size_t size = text.size() + 1;
    if (!fd || ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
        return {};
    }
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (map == MAP_FAILED) {
        return {};
    }
    std::memcpy(map, text.c_str(), size);
    munmap(map, size);
    return fd;
}

}  // namespace

// The virtual keyboard and what it knows of the seat's keyboard. Session thread only.
class VirtualKeyboard {
public:
    VirtualKeyboard(Session& session, zwp_virtual_keyboard_manager_v1* manager)
        : session_(session), context_(xkb::newContext()), manager_(manager) {}

    // Plays the chord that `chordOf` makes of the keycodes where the seat's
    // keymap has our keys. False when nothing was pressed.
    template <typename ChordOf>
    bool chord(ChordOf chordOf) {
        updateSeatKeys();
        // Every keymap of ours has these keys, the one in use included.
        if (!keymap_ && !use(ownKeymap(seatKeys_))) {
            return false;
        }
        chordOf(seatKeys_).play([this](xkb::KeyStroke stroke) {
            key(stroke.key, stroke.down);
            return true;
        });
        // Back from the compositor: it has passed the keys on.
        wl_display_roundtrip(session_.display());
        return session_.connected();
    }

    // Types the keysyms, at most kMostTypedKeys different ones, a key each.
    // The keymap changes only when the one in use lacks some of them.
    bool type(const std::vector<xkb_keysym_t>& keysyms) {
        updateSeatKeys();
        std::vector<xkb_keysym_t> distinct;
        bool covered = keymap_ != nullptr;
        for (const xkb_keysym_t keysym : keysyms) {
            if (std::find(distinct.begin(), distinct.end(), keysym) == distinct.end()) {
                distinct.push_back(keysym);
                covered = covered && typedCodes_.count(keysym) != 0;
            }
        }
        if (distinct.size() > kMostTypedKeys ||
            (!covered && !use(ownKeymap(seatKeys_, distinct)))) {
            return false;
        }
        for (const xkb_keysym_t keysym : keysyms) {
            key(typedCodes_.at(keysym), true);
            key(typedCodes_.at(keysym), false);
        }
        wl_display_roundtrip(session_.display());
        return session_.connected();
    }

private:
    // The seat's keyboard tells us its keymap, even without focus; it
    // appears when the seat gains a keyboard.
    void updateSeatKeyboard() {
        const bool hasKeyboard = (session_.seatCapabilities() & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
        if (hasKeyboard && !seatKeyboard_ && session_.seat() != nullptr) {
            static constexpr wl_keyboard_listener listener{&onKeymap, &onEnter,     &onLeave,
                                                           &onKey,    &onModifiers, &onRepeatInfo};
            seatKeyboard_.reset(wl_seat_get_keyboard(session_.seat()));
            wl_keyboard_add_listener(seatKeyboard_.get(), &listener, this);
            wl_display_roundtrip(session_.display());
        } else if (!hasKeyboard) {
            seatKeyboard_.reset();
        }
    }

    // Where the seat's keymap has our keys; a change there needs a keymap of
    // ours with them in their new places.
    void updateSeatKeys() {
        updateSeatKeyboard();
        if (seatKeymap_ == seatKeysFrom_) {
            return;
        }
        seatKeysFrom_ = seatKeymap_;
        const xkb::KeymapPtr seat = xkb::keymapFromText(context_.get(), seatKeymap_);
        const SeatKeys keys = seatKeysOf(seat.get());
        if (keys != seatKeys_) {
            seatKeys_ = keys;
            keymap_.reset();
        }
    }

    // Gives our keyboard this keymap.
    bool use(const OwnKeymap& own) {
        xkb::KeymapPtr keymap = xkb::keymapFromText(context_.get(), own.text);
        const UniqueFd file = keymapFile(own.text);
        if (!keymap || !file) {
            return false;
        }
        if (!keyboard_) {
            keyboard_.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
                manager_.get(), session_.seat()));
        }
        zwp_virtual_keyboard_v1_keymap(keyboard_.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1,
                                       file.get(), static_cast<std::uint32_t>(own.text.size() + 1));
        state_.reset(xkb_state_new(keymap.get()));
        keymap_ = std::move(keymap);
        typedCodes_.clear();
        for (std::size_t i = 0; i < own.typed.size(); ++i) {
            typedCodes_[own.typed[i]] = own.typedCodes[i];
        }
        return state_ != nullptr;
    }

    // A virtual keyboard's modifiers are what its client says they are:
    // they follow every key.
    void key(xkb_keycode_t code, bool down) {
        zwp_virtual_keyboard_v1_key(
            keyboard_.get(), nowMs(), code - 8,
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        xkb_state_update_key(state_.get(), code, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        zwp_virtual_keyboard_v1_modifiers(
            keyboard_.get(), xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_DEPRESSED),
            xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LATCHED),
            xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LOCKED),
            xkb_state_serialize_layout(state_.get(), XKB_STATE_LAYOUT_EFFECTIVE));
    }

    static void onKeymap(void* data, wl_keyboard*, std::uint32_t format, int fd,
                         std::uint32_t size) {
        const UniqueFd file(fd);
        if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0) {
            return;
        }
        void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.get(), 0);
        if (map == MAP_FAILED) {
            return;
        }
        std::string text(static_cast<const char*>(map),
                         strnlen(static_cast<const char*>(map), size));
        munmap(map, size);
        // Ours come back while our keyboard is the seat's latest: not the user's.
        const std::string ours = "xkb_keycodes \"" + std::string(kOwnKeymapName) + '"';
        if (text.find(ours) == std::string::npos) {
            static_cast<VirtualKeyboard*>(data)->seatKeymap_ = std::move(text);
        }
    }
    static void onEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
    static void onLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
    static void onKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                      std::uint32_t) {}
    static void onModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                            std::uint32_t, std::uint32_t) {}
    static void onRepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

    Session& session_;
    xkb::ContextPtr context_;
    Owned<zwp_virtual_keyboard_manager_v1, destroyManager> manager_;
    Owned<zwp_virtual_keyboard_v1, destroyKeyboard> keyboard_;
    Owned<wl_keyboard, releaseSeatKeyboard> seatKeyboard_;
    std::string seatKeymap_;    // as the compositor last sent it, without ours
    std::string seatKeysFrom_;  // the seat keymap seatKeys_ come from
    SeatKeys seatKeys_;
    xkb::KeymapPtr keymap_;  // what our keyboard has now; null until the first, or when stale
    std::map<xkb_keysym_t, xkb_keycode_t> typedCodes_;  // its keys that type
    xkb::StatePtr state_;
};

}  // namespace wayland

PasteKeystrokeWayland::PasteKeystrokeWayland(std::shared_ptr<wayland::Session> session)
    : session_(std::move(session)),
      xwaylandKeys_(std::make_unique<wayland::XwaylandKeys>(qgetenv("DISPLAY").toStdString())) {
    session_->call([this] {
        auto* manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            session_->bind(zwp_virtual_keyboard_manager_v1_interface, 1));
        if (manager != nullptr && session_->seat() != nullptr) {
            keyboard_ = std::make_unique<wayland::VirtualKeyboard>(*session_, manager);
        } else if (manager != nullptr) {
            zwp_virtual_keyboard_manager_v1_destroy(manager);
        }
    });
}

PasteKeystrokeWayland::~PasteKeystrokeWayland() {
    session_->call([this] { keyboard_.reset(); });
}

bool PasteKeystrokeWayland::available() {
    return keyboard_ != nullptr;
}

bool PasteKeystrokeWayland::postPasteChord(PasteMethod method) {
    if (!keyboard_) {
        return false;
    }
    bool posted = false;
    session_->call([&] {
        posted = keyboard_->chord([method](const wayland::SeatKeys& keys) {
            return xkb::pasteChord(method, {keys.control, keys.shift, keys.v, keys.insert});
        });
    });
    return posted;
}

bool PasteKeystrokeWayland::postFollowKey(FollowKey key) {
    if (!keyboard_ || key == FollowKey::Nothing) {
        return false;
    }
    // On the seat's keycodes, in whatever keymap of ours is in use: no
    // switch, and an X client that reads them with the seat's keymap still
    // reads Tab or Return.
    bool posted = false;
    session_->call([&] {
        posted = keyboard_->chord([key](const wayland::SeatKeys& keys) {
            return xkb::Chord{key == FollowKey::Tab ? keys.tab : keys.enter};
        });
    });
    return posted;
}

bool PasteKeystrokeWayland::typeText(const QString& text) {
    const std::vector<xkb_keysym_t> keysyms = wayland::keysymsOf(text);
    if (!keyboard_ || keysyms.empty()) {
        return false;
    }
    xwaylandKeys_->waitUntilReleased(wayland::kKeysHeldDeadline);
    std::size_t start = 0;
    while (start < keysyms.size()) {
        // As many characters as one keymap has keys for.
        std::set<xkb_keysym_t> distinct;
        std::size_t end = start;
        for (; end < keysyms.size(); ++end) {
            distinct.insert(keysyms[end]);
            if (distinct.size() > wayland::kMostTypedKeys) {
                break;
            }
        }
        if (start > 0) {
            // An X client fetches a changed keymap from Xwayland only when
            // it comes to the keys after the change: the keys before must
            // be read before the next keymap is there.
            std::this_thread::sleep_for(wayland::kKeymapSettle);
        }
        const std::vector<xkb_keysym_t> part(keysyms.begin() + static_cast<std::ptrdiff_t>(start),
                                             keysyms.begin() + static_cast<std::ptrdiff_t>(end));
        bool typed = false;
        session_->call([&] { typed = keyboard_->type(part); });
        if (!typed) {
            return false;
        }
        start = end;
    }
    return true;
}

}  // namespace quillet
