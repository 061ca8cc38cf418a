#pragma once

#include "platform/paste_keystroke.h"

#include <memory>

namespace quillet {

namespace wayland {
class Session;
class VirtualKeyboard;
class XwaylandKeys;
}  // namespace wayland

// Keystrokes through a virtual keyboard of our own (zwp_virtual_keyboard_v1),
// made on the Wayland session's thread and kept for the program's life. Its
// keymap has the chords' keys, Tab and Return on the keycodes where the
// seat's keymap has them, so that Control+V means Control+V in any layout,
// and keys for the characters of the line typed last: it changes only when a
// line to type needs other characters, and then only once the user's keys
// are up where Xwayland can tell (see XwaylandKeys).
//
// The user's keys are not waited for before a chord. A client without focus
// gets no key events, so they cannot be watched; and they need not be: the
// compositor keeps each keyboard's state apart, and the focused application
// gets our chord with our keyboard's modifiers only, whatever the user still
// holds (a binding held 600 ms still pastes, see the tests).
class PasteKeystrokeWayland final : public PasteKeystroke {
public:
    explicit PasteKeystrokeWayland(std::shared_ptr<wayland::Session> session);
    ~PasteKeystrokeWayland() override;

    bool available() override;
    bool postPasteChord(PasteMethod method) override;
    bool postFollowKey(FollowKey key) override;
    bool typeText(const QString& text) override;

private:
    std::shared_ptr<wayland::Session> session_;
    std::unique_ptr<wayland::VirtualKeyboard> keyboard_;  // session thread only
    std::unique_ptr<wayland::XwaylandKeys> xwaylandKeys_;
};

}  // namespace quillet
