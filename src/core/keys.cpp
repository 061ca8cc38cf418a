#include "core/keys.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace quillet {

namespace {

// Names of the printable keys, indexed by key code; a space marks a code
// without a one-character name (no key is named by a space).
constexpr std::u16string_view kCharNames =
    u"ASDFHGZXCV"    // 0x00-0x09
    u" "             // 0x0A
    u"BQWERYT"       // 0x0B-0x11
    u"123465=97-80"  // 0x12-0x1D
    u"]OU[IP"        // 0x1E-0x23
    u" "             // 0x24 Return
    u"LJ'K;\\,/NM"   // 0x25-0x2E
    u"   "           // 0x2F-0x31
    u"`";            // 0x32
static_assert(kCharNames.size() == 51, "names cover key codes 0 to 50");

constexpr char16_t kNoCharName = u' ';

// Names of the keys that print nothing; U+FE0E keeps the return arrow a text
// glyph rather than an emoji.
struct SpecialName {
    KeyCode code;
    std::u16string_view name;
};
constexpr SpecialName kSpecialNames[] = {
    {0x24, u"\u21A9\uFE0E"},
    {0x30, u"Tab"},
    {0x31, u"Space"},
    {0x33, u"Delete"},
    {0x35, u"Esc"},
    {0x41, u"."},
    {0x43, u"*"},
    {0x45, u"+"},
    {0x47, u"Clear"},
    {0x4B, u"/"},
    {0x4C, u"Num \u21A9\uFE0E"},
    {0x4E, u"-"},
    {0x52, u"Num 0"},
    {0x53, u"Num 1"},
    {0x54, u"Num 2"},
    {0x55, u"Num 3"},
    {0x56, u"Num 4"},
    {0x57, u"Num 5"},
    {0x58, u"Num 6"},
    {0x59, u"Num 7"},
    {0x5B, u"Num 8"},
    {0x5C, u"Num 9"},
    {0x60, u"F5"},
    {0x61, u"F6"},
    {0x62, u"F7"},
    {0x63, u"F3"},
    {0x64, u"F8"},
    {0x65, u"F9"},
    {0x67, u"F11"},
    {0x69, u"F13"},
    {0x6A, u"F16"},
    {0x6B, u"F14"},
    {0x6D, u"F10"},
    {0x6F, u"F12"},
    {0x71, u"F15"},
    {0x72, u"Insert"},
    {0x73, u"Home"},
    {0x74, u"PgUp"},
    {0x76, u"F4"},
    {0x77, u"End"},
    {0x78, u"F2"},
    {0x79, u"PgDn"},
    {0x7A, u"F1"},
    {0x7B, u"\u2190"},
    {0x7C, u"\u2192"},
    {0x7D, u"\u2193"},
    {0x7E, u"\u2191"},
};

}  // namespace

QString modifierSymbols(ModifierFlags flags) {
    QString text;
    if ((flags & modifier::kControl) != 0) {
        text += u'\u2303';
    }
    if ((flags & modifier::kOption) != 0) {
        text += u'\u2325';
    }
    if ((flags & modifier::kShift) != 0) {
        text += u'\u21E7';
    }
    if ((flags & modifier::kCommand) != 0) {
        text += u'\u2318';
    }
    return text;
}

std::optional<QString> keyCodeToChar(KeyCode keyCode) {
    if (keyCode >= kCharNames.size() || kCharNames[keyCode] == kNoCharName) {
        return std::nullopt;
    }
    return QString(QChar(kCharNames[keyCode]));
}

QString specialKeyCodeName(KeyCode keyCode) {
    const auto* found = std::find_if(std::begin(kSpecialNames), std::end(kSpecialNames),
                                     [keyCode](const SpecialName& s) { return s.code == keyCode; });
    if (found == std::end(kSpecialNames)) {
        return QString();
    }
    return QString::fromUtf16(found->name.data(), static_cast<qsizetype>(found->name.size()));
}

QString shortcutText(KeyCode keyCode, ModifierFlags modifiers) {
    return modifierSymbols(modifiers) +
           keyCodeToChar(keyCode).value_or(specialKeyCodeName(keyCode));
}

QString shortcutHint(Shortcut shortcut) {
    const auto key = keyCodeToChar(shortcut.keyCode);
    return key ? modifierSymbols(shortcut.modifiers) + *key : QString();
}

std::optional<Shortcut> shortcutFromStored(std::optional<std::int64_t> keyCode,
                                           std::optional<std::int64_t> modifiers) {
    const std::int64_t flags = modifiers.value_or(0);
    if (!keyCode || *keyCode < 0 || *keyCode > 0xFFFF || flags < 0 ||
        (*keyCode == 0 && flags == 0)) {
        return std::nullopt;
    }
    return Shortcut{static_cast<KeyCode>(*keyCode), static_cast<ModifierFlags>(flags)};
}

}  // namespace quillet
