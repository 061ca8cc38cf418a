// Setting the shortcut: the capture dialog here, then in the real program.

#include "hotkey/capture_dialog.h"
#include "platform/x11/key_translator_x11.h"
#include "x_harness.h"

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSettings>

#include <gtest/gtest.h>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

const std::vector<std::string> kControlShiftK{"Control_L", "Shift_L", "k"};
constexpr std::uint16_t kControlShiftMask = (1U << 0) | (1U << 2);

// Opens the dialog here and runs the script inside its modal loop, once the
// dialog has the keyboard focus; closes it afterwards if the script did not.
// It is found as the modal widget: the rest of the program waits for it.
template <typename Open>
auto runDialogWith(const std::function<void(QDialog&)>& script, Open open) {
    KeyTranslatorX11 translator;
    QTimer::singleShot(0, [&] {
        QDialog* dialog = nullptr;
        const bool focused = waitUntil(
            [&] {
                dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                return dialog != nullptr &&
                       dialog->objectName() == QLatin1StringView(kCaptureDialogName) &&
                       QGuiApplication::focusWindow() == dialog->windowHandle();
            },
            10s);
        EXPECT_TRUE(focused) << "the dialog did not come to the front";
        if (focused) {
            script(*dialog);
        }
        if (dialog != nullptr && dialog->isVisible()) {
            dialog->reject();
        }
    });
    return open(translator);
}

std::optional<Shortcut> runDialog(const std::function<void(QDialog&)>& script) {
    return runDialogWith(script, [](KeyTranslator& translator) {
        return runCaptureDialog(Language::English, u"⌃⌥⌘V"_s, translator);
    });
}

// The dialog for Back's shortcut, with this one as the current.
auto backDialog(Language language, std::optional<QString> current) {
    return [language, current](KeyTranslator& translator) {
        return runMoveCaptureDialog(language, text::kBack, current, translator);
    };
}

template <typename Widget>
Widget& part(QDialog& dialog, const char* name) {
    return *dialog.findChild<Widget*>(QLatin1StringView(name));
}

// Where the dialog's buttons sit from its bottom-right corner, measured on
// the same dialog shown here with the program's code, style and fonts:
// another process's widgets cannot be read.
struct Buttons {
    QPoint confirm;
    QPoint cancel;
    QPoint clear;  // a move's dialog only
};

Buttons measureButtons(QDialog& dialog) {
    const auto fromCorner = [&](const char* name) {
        const auto* button = dialog.findChild<QPushButton*>(QLatin1StringView(name));
        return button == nullptr
                   ? QPoint()
                   : dialog.rect().bottomRight() - button->mapTo(&dialog, button->rect().center());
    };
    return {fromCorner(kConfirmButtonName), fromCorner(kCancelButtonName),
            fromCorner(kClearButtonName)};
}

TEST(CaptureDialogTest, JudgesRealKeysAndConfirmReturnsTheHeldCombination) {
    const auto chosen = runDialog([&](QDialog& dialog) {
        const auto& field = part<QLineEdit>(dialog, kCaptureFieldName);
        auto& confirm = part<QPushButton>(dialog, kConfirmButtonName);
        const auto shows = [&](const QString& text, bool enabled) {
            return waitUntil([&] { return field.text() == text && confirm.isEnabled() == enabled; },
                             5s)
                       ? testing::AssertionSuccess()
                       : testing::AssertionFailure()
                             << field.text().toStdString() << ", Confirm " << confirm.isEnabled();
        };
        EXPECT_TRUE(shows(u"Press shortcut..."_s, false));
        x().down({"Control_L", "c"});
        EXPECT_TRUE(shows(u"⌃C (Copy disabled)"_s, false));
        x().up({"Control_L", "c"});
        x().chord({"Super_L", "c"});
        EXPECT_TRUE(shows(u"⌘C"_s, true));
        x().chord({"Control_L", "Alt_L", "a"});
        EXPECT_TRUE(shows(u"⌃⌥A"_s, true));
        // Return is refused and passed on, with Confirm already off.
        x().chord({"Return"});
        EXPECT_TRUE(shows(u"\u21A9\uFE0E (Modifier missing)"_s, false));
        x().chord(kControlShiftK);
        EXPECT_TRUE(shows(u"⌃⇧K"_s, true));
        EXPECT_TRUE(dialog.isVisible());
        confirm.click();
    });
    EXPECT_EQ(chosen, (Shortcut{0x28, modifier::kControl | modifier::kShift}));
}

TEST(CaptureDialogTest, AMovesDialogNamesItAndClearsOnlyAShortcutItHas) {
    const auto none = runDialogWith(
        [](QDialog& dialog) {
            EXPECT_EQ(dialog.windowTitle(), u"设置快捷键：上一行"_s);
            EXPECT_TRUE(part<QLabel>(dialog, kCurrentLabelName).text().contains(u"<b>无</b>"_s));
            EXPECT_FALSE(part<QPushButton>(dialog, kClearButtonName).isEnabled());
            auto& confirm = part<QPushButton>(dialog, kConfirmButtonName);
            x().chord(kControlShiftK);
            ASSERT_TRUE(waitUntil([&] { return confirm.isEnabled(); }, 5s));
            confirm.click();
        },
        backDialog(Language::Chinese, std::nullopt));
    EXPECT_EQ(none.chosen, (Shortcut{0x28, modifier::kControl | modifier::kShift}));
    EXPECT_FALSE(none.cleared);

    const auto cleared = runDialogWith(
        [](QDialog& dialog) {
            auto& clear = part<QPushButton>(dialog, kClearButtonName);
            EXPECT_EQ(clear.text(), u"Clear"_s);
            clear.click();
        },
        backDialog(Language::English, u"⌃⌥⌘B"_s));
    EXPECT_TRUE(cleared.cleared);
    EXPECT_FALSE(cleared.chosen);
}

// The window's picture once it has stopped changing for a while: painted in full.
QImage settledImage(const XWindow& window) {
    QImage last;
    waitUntil(
        [&] {
            QImage now = QGuiApplication::primaryScreen()->grabWindow(window.id).toImage();
            const bool settled = !now.isNull() && now == last;
            last = std::move(now);
            runFor(settled ? 0ms : 100ms);
            return settled;
        },
        5s);
    return last;
}

class ShortcutTest : public testing::Test {
protected:
    void SetUp() override {
        runDialog([&](QDialog& dialog) { buttons_ = measureButtons(dialog); });
        ASSERT_TRUE(target_.started());
        ASSERT_TRUE(target_.focus());  // back from the dialog shown here
    }

    void launch(bool storeShortcut = true) {
        quillet_ = std::make_unique<Program>(config_.path(), storeShortcut);
        ASSERT_TRUE(quillet_->start()) << quillet_->error();
    }

    // The dialog, once it has the keyboard: the keys pressed next are for it.
    XWindow focusedDialog(const QString& title = u"Set Shortcut"_s) {
        const auto found = x().waitForWindow(quillet_->pid(), title, true);
        EXPECT_TRUE(found) << "no focused dialog";
        return found.value_or(XWindow{});
    }

    XWindow openDialogFromMenu() {
        EXPECT_TRUE(x().openTrayMenu(quillet_->pid(), u"Paste"_s));
        x().chord({"Down"});
        x().chord({"Return"});
        return focusedDialog();
    }

    QImage menuImage() {
        EXPECT_TRUE(x().openTrayMenu(quillet_->pid(), u"Paste"_s));
        const auto menu = x().windowNamed(quillet_->pid(), u"Paste"_s);
        const QImage image = menu ? settledImage(*menu) : QImage();
        x().chord({"Escape"});
        EXPECT_TRUE(waitUntil([] { return !x().keyboardGrabbed(); }, 5s));
        return image;
    }

    // Presses the combination in the open dialog; waits until it shows something new.
    void pressInDialog(const XWindow& dialog, const std::vector<std::string>& chord) {
        const QImage before = settledImage(dialog);
        x().chord(chord);
        EXPECT_TRUE(waitUntil([&] { return settledImage(dialog) != before; }, 5s))
            << "the dialog did not change";
    }

    void click(const XWindow& dialog, QPoint fromCorner) {
        x().click(dialog.geometry.bottomRight() - fromCorner);
        EXPECT_TRUE(waitUntil([&] { return !x().windowNamed(quillet_->pid(), dialog.name); }, 10s))
            << "the dialog stayed open";
    }

    void closeNotice() {
        ASSERT_TRUE(x().closeNotice(quillet_->pid()));
        ASSERT_TRUE(target_.focus());
    }

    // Under "hotkeyCode" and "hotkeyModifiers", or another action's keys.
    bool stored(int code, int modifiers, const QString& prefix = u"hotkey"_s) {
        return waitUntil(
            [&] {
                return quillet_->stored(prefix + u"Code"_s) == code &&
                       quillet_->stored(prefix + u"Modifiers"_s) == modifiers;
            },
            10s);
    }

    void pressAndExpect(const std::vector<std::string>& chord, const QString& expected) {
        x().chord(chord);
        EXPECT_TRUE(target_.waitForText(expected)) << "got: " << target_.text().toStdString();
    }

    Buttons buttons_;
    QTemporaryDir config_;
    TargetWindow target_;
    std::unique_ptr<Program> quillet_;
};

TEST_F(ShortcutTest, WhileTheDialogIsOpenTheOldShortcutIsFreeAndConfirmMovesToTheNewOne) {
    launch();
    ASSERT_TRUE(copy("one\ntwo\n"));
    const QImage menuBefore = menuImage();
    const XWindow dialog = openDialogFromMenu();
    pressInDialog(dialog, kDefaultChord);
    pressInDialog(dialog, kControlShiftK);
    // Typing elsewhere while the dialog waits: the old shortcut pastes nothing.
    ASSERT_TRUE(target_.focus());
    x().chord(kDefaultChord);
    EXPECT_FALSE(waitUntil([&] { return !target_.text().isEmpty(); }, 3s));
    EXPECT_FALSE(x().grabbedElsewhere(kDefaultChordMask, "v"));

    click(dialog, buttons_.confirm);
    EXPECT_TRUE(stored(40, 393216));
    closeNotice();
    const QImage menuAfter = menuImage();
    EXPECT_NE(menuAfter, menuBefore) << "the menu still shows the old shortcut";
    x().chord(kDefaultChord);
    pressAndExpect(kControlShiftK, u"one"_s);
    EXPECT_FALSE(x().grabbedElsewhere(kDefaultChordMask, "v"));

    // A restart keeps it, with the menu as the press left it: the new
    // shortcut and the place in the list, read from its file after start.
    // Taken once the menu shows the press: it follows the line a moment later.
    QImage menuRun;
    ASSERT_TRUE(waitUntil(
        [&] {
            menuRun = menuImage();
            return menuRun != menuAfter;
        },
        10s));
    ASSERT_TRUE(quillet_->stop()) << quillet_->error();
    launch();
    EXPECT_TRUE(quillet_->waitForOutput("Press ⌃⇧K")) << quillet_->output().toStdString();
    EXPECT_TRUE(waitUntil([&] { return menuImage() == menuRun; }, 10s));
}

TEST_F(ShortcutTest, FirstRunAsksAtOnceAndKeepsTheDefaultWhenTheChoiceIsTakenOrCancelled) {
    launch(false);
    XWindow dialog = focusedDialog();
    EXPECT_TRUE(stored(9, 1835008));
    pressInDialog(dialog, kControlShiftK);
    // Another program takes it while the dialog is open; before, it would
    // have caught the keys itself.
    XClient other;
    ASSERT_TRUE(other.grabKey(kControlShiftMask, "k"));
    click(dialog, buttons_.confirm);
    EXPECT_TRUE(quillet_->waitForOutput("Hotkey registration failed\n"));
    closeNotice();
    EXPECT_TRUE(stored(9, 1835008));
    ASSERT_TRUE(copy("kept\nagain\n"));
    pressAndExpect(kDefaultChord, u"kept"_s);

    dialog = openDialogFromMenu();
    pressInDialog(dialog, {"Control_L", "Shift_L", "j"});
    click(dialog, buttons_.cancel);
    ASSERT_TRUE(target_.focus());
    // The old shortcut is taken again just after the dialog goes; a press
    // before that reaches the target, which ignores it, so it is repeated,
    // but only after a wait no slow step outlasts: a second press taken
    // would end the run.
    EXPECT_TRUE(waitUntil(
        [&] {
            x().chord(kDefaultChord);
            return waitUntil([&] { return target_.text() != u"kept"_s; }, 6s);
        },
        20s));
    EXPECT_EQ(target_.text(), u"keptagain"_s);
    EXPECT_TRUE(stored(9, 1835008));
    EXPECT_FALSE(x().notice(quillet_->pid())) << quillet_->output().toStdString();
}

// With the dialog open, the line would land in it; held until the dialog
// closes, wherever the focus is then. So a press from the desktop's own
// shortcut settings is refused at once, and --status answers meanwhile.
TEST_F(ShortcutTest, WhileTheFirstRunDialogIsOpenPressesAreRefusedAtOnceAndStatusAnswers) {
    launch(false);
    const XWindow dialog = focusedDialog();
    ASSERT_TRUE(copy("one\ntwo\nthree\n"));
    for (int i = 0; i < 3; ++i) {
        const auto press = quillet_->command({u"--paste-next"_s});
        EXPECT_EQ(press.exitCode, 1);
        EXPECT_TRUE(press.errors.contains("the shortcut dialog is open")) << press.errors.data();
    }
    EXPECT_EQ(quillet_->command({u"--status"_s}, 1s).output, "No list: copy some lines\n");

    // Closed as a window manager would, with the focus in the target.
    ASSERT_TRUE(target_.focus());
    x().close(dialog.id);
    ASSERT_TRUE(waitUntil([&] { return !x().windowNamed(quillet_->pid(), dialog.name); }, 10s));
    EXPECT_TRUE(waitUntil([&] { return x().notice(quillet_->pid()).has_value(); }, 10s));
    EXPECT_EQ(x().focusedWindow(), target_.window()) << "the notice took the focus";
    EXPECT_EQ(quillet_->command({u"--paste-next"_s}).exitCode, 0);
    EXPECT_TRUE(quillet_->waitForIndex(1));
    EXPECT_TRUE(target_.waitForText(u"one"_s)) << "got: " << target_.text().toStdString();
}

// A move's shortcut, from its row under Move Shortcuts. While its dialog is
// open no shortcut is held, so the paste's is seen there and refused; after
// it every one works again. Confirm moves the move's shortcut, Clear takes it away.
TEST_F(ShortcutTest, AMovesShortcutRefusesThePastesAndIsMovedByConfirmAndTakenByClear) {
    Buttons buttons;
    runDialogWith([&](QDialog& dialog) { buttons = measureButtons(dialog); },
                  backDialog(Language::English, u"⌃⌥⌘B"_s));
    ASSERT_TRUE(target_.focus());
    {
        QSettings settings(config_.filePath(u"tarnwick/Quillet.conf"_s), QSettings::IniFormat);
        settings.setValue(u"hotkeyCode"_s, 9);
        settings.setValue(u"hotkeyModifiers"_s, 1835008);
        settings.setValue(u"backHotkeyCode"_s, 11);  // ⌃⌥⌘B
        settings.setValue(u"backHotkeyModifiers"_s, 1835008);
    }
    launch();
    ASSERT_TRUE(copy("one\ntwo\n"));
    pressAndExpect(kDefaultChord, u"one"_s);
    const auto openBackDialog = [&] {
        EXPECT_TRUE(x().openTrayMenu(quillet_->pid(), u"Paste"_s));
        for (const char* key : {"Down", "Down", "Right", "Return"}) {
            x().chord({key});
        }
        return focusedDialog(u"Set Shortcut: Back"_s);
    };

    XWindow dialog = openBackDialog();
    EXPECT_FALSE(x().grabbedElsewhere(kDefaultChordMask, "b"));
    EXPECT_FALSE(x().grabbedElsewhere(kDefaultChordMask, "v"));
    pressInDialog(dialog, kDefaultChord);
    click(dialog, buttons.confirm);
    closeNotice();
    EXPECT_TRUE(stored(11, 1835008, u"backHotkey"_s));
    x().chord({"Control_L", "Alt_L", "Super_L", "b"});
    EXPECT_TRUE(quillet_->waitForIndex(0));
    pressAndExpect(kDefaultChord, u"oneone"_s);

    dialog = openBackDialog();
    pressInDialog(dialog, kControlShiftK);
    click(dialog, buttons.confirm);
    EXPECT_TRUE(stored(40, 393216, u"backHotkey"_s));
    closeNotice();
    x().chord(kControlShiftK);
    EXPECT_TRUE(quillet_->waitForIndex(0));

    dialog = openBackDialog();
    click(dialog, buttons.clear);
    EXPECT_TRUE(waitUntil([&] { return !quillet_->stored(u"backHotkeyCode"_s).isValid(); }, 10s));
    closeNotice();
    EXPECT_FALSE(x().grabbedElsewhere(kControlShiftMask, "k")) << "a cleared shortcut is held";
}

}  // namespace
}  // namespace quillet::harness
