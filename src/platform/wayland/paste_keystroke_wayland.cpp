#include "platform/wayland/paste_keystroke_wayland.h"

#include "platform/wayland/owned.h"
#include "platform/wayland/protocols/virtual-keyboard-unstable-v1.h"
#include "platform/wayland/session.h"
#include "platform/wayland/xkb.h"

#include <wayland-client.h>

#include <cstring>
#include <ctime>
#include <map>
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

// Keycodes beyond 255 reach no X client through Xwayland.
constexpr std::size_t kMostKeysPerKeymap = 200;

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
        : session_(session), context_(newXkbContext()), manager_(manager) {}

    // Presses Control(+Shift)+V and lets go in reverse, on the keycodes of
    // the seat's keymap. False when nothing was pressed.
    bool chord(bool shift) {
        updateSeatKeyboard();
        if (seatKeymap_ != chordKeysFrom_) {
            chordKeysFrom_ = seatKeymap_;
            const XkbKeymap seat = compileKeymap(context_.get(), seatKeymap_);
            chordKeys_ = chordKeysOf(seat.get());
        }
        if (!use(chordKeymap(chordKeys_))) {
            return false;
        }
        std::vector<xkb_keycode_t> keys{chordKeys_.control};
        if (shift) {
            keys.push_back(chordKeys_.shift);
        }
        keys.push_back(chordKeys_.v);
        for (const xkb_keycode_t code : keys) {
            key(code, true);
        }
        for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
            key(*it, false);
        }
        // Back from the compositor: it has passed the keys on.
        wl_display_roundtrip(session_.display());
        return session_.connected();
    }

    // Types the keysyms one key each, on keymaps made for them.
    bool type(const std::vector<xkb_keysym_t>& keysyms) {
        std::size_t start = 0;
        while (start < keysyms.size()) {
            // As many characters as fit distinct keys on one keymap.
            std::map<xkb_keysym_t, xkb_keycode_t> codes;
            std::vector<xkb_keysym_t> distinct;
            std::size_t end = start;
            for (; end < keysyms.size(); ++end) {
                if (codes.count(keysyms[end]) == 0) {
                    if (distinct.size() == kMostKeysPerKeymap) {
                        break;
                    }
                    codes[keysyms[end]] =
                        kFirstTypingKeycode + static_cast<xkb_keycode_t>(distinct.size());
                    distinct.push_back(keysyms[end]);
                }
            }
            if (!use(typingKeymap(distinct))) {
                return false;
            }
            for (std::size_t i = start; i < end; ++i) {
                key(codes[keysyms[i]], true);
                key(codes[keysyms[i]], false);
            }
            start = end;
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

    // Gives our keyboard this keymap unless it has it already.
    bool use(const std::string& text) {
        if (text == uploaded_ && keymap_) {
            return true;
        }
        XkbKeymap keymap = compileKeymap(context_.get(), text);
        const UniqueFd file = keymapFile(text);
        if (!keymap || !file) {
            return false;
        }
        if (!keyboard_) {
            keyboard_.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
                manager_.get(), session_.seat()));
        }
        zwp_virtual_keyboard_v1_keymap(keyboard_.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1,
                                       file.get(), static_cast<std::uint32_t>(text.size() + 1));
        state_.reset(xkb_state_new(keymap.get()));
        keymap_ = std::move(keymap);
        uploaded_ = text;
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
    XkbContext context_;
    Owned<zwp_virtual_keyboard_manager_v1, destroyManager> manager_;
    Owned<zwp_virtual_keyboard_v1, destroyKeyboard> keyboard_;
    Owned<wl_keyboard, releaseSeatKeyboard> seatKeyboard_;
    std::string seatKeymap_;     // as the compositor last sent it, without ours
    std::string chordKeysFrom_;  // the seat keymap chordKeys_ come from
    ChordKeys chordKeys_;
    std::string uploaded_;  // what our keyboard has now
    XkbKeymap keymap_;      // uploaded_, compiled
    XkbState state_;
};

}  // namespace wayland

PasteKeystrokeWayland::PasteKeystrokeWayland(std::shared_ptr<wayland::Session> session)
    : session_(std::move(session)) {
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

bool PasteKeystrokeWayland::waitForKeysReleased(std::chrono::milliseconds /*deadline*/) {
    // Nothing to wait for. A client without focus gets no key or modifier
    // events, so the user's keys cannot be watched; and they need not be:
    // the compositor keeps each keyboard's state apart, and the focused
    // application gets our chord with our keyboard's modifiers only, whatever
    // the user still holds (a binding held 600 ms still pastes, see the tests).
    return true;
}

bool PasteKeystrokeWayland::postPasteChord(PasteMethod method) {
    if (!keyboard_) {
        return false;
    }
    bool posted = false;
    session_->call([&] { posted = keyboard_->chord(method == PasteMethod::ControlShiftV); });
    return posted;
}

bool PasteKeystrokeWayland::postFollowKey(FollowKey key) {
    if (!keyboard_ || key == FollowKey::Nothing) {
        return false;
    }
    bool posted = false;
    const xkb_keysym_t keysym = key == FollowKey::Tab ? XKB_KEY_Tab : XKB_KEY_Return;
    session_->call([&] { posted = keyboard_->type({keysym}); });
    return posted;
}

bool PasteKeystrokeWayland::typeText(const QString& text) {
    const std::vector<xkb_keysym_t> keysyms = wayland::keysymsOf(text);
    if (!keyboard_ || keysyms.empty()) {
        return false;
    }
    bool typed = false;
    session_->call([&] { typed = keyboard_->type(keysyms); });
    return typed;
}

}  // namespace quillet
