// Setting the shortcut in the real program, as a user would: the dialog
// opened from the tray menu or by a first run, the combination pressed with
// XTest, Confirm or Cancel clicked with the mouse, and then what the program
// stores, shows and pastes.

#include "app/localized_strings.h"
#include "hotkey/capture_dialog.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/recording_settings_delegate.h"
#include "platform/key_translator_x11.h"
#include "x_session.h"

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quillet::e2e {
namespace {

using namespace Qt::StringLiterals;

const std::vector<std::string> kControlShiftK{"Control_L", "Shift_L", "k"};
constexpr std::uint16_t kControlShiftMask = (1U << 0) | (1U << 2);

// The same dialog shown in this process, with the program's code, style and
// fonts: where its buttons sit from its bottom-right corner. Another
// process's widgets cannot be read.
struct DialogHere {
    QPoint confirm;
    QPoint cancel;
};

DialogHere dialogHere() {
    InMemorySettingsStore settings;
    settings.setString(u"appLanguage"_s, u"en"_s);
    const FixedUiLanguages languages;
    const LocalizedStrings strings(settings, languages);
    RecordingSettingsDelegate delegate(settings);
    KeyTranslatorX11 translator;
    DialogHere here;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog == nullptr ||
                dialog->objectName() != QLatin1StringView(kCaptureDialogName)) {
                continue;
            }
            const auto fromCorner = [dialog](const char* name) {
                const auto* button = dialog->findChild<QPushButton*>(QLatin1StringView(name));
                return dialog->rect().bottomRight() -
                       button->mapTo(dialog, button->rect().center());
            };
            here.confirm = fromCorner(kConfirmButtonName);
            here.cancel = fromCorner(kCancelButtonName);
            dialog->reject();
        }
    });
    showHotkeySettingsAlert(delegate, strings, settings, translator);
    return here;
}

// The window's picture once it has stopped changing: painted in full.
QImage settledImage(const XWindow& window) {
    QImage last;
    waitUntil(
        [&] {
            QImage now = windowImage(window);
            const bool settled = !now.isNull() && now == last;
            last = std::move(now);
            return settled;
        },
        5s);
    return last;
}

class ShortcutTest : public ::testing::Test {
protected:
    void SetUp() override {
        QUILLET_REQUIRE_DISPLAY();
        buttons_ = dialogHere();
        ASSERT_TRUE(target_.started());
        target_.focus();  // back from the dialog shown here
    }

    void launch(QuilletProcess::Launch launch = QuilletProcess::Launch::Later) {
        quillet_ = std::make_unique<QuilletProcess>(config_.path(), launch);
        ASSERT_TRUE(quillet_->start()) << quillet_->standardError().toStdString();
    }

    // The dialog, once it has the keyboard: the keys pressed next are for it.
    XWindow focusedDialog() {
        std::optional<XWindow> found;
        EXPECT_TRUE(waitUntil(
            [&] {
                found = windowNamed(quillet_->pid(), u"Set Shortcut"_s);
                return found && focusedWindow() == found->id;
            },
            10s))
            << "no focused dialog";
        return found.value_or(XWindow{});
    }

    XWindow openDialogFromMenu() {
        EXPECT_TRUE(openTrayMenu(quillet_->pid(), u"Paste"_s));
        keys_.chord({"Down"});
        keys_.chord({"Return"});
        return focusedDialog();
    }

    // Presses the combination in the open dialog and waits until it shows something new.
    void pressInDialog(const XWindow& dialog, const std::vector<std::string>& chord) {
        const QImage before = settledImage(dialog);
        keys_.chord(chord);
        EXPECT_TRUE(waitUntil([&] { return windowImage(dialog) != before; }, 5s))
            << "the dialog did not change";
    }

    void click(const XWindow& dialog, QPoint fromCorner) {
        clickAt(dialog.geometry.bottomRight() - fromCorner);
        EXPECT_TRUE(waitUntil([&] { return !windowNamed(quillet_->pid(), dialog.name); }, 10s))
            << "the dialog stayed open";
    }

    bool waitForStoredShortcut(int code, int modifiers) {
        return waitUntil(
            [&] {
                return quillet_->stored(u"hotkeyCode"_s) == code &&
                       quillet_->stored(u"hotkeyModifiers"_s) == modifiers;
            },
            10s);
    }

    // Answers the notice with its default button, OK, and gives the target the focus again.
    void closeNotice() {
        std::optional<XWindow> shown;
        ASSERT_TRUE(waitUntil([&] { return (shown = notice(quillet_->pid())).has_value(); }, 10s))
            << "no notice";
        xdotool({u"windowfocus"_s, u"--sync"_s, shown->id});
        keys_.chord({"Return"});
        ASSERT_TRUE(waitUntil([&] { return !notice(quillet_->pid()); }, 10s));
        target_.focus();
    }

    QImage menuImage() {
        EXPECT_TRUE(openTrayMenu(quillet_->pid(), u"Paste"_s));
        const auto menu = windowNamed(quillet_->pid(), u"Paste"_s);
        const QImage image = menu ? settledImage(*menu) : QImage();
        keys_.chord({"Escape"});
        EXPECT_TRUE(waitUntil([] { return !keyboardGrabbed(); }, 5s));
        return image;
    }

    void pressAndExpect(const std::vector<std::string>& chord, const QString& expected) {
        keys_.chord(chord);
        EXPECT_TRUE(target_.waitForText(expected)) << "got: " << target_.text().toStdString();
    }

    DialogHere buttons_;
    QTemporaryDir config_;
    TargetWindow target_;
    std::unique_ptr<QuilletProcess> quillet_;
    KeyDriver keys_;
};

TEST_F(ShortcutTest, ConfirmedShortcutIsStoredShownAndPastes) {
    launch();
    const QImage menuBefore = menuImage();
    const XWindow dialog = openDialogFromMenu();
    pressInDialog(dialog, kControlShiftK);
    click(dialog, buttons_.confirm);
    EXPECT_TRUE(waitForStoredShortcut(40, 393216));
    closeNotice();

    // The shortcut row changed (to what it reads after a restart, below).
    const QImage menuAfter = menuImage();
    EXPECT_NE(menuAfter, menuBefore);

    xclipWrite("one\ntwo\n");
    // The old shortcut first: it must paste nothing.
    keys_.chord(kDefaultChord);
    pressAndExpect(kControlShiftK, u"one"_s);
    EXPECT_FALSE(comboGrabbedElsewhere(kDefaultChordMask, "v"));

    // A restart keeps it, with the menu as Confirm left it.
    ASSERT_EQ(quillet_->stop(), 0);
    launch();
    EXPECT_TRUE(quillet_->standardError().contains("Press ⌃⇧K"));
    EXPECT_EQ(menuImage(), menuAfter);
}

TEST_F(ShortcutTest, OpenDialogTakesTheOldShortcutAndCancelGivesItBack) {
    launch();
    xclipWrite("one\ntwo\n");
    pressAndExpect(kDefaultChord, u"one"_s);
    QVariant run;
    ASSERT_TRUE(waitUntil([&] { return (run = quillet_->stored(u"appState"_s)).isValid(); }, 5s));

    const XWindow dialog = openDialogFromMenu();
    pressInDialog(dialog, kDefaultChord);
    pressInDialog(dialog, kControlShiftK);
    // Typing elsewhere while the dialog waits: the old shortcut is released.
    // A paste would show well within this, even one slowed by the dialog.
    target_.focus();
    keys_.chord(kDefaultChord);
    EXPECT_FALSE(waitUntil([&] { return target_.text() != u"one"_s; }, 3s));
    EXPECT_EQ(quillet_->stored(u"appState"_s), run);

    click(dialog, buttons_.cancel);
    target_.focus();
    pressAndExpect(kDefaultChord, u"onetwo"_s);
    EXPECT_TRUE(waitForStoredShortcut(9, 1835008));
    EXPECT_FALSE(comboGrabbedElsewhere(kControlShiftMask, "k"));
    EXPECT_FALSE(notice(quillet_->pid()));
}

TEST_F(ShortcutTest, FirstRunAsksAtOnceWithTheDefaultInPlace) {
    launch(QuilletProcess::Launch::First);
    const XWindow dialog = focusedDialog();
    EXPECT_TRUE(waitForStoredShortcut(9, 1835008));
    pressInDialog(dialog, kControlShiftK);
    click(dialog, buttons_.confirm);
    EXPECT_TRUE(waitForStoredShortcut(40, 393216));
    closeNotice();
    xclipWrite("first\n");
    pressAndExpect(kControlShiftK, u"first"_s);
}

TEST_F(ShortcutTest, ShortcutTakenMeanwhileFailsAndTheOldOneStays) {
    launch();
    const XWindow dialog = openDialogFromMenu();
    pressInDialog(dialog, kControlShiftK);
    // Another program takes it while the dialog is open; before, it would
    // have caught the keys itself.
    const OtherClientGrab other(kControlShiftMask, "k");
    ASSERT_TRUE(other.held());
    click(dialog, buttons_.confirm);
    EXPECT_TRUE(waitUntil(
        [&] { return quillet_->standardOutput().contains("Hotkey registration failed\n"); }, 10s));
    closeNotice();
    EXPECT_TRUE(waitForStoredShortcut(9, 1835008));
    xclipWrite("kept\n");
    pressAndExpect(kDefaultChord, u"kept"_s);
}

}  // namespace
}  // namespace quillet::e2e
