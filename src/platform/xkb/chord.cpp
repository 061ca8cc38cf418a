#include "platform/xkb/chord.h"

namespace quillet::xkb {

std::vector<KeyStroke> Chord::strokes() const {
    std::vector<KeyStroke> strokes;
    strokes.reserve(2 * keys_.size());
    for (const std::uint32_t key : keys_) {
        strokes.push_back({key, true});
    }
    for (auto it = keys_.rbegin(); it != keys_.rend(); ++it) {
        strokes.push_back({*it, false});
    }
    return strokes;
}

Chord pasteChord(PasteMethod method, const PasteKeys& keys) {
    switch (method) {
        case PasteMethod::ShiftInsert:
            return {keys.shift, keys.insert};
        case PasteMethod::ControlShiftV:
            return {keys.control, keys.shift, keys.v};
        case PasteMethod::ControlV:
        case PasteMethod::Typing:
            break;
    }
    return {keys.control, keys.v};
}

}  // namespace quillet::xkb
