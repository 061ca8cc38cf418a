#include "app/status_menu.h"

#include "hotkey/stored_shortcut.h"
#include "platform/fakes/fake_status_item.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/manual_main_queue.h"
#include "platform/tray_icon_painter.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

const QString kLanguageKey = u"appLanguage"_s;

// The menu on one line: a separator as "--", a disabled row in brackets, a
// checked one with '*', the key text after '~', a submenu in braces.
QString outline(const std::vector<MenuRow>& rows) {
    QStringList parts;
    for (const MenuRow& row : rows) {
        QString part = row.kind == MenuRow::Kind::Separator ? u"--"_s : row.title;
        if (!row.keyText.isEmpty()) {
            part += u'~' + row.keyText;
        }
        part += row.checked ? u"*"_s : QString();
        if (!row.enabled) {
            part = u'[' + part + u']';
        }
        if (row.kind == MenuRow::Kind::Submenu) {
            part += u" > {"_s + outline(row.children) + u'}';
        }
        parts.append(part);
    }
    return parts.join(u" | ");
}

struct MenuRig {
    explicit MenuRig(std::optional<QString> language, QStringList system = {u"en-US"_s})
        : languages(std::move(system)) {
        if (language) {
            settings.setString(kLanguageKey, *language);
        }
        storeShortcut(kDefaultHotkeyCode, kDefaultHotkeyModifiers);
    }
    // Start-up as the program does it, with the posted row update run.
    void setUp() {
        controller.setupStatusBarItem();
        mainQueue.runPending();
    }
    void storeShortcut(std::int64_t code, std::int64_t modifiers) {
        settings.setInteger(QString::fromUtf16(kHotkeyCodeKey), code);
        settings.setInteger(QString::fromUtf16(kHotkeyModifiersKey), modifiers);
    }
    const MenuRow& shortcutRow() const { return item.rows().front(); }

    InMemorySettingsStore settings;
    FixedUiLanguages languages;
    ManualMainQueue mainQueue;
    FakeStatusItem item;
    std::vector<MenuEntry> chosen;
    StatusMenuController controller{item, settings, mainQueue,
                                    LocalizedStrings{settings, languages},
                                    [this](const MenuEntry& e) { chosen.push_back(e); }};
};

TEST(StatusMenu, RowsInBothLanguages) {
    const QString english =
        u"Set Shortcut (Current: ⌃⌥⌘V)~⌃⌥⌘V | -- | "
        "[Usage: Copy multi-lines, press shortcut to paste line by line.] | "
        "Language / 语言 > {Auto (System Default) | English* | 中文} | -- | About | -- | Quit~⌘Q"_s;
    const QString chinese =
        u"设置快捷键 (当前: ⌃⌥⌘V)~⌃⌥⌘V | -- | [使用说明：复制多行文本，按下快捷键逐行粘贴。] | "
        "Language / 语言 > {自动 (跟随系统) | English | 中文*} | -- | 关于 | -- | 退出~⌘Q"_s;
    for (const auto& [code, title, expected] :
         {std::tuple{u"en"_s, u"Paste"_s, english}, std::tuple{u"zh"_s, u"粘贴"_s, chinese}}) {
        SCOPED_TRACE(code.toStdString());
        MenuRig rig(code);
        rig.setUp();
        EXPECT_TRUE(rig.item.shown());
        EXPECT_EQ(rig.item.title(), title);
        EXPECT_EQ(outline(rig.item.rows()), expected);
    }
}

TEST(StatusMenu, CheckmarkFollowsTheStoredLanguageExactly) {
    const QStringList zh{u"zh-Hans-CN"_s};
    const QStringList en{u"en-US"_s};
    struct Case {
        std::optional<QString> stored;
        QStringList system;
        QString languageMenu;
    };
    const std::vector<Case> cases = {
        {std::nullopt, en, u"Auto (System Default)* | English | 中文"_s},
        {std::nullopt, zh, u"自动 (跟随系统)* | English | 中文"_s},
        {u"auto"_s, zh, u"自动 (跟随系统)* | English | 中文"_s},
        {u"en"_s, zh, u"Auto (System Default) | English* | 中文"_s},
        {u"zh"_s, en, u"自动 (跟随系统) | English | 中文*"_s},
        // Other values check nothing, and the texts follow the system.
        {u"fr"_s, zh, u"自动 (跟随系统) | English | 中文"_s},
        {u"ZH"_s, en, u"Auto (System Default) | English | 中文"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.value_or(u"<absent>"_s).toStdString());
        MenuRig rig(c.stored, c.system);
        rig.setUp();
        const MenuRow* language = rig.item.row(u"Language / 语言"_s);
        ASSERT_NE(language, nullptr);
        EXPECT_EQ(outline(language->children), c.languageMenu);
    }
}

TEST(StatusMenu, ShortcutRowShowsTheStoredShortcut) {
    struct Case {
        std::int64_t code;
        std::int64_t modifiers;
        QString title;
        QString keyEquivalent;  // what the model holds
        QString keyText;        // what the row shows
    };
    const std::vector<Case> cases = {
        {9, 0x1C0000, u"Set Shortcut (Current: ⌃⌥⌘V)"_s, u"v"_s, u"⌃⌥⌘V"_s},
        {0x7A, 0, u"Set Shortcut (Current: F1)"_s, u""_s, u""_s},
        // Code 0 counts as nothing stored for the text, but names the A key.
        {0, 0x100000, u"Set Shortcut (Current: ⌃⌥⌘V)"_s, u"a"_s, u"⌘A"_s},
        // A key without any name: the modifiers alone, and no key equivalent.
        {0x2F, 0x100000, u"Set Shortcut (Current: ⌘)"_s, u""_s, u""_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        MenuRig rig(u"en"_s);
        rig.storeShortcut(c.code, c.modifiers);
        const ShortcutDisplay display = readShortcutDisplay(rig.settings);
        EXPECT_EQ(display.keyEquivalent, c.keyEquivalent);
        EXPECT_EQ(display.keyEquivalentModifiers, static_cast<ModifierFlags>(c.modifiers));
        rig.setUp();
        EXPECT_EQ(rig.shortcutRow().title, c.title);
        EXPECT_EQ(rig.shortcutRow().keyText, c.keyText);
    }

    // The shortcut is read when the update is asked for, the wording picked
    // when the posted update runs.
    MenuRig rig(u"en"_s);
    rig.controller.setupStatusBarItem();
    EXPECT_EQ(rig.shortcutRow().title, u"Set Shortcut...");
    rig.storeShortcut(0x7A, 0);
    rig.controller.updateHotkeyDisplay();
    rig.storeShortcut(kDefaultHotkeyCode, kDefaultHotkeyModifiers);
    rig.settings.setString(kLanguageKey, u"zh"_s);
    rig.mainQueue.runPending();
    EXPECT_EQ(rig.shortcutRow().title, u"设置快捷键 (当前: F1)");
}

TEST(StatusMenu, RowsCarryTheirCommandsAndLanguageRowsSwitch) {
    MenuRig rig(std::nullopt);
    rig.setUp();
    EXPECT_FALSE(
        rig.item.choose(u"Usage: Copy multi-lines, press shortcut to paste line by line."_s));
    for (const QString& title :
         {u"Set Shortcut (Current: ⌃⌥⌘V)"_s, u"About"_s, u"Quit"_s, u"中文"_s}) {
        ASSERT_TRUE(rig.item.choose(title)) << title.toStdString();
    }
    ASSERT_EQ(rig.chosen.size(), 4u);
    EXPECT_EQ(rig.chosen[0].command, MenuCommand::SetShortcut);
    EXPECT_EQ(rig.chosen[1].command, MenuCommand::About);
    EXPECT_EQ(rig.chosen[2].command, MenuCommand::Quit);
    EXPECT_EQ(rig.chosen[3].command, MenuCommand::Language);
    EXPECT_EQ(rig.chosen[3].languageCode, u"zh");

    // What the delegate does with a language row; the same choice again
    // still builds the menu anew.
    for (const QString& code : {u"zh"_s, u"zh"_s, u"en"_s, u"auto"_s}) {
        SCOPED_TRACE(code.toStdString());
        const int menusBefore = rig.item.menusSet();
        rig.controller.switchLanguage(code);
        rig.mainQueue.runPending();
        const bool chinese = code == u"zh";
        EXPECT_EQ(rig.settings.string(kLanguageKey), code);
        EXPECT_EQ(rig.item.menusSet(), menusBefore + 1);
        EXPECT_EQ(rig.item.title(), chinese ? u"粘贴"_s : u"Paste"_s);
        EXPECT_EQ(rig.shortcutRow().title,
                  chinese ? u"设置快捷键 (当前: ⌃⌥⌘V)"_s : u"Set Shortcut (Current: ⌃⌥⌘V)"_s);
        EXPECT_EQ(rig.item.row(u"中文"_s)->checked, chinese);
    }
}

// The glyph stays inside the square it is given (trays pack icons edge to
// edge) and has both dark ink and light paper, to show on any panel.
TEST(TrayIcon, GlyphFitsItsSquareWithDarkAndLightParts) {
    for (const QSize size : {QSize(16, 16), QSize(22, 22), QSize(32, 32), QSize(48, 24)}) {
        SCOPED_TRACE(size.width());
        QImage image(size + QSize(8, 8), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintTrayGlyph(painter, QRectF(QPointF(4, 4), size));
        painter.end();
        const int side = std::min(size.width(), size.height());
        const QRect square(4 + (size.width() - side) / 2, 4, side, side);
        int dark = 0, light = 0, outside = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                outside += pixel.alpha() > 0 && !square.contains(x, y) ? 1 : 0;
                dark += pixel.alpha() == 255 && pixel.lightness() < 80 ? 1 : 0;
                light += pixel.alpha() == 255 && pixel.lightness() > 220 ? 1 : 0;
            }
        }
        EXPECT_EQ(outside, 0);
        EXPECT_GT(dark, side * side / 10);
        EXPECT_GT(light, side * side / 5);
    }
}

}  // namespace
}  // namespace quillet
