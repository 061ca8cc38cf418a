#pragma once

// A chord: keys pressed in order, then let go in reverse, so that the
// modifiers are down before the key they change and up only after it. The
// keys are codes in the numbering of whoever sends them (X, XKB or evdev).

#include "core/paste_method.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace quillet::xkb {

struct KeyStroke {
    std::uint32_t key = 0;
    bool down = false;
    friend bool operator==(const KeyStroke&, const KeyStroke&) = default;
};

class Chord {
public:
    Chord(std::initializer_list<std::uint32_t> keys) : keys_(keys) {}

    // Every press in order, then every release in reverse.
    std::vector<KeyStroke> strokes() const;

    // Sends the strokes through `send` (KeyStroke -> bool). A press it
    // refuses ends the presses there, and only the keys that went down are
    // let go: Control alone does nothing, but V alone would type a v. True
    // when every key went down.
    template <typename Send>
    bool play(Send&& send) const {
        const std::vector<KeyStroke> all = strokes();
        std::size_t down = 0;
        while (down < keys_.size() && send(all[down])) {
            ++down;
        }
        // The releases of the first `down` keys are the last `down` strokes.
        for (std::size_t i = all.size() - down; i < all.size(); ++i) {
            send(all[i]);
        }
        return down == keys_.size();
    }

private:
    std::vector<std::uint32_t> keys_;
};

// Where the keys of the paste chords are, in the sender's numbering.
struct PasteKeys {
    std::uint32_t control = 0;
    std::uint32_t shift = 0;
    std::uint32_t v = 0;
    std::uint32_t insert = 0;
};

// The chord that pastes by the method: Shift+Insert, Control+Shift+V, else
// Control+V (typing pastes nothing by a chord).
Chord pasteChord(PasteMethod method, const PasteKeys& keys);

}  // namespace quillet::xkb
