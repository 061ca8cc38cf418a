#pragma once

// Keys and keysyms for the portal's keyboard, worked out with xkbcommon.
// Pure: the compositor is never asked (a client without the keyboard focus
// cannot ask it for its keymap).

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

// The evdev code of a key that gives the keysym without Shift, in the first
// layout that has one; none where no layout does.
std::optional<int> evdevKeyFor(const KeymapNames& names, std::uint32_t keysym);

// One keysym per character of the text (per code point); none when a
// character has none.
std::optional<std::vector<std::uint32_t>> keysymsForText(const QString& text);

}  // namespace quillet::portal
