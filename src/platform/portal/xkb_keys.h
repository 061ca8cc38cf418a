#pragma once

// Keys and keysyms for the portal's keyboard, worked out with xkbcommon.
// Pure: the compositor is never asked (a client without the keyboard focus
// cannot ask it for its keymap).

#include "platform/xkb/keymap.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace quillet::portal {

// What a keymap is compiled from; an empty field takes xkbcommon's choice
// (the XKB_DEFAULT_* variables, then its built-in default, us).
struct KeymapNames {
    QByteArray model;
    QByteArray layout;   // comma-separated, one per layout
    QByteArray variant;  // likewise
};

// The keymap KWin builds for the session: the layouts of KDE's keyboard
// settings (kxkbrc in the config folder) when they list any, else
// xkbcommon's choice as KWin makes it.
KeymapNames sessionKeymapNames(const QString& configFolder);

// A keymap compiled from its names, asked where keysyms sit.
class Keymap {
public:
    // Empty when xkbcommon cannot compile the names.
    explicit Keymap(const KeymapNames& names);

    // The evdev code of a key that gives the keysym without Shift, in the
    // first layout that has one; none where no layout does.
    std::optional<int> evdevKeyFor(std::uint32_t keysym) const;

    // The key's keysym at level 1 in each layout, the first layout first;
    // empty for keys the keymap lacks.
    std::vector<std::uint32_t> plainKeysyms(std::uint32_t xkbKeycode) const;

    // Whether every keysym sits on a key of the first layout, plain, with
    // Shift or with AltGr: the levels KDE presses a keysym on. It drops any
    // other without a word. True when the keymap is empty and cannot tell.
    bool typesOnFirstLayout(const std::vector<std::uint32_t>& keysyms) const;

private:
    xkb::KeymapPtr keymap_;
};

// One keysym per character of the text (per code point); none when a
// character has none.
std::optional<std::vector<std::uint32_t>> keysymsForText(const QString& text);

}  // namespace quillet::portal
