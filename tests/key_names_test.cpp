#include "hotkey/key_names.h"
#include "hotkey/stored_shortcut.h"
#include "platform/fakes/in_memory_settings_store.h"

#include <gtest/gtest.h>

#include <QSet>

#include <limits>
#include <tuple>
#include <utility>

namespace quillet {
namespace {

using namespace modifier;
using namespace Qt::StringLiterals;

// Caps Lock (0x10000) and other bits are dropped.
TEST(KeyNames, CarbonModifiersTakeOnlyTheFourShortcutBits) {
    const std::pair<ModifierFlags, std::uint32_t> cases[] = {
        {0, 0},
        {kShift, 0x0200},
        {kControl, 0x1000},
        {kOption, 0x0800},
        {kCommand, 0x0100},
        {0x1C0000, 0x1900},
        {0x1E0000, 0x1B00},
        {0x10000, 0},
        {std::numeric_limits<ModifierFlags>::max(), 0x1B00}};
    for (const auto& [cocoa, carbon] : cases) {
        EXPECT_EQ(convertCocoaToCarbonModifiers(cocoa), carbon) << std::hex << cocoa;
    }
}

// Keys without a name (0x2F, 0x0A, 0x40, 0x72, 0x75) leave only the symbols.
TEST(KeyNames, ShortcutTextOrdersSymbolsAndPicksTheKeyName) {
    const std::tuple<KeyCode, ModifierFlags, QString> cases[] = {
        {0x09, 0x1C0000, u"⌃⌥⌘V"_s},
        {0x00, kCommand | kShift | kOption | kControl, u"⌃⌥⇧⌘A"_s},
        {0x2B, kCommand | kShift, u"⇧⌘,"_s},
        {0x32, kOption | 0x10000, u"⌥`"_s},
        {0x7A, 0, u"F1"_s},
        {0x24, kCommand, u"\u2318\u21A9\uFE0E"_s},
        {0x4C, 0, u"Num \u21A9\uFE0E"_s},
        {0x33, kControl, u"⌃Delete"_s},
        {0x7E, 0, u"↑"_s},
        {0x2F, kCommand, u"⌘"_s},
        {0x0A, 0, QString()},
        {0x40, 0, QString()},
        {0x72, 0, QString()},
        {0x75, kShift, u"⇧"_s}};
    for (const auto& [code, modifiers, text] : cases) {
        EXPECT_EQ(shortcutText(code, modifiers), text) << std::hex << code;
    }
    EXPECT_EQ(stringRepresentation(0), QString());
}

TEST(KeyNames, NamesCoverOnlyTheirRangesAndEveryStandaloneKeyShows) {
    QSet<QString> names;
    for (int code = 0; code <= 0xFFFF; ++code) {
        const auto keyCode = static_cast<KeyCode>(code);
        if (code < 0x24 || code > 0x7E) {
            EXPECT_EQ(specialKeyCodeName(keyCode), QString()) << code;
        }
        if (standaloneKeyCodes.contains(keyCode)) {
            EXPECT_FALSE(shortcutText(keyCode, 0).isEmpty()) << code;
        }
        if (const auto name = keyCodeToChar(keyCode)) {
            EXPECT_LE(code, 50);
            EXPECT_EQ(*name, name->toUpper()) << code;
            EXPECT_EQ(name->size(), 1) << code;
            names.insert(*name);
        }
    }
    // 0x0A, Return, 0x2F, Tab and Space have none; the rest are distinct.
    EXPECT_EQ(names.size(), 51 - 5);
}

TEST(StoredShortcut, ValuesOutsideTheWrittenRangesReadAsNone) {
    const QVariant absent;
    const struct {
        const char* what;
        QVariant code;
        QVariant modifiers;
        std::optional<Shortcut> expected;
    } cases[] = {
        {"nothing stored", absent, absent, std::nullopt},
        {"code 0", 0, 0x100000, std::nullopt},
        {"negative code", -9, 0x100000, std::nullopt},
        {"code 2^32 + 9", (qint64{1} << 32) | 9, 0x100000, std::nullopt},
        {"code 0x10000", 0x10000, 0x100000, std::nullopt},
        {"text code", u"abc"_s, 0x100000, std::nullopt},
        {"negative modifiers", 9, -1, std::nullopt},
        {"largest code", 0xFFFF, 0, Shortcut{0xFFFF, 0}},
        {"modifiers absent", 0x7A, absent, Shortcut{0x7A, 0}},
        {"F5 with Command", 0x60, 0x100000, Shortcut{0x60, kCommand}},
    };
    for (const auto& c : cases) {
        InMemorySettingsStore store;
        if (c.code.isValid()) {
            store.setRaw(u"hotkeyCode"_s, c.code);
        }
        if (c.modifiers.isValid()) {
            store.setRaw(u"hotkeyModifiers"_s, c.modifiers);
        }
        EXPECT_EQ(readStoredShortcut(store), c.expected) << c.what;
        const Shortcut shown = c.expected.value_or(kDefaultShortcut);
        EXPECT_EQ(storedShortcutText(store), shortcutText(shown.keyCode, shown.modifiers))
            << c.what;
    }
    EXPECT_EQ(storedShortcutText(InMemorySettingsStore()), u"⌃⌥⌘V"_s);
}

TEST(StoredShortcut, StoreRoundTripsAndReportsFailure) {
    InMemorySettingsStore store;
    const Shortcut shortcut{0x24, kControl | kCommand};
    ASSERT_TRUE(storeShortcut(store, shortcut));
    EXPECT_EQ(readStoredShortcut(store), shortcut);
    EXPECT_EQ(storedShortcutText(store), u"⌃⌘\u21A9\uFE0E"_s);

    store.setWritable(false);
    EXPECT_FALSE(storeShortcut(store, kDefaultShortcut));
    EXPECT_EQ(readStoredShortcut(store), shortcut);
}

}  // namespace
}  // namespace quillet
