#pragma once

#include "platform/key_translator.h"
#include "platform/portal/xkb_keys.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace quillet {

// Key events of our windows on Wayland. Qt hands over each event's XKB key
// code and the keysym it gave; the keysym names the key through the same
// table as the grabs and the portal's triggers. A keysym the table lacks
// (Shift+1 gives "exclam", a Cyrillic layout gives Cyrillic letters) is read
// as the key's plain keysym in the session's layouts, the first that the
// table knows: so the key reads as the first layout names it, as on X11.
class KeyTranslatorXkb final : public KeyTranslator {
public:
    explicit KeyTranslatorXkb(portal::KeymapNames names) : names_(std::move(names)) {}

    std::optional<KeyEvent> translate(const QKeyEvent& event) override;

private:
    portal::KeymapNames names_;
    std::optional<portal::Keymap> keymap_;  // compiled when a dialog first reads a key
};

namespace portal {

// The translation itself. held: the modifiers Qt reports with the event,
// which on Wayland may or may not count a modifier key's own press yet.
// plainKeysyms: the key's level-1 keysyms, one per layout.
std::optional<KeyEvent> translateXkbKey(bool press, std::uint32_t keysym,
                                        const std::vector<std::uint32_t>& plainKeysyms,
                                        ModifierFlags held);

}  // namespace portal

}  // namespace quillet
