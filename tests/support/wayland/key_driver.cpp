#include "wayland/key_driver.h"

#include "platform/wayland/owned.h"
#include "platform/wayland/protocols/virtual-keyboard-unstable-v1.h"
#include "platform/wayland/xkb.h"

#include <wayland-client.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace quillet::wlharness {

namespace {

std::uint32_t nowMs() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

}  // namespace

struct KeyDriver::Impl {
    wayland::Owned<wl_display, wl_display_disconnect> display;
    wayland::Owned<wl_seat, wl_seat_destroy> seat;
    wayland::Owned<zwp_virtual_keyboard_manager_v1, zwp_virtual_keyboard_manager_v1_destroy>
        manager;
    wayland::Owned<zwp_virtual_keyboard_v1, zwp_virtual_keyboard_v1_destroy> keyboard;
    xkb::ContextPtr context = xkb::newContext();
    xkb::KeymapPtr keymap;
    xkb::StatePtr state;

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat) {
            self->seat.reset(
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1)));
        } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            self->manager.reset(static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1)));
        }
    }
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

    void key(xkb_keycode_t code, bool down) {
        zwp_virtual_keyboard_v1_key(
            keyboard.get(), nowMs(), code - 8,
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        xkb_state_update_key(state.get(), code, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        zwp_virtual_keyboard_v1_modifiers(
            keyboard.get(), xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED),
            xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_LATCHED),
            xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_LOCKED),
            xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE));
    }
};

KeyDriver::KeyDriver(const std::string& layout, const std::string& variant)
    : impl_(std::make_unique<Impl>()) {
    impl_->display.reset(wl_display_connect(nullptr));
    if (!impl_->display) {
        return;
    }
    static constexpr wl_registry_listener listener{&Impl::onGlobal, &Impl::onGlobalRemove};
    wl_registry* registry = wl_display_get_registry(impl_->display.get());
    wl_registry_add_listener(registry, &listener, impl_.get());
    wl_display_roundtrip(impl_->display.get());
    wl_registry_destroy(registry);

    const xkb_rule_names names{nullptr, nullptr, layout.c_str(),
                               variant.empty() ? nullptr : variant.c_str(), nullptr};
    impl_->keymap.reset(
        xkb_keymap_new_from_names(impl_->context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!impl_->seat || !impl_->manager || !impl_->keymap) {
        return;
    }
    impl_->state.reset(xkb_state_new(impl_->keymap.get()));
    const std::unique_ptr<char, decltype(&std::free)> text(
        xkb_keymap_get_as_string(impl_->keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    const std::size_t size = std::strlen(text.get()) + 1;
    const wayland::UniqueFd file(memfd_create("keys", MFD_CLOEXEC));
    if (ftruncate(file.get(), static_cast<off_t>(size)) != 0 ||
        pwrite(file.get(), text.get(), size, 0) != static_cast<ssize_t>(size)) {
        return;
    }
    impl_->keyboard.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        impl_->manager.get(), impl_->seat.get()));
    zwp_virtual_keyboard_v1_keymap(impl_->keyboard.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1,
                                   file.get(), static_cast<std::uint32_t>(size));
    wl_display_roundtrip(impl_->display.get());
}

KeyDriver::~KeyDriver() {
    if (impl_->display) {
        impl_->keyboard.reset();
        wl_display_roundtrip(impl_->display.get());
    }
}

bool KeyDriver::ready() const {
    return impl_->keyboard && wl_display_get_error(impl_->display.get()) == 0;
}

KeyDriver::Keystroke KeyDriver::chord(const std::vector<std::string>& keys, Clock::duration hold) {
    std::vector<xkb_keycode_t> codes;
    for (const std::string& name : keys) {
        const xkb_keysym_t keysym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
        if (const auto place = xkb::findKey(impl_->keymap.get(), keysym)) {
            codes.push_back(place->code);
        }
    }
    const auto pressed = Clock::now();
    for (const xkb_keycode_t code : codes) {
        impl_->key(code, true);
    }
    wl_display_flush(impl_->display.get());
    std::this_thread::sleep_for(hold);  // the user's finger on the keys
    const auto released = Clock::now();
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        impl_->key(*it, false);
    }
    wl_display_roundtrip(impl_->display.get());
    return {pressed, released};
}

}  // namespace quillet::wlharness
