// Setting the shortcut in the real program, as a user would: the dialog
// opened from the tray menu or by a first run, the combination pressed with
// XTest, Confirm or Cancel clicked with the mouse, and then what the program
// stores, shows and pastes.

#include "x_session.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quillet::e2e {
namespace {

using namespace Qt::StringLiterals;

const std::vector<std::string> kControlShiftK{"Control_L", "Shift_L", "k"};
constexpr std::uint16_t kControlShiftMask = (1U << 0) | (1U << 2);

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
        buttons_ = captureDialogButtons();
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

    CaptureDialogButtons buttons_;
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
    ASSERT_TRUE(closeNotice(quillet_->pid(), keys_, target_));

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
    ASSERT_TRUE(closeNotice(quillet_->pid(), keys_, target_));
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
    ASSERT_TRUE(closeNotice(quillet_->pid(), keys_, target_));
    EXPECT_TRUE(waitForStoredShortcut(9, 1835008));
    xclipWrite("kept\n");
    pressAndExpect(kDefaultChord, u"kept"_s);
}

}  // namespace
}  // namespace quillet::e2e
