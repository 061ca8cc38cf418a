#pragma once

#include "platform/key_translator.h"
#include "platform/x11/keymap.h"

#include <cstdint>
#include <optional>
#include <span>

struct xcb_connection_t;

namespace quillet {

// Key events of our windows on X11, read with the same keysym table as the
// shortcut grabs: the key's keysym at level 1 of the current layout names
// it, and the X state before the event, corrected for a modifier key's own
// press or release, gives the modifiers. The server's mappings are read
// afresh for every event, so a layout switch while a dialog is open counts.
class KeyTranslatorX11 final : public KeyTranslator {
public:
    // Uses Qt's xcb connection; without one nothing is translated.
    KeyTranslatorX11();

    std::optional<KeyEvent> translate(const QKeyEvent& event) override;

private:
    xcb_connection_t* connection_ = nullptr;
};

namespace x11 {

// What the server says about the key of one event.
struct KeyFacts {
    std::span<const Keysym> keysyms;    // its keysyms in core order
    std::uint16_t ownModifierBits = 0;  // the modifier rows it sits on
    ModifierMasks masks;
};

// The translation itself, without a server. state is the X state before the
// event (modifiers, and the XKB group in bits 13 and 14).
std::optional<KeyEvent> translateKey(bool press, std::uint16_t state, const KeyFacts& key);

}  // namespace x11

}  // namespace quillet
