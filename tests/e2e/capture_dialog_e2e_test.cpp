#include "hotkey/capture_dialog.h"

#include "app/localized_strings.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/recording_settings_delegate.h"
#include "platform/key_translator_x11.h"
#include "x_session.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quillet::e2e {
namespace {

using namespace Qt::StringLiterals;

// Counts the key releases our windows receive, so a test knows when the
// dialog has seen the keys it let go of.
class ReleaseCounter final : public QObject {
public:
    ReleaseCounter() { qApp->installEventFilter(this); }
    int count() const { return count_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyRelease && qobject_cast<QWindow*>(watched) != nullptr) {
            ++count_;
        }
        return false;
    }

private:
    int count_ = 0;
};

struct Dialog {
    QDialog* window = nullptr;
    QLineEdit* field = nullptr;
    QPushButton* confirm = nullptr;
    QPushButton* cancel = nullptr;
    ReleaseCounter releases;

    testing::AssertionResult shows(const QString& text, bool confirmEnabled) const {
        if (waitUntil(
                [&] { return field->text() == text && confirm->isEnabled() == confirmEnabled; },
                5s)) {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << "shows " << field->text().toStdString()
                                           << ", Confirm enabled " << confirm->isEnabled();
    }
    bool seenReleases(int count) const {
        return waitUntil([&] { return releases.count() >= count; }, 5s);
    }
};

// Opens the dialog and runs the script inside its modal loop, once the
// dialog has the keyboard focus; closes it afterwards if the script did not.
bool runDialog(RecordingSettingsDelegate& delegate, InMemorySettingsStore& settings,
               const std::function<void(Dialog&)>& script) {
    const FixedUiLanguages languages;
    const LocalizedStrings strings(settings, languages);
    KeyTranslatorX11 translator;
    QTimer::singleShot(0, [&] {
        Dialog dialog;
        const bool focused = waitUntil(
            [&] {
                for (QWidget* widget : QApplication::topLevelWidgets()) {
                    if (widget->isVisible() &&
                        widget->objectName() == QLatin1StringView(kCaptureDialogName)) {
                        dialog.window = qobject_cast<QDialog*>(widget);
                    }
                }
                return dialog.window != nullptr &&
                       QGuiApplication::focusWindow() == dialog.window->windowHandle();
            },
            10s);
        EXPECT_TRUE(focused) << "the dialog did not come to the front";
        if (focused) {
            // Modal, so the rest of the program waits for it.
            EXPECT_EQ(QApplication::activeModalWidget(), dialog.window);
            dialog.field =
                dialog.window->findChild<QLineEdit*>(QLatin1StringView(kCaptureFieldName));
            dialog.confirm =
                dialog.window->findChild<QPushButton*>(QLatin1StringView(kConfirmButtonName));
            dialog.cancel =
                dialog.window->findChild<QPushButton*>(QLatin1StringView(kCancelButtonName));
            EXPECT_FALSE(dialog.confirm->isEnabled());
            script(dialog);
        }
        if (dialog.window != nullptr && dialog.window->isVisible()) {
            dialog.window->reject();
        }
    });
    return showHotkeySettingsAlert(delegate, strings, settings, translator);
}

const std::vector<std::string> kControlShiftK{"Control_L", "Shift_L", "k"};

void press(KeyDriver& keys, const std::vector<std::string>& chord) {
    for (const auto& key : chord) {
        keys.down(key);
    }
}

// Lets go one key at a time, as people do.
void release(KeyDriver& keys, const std::vector<std::string>& chord) {
    for (auto key = chord.rbegin(); key != chord.rend(); ++key) {
        keys.up(*key);
    }
}

// English ends with Confirm, Chinese with Cancel.
TEST(CaptureDialog, RefusesAndHoldsInBothLanguagesConfirmStoresAndCancelRestores) {
    QUILLET_REQUIRE_DISPLAY();
    KeyDriver keys;
    const struct {
        QString language, idle, copyRefused, returnRefused;
        bool confirm;
        QString call;
    } cases[] = {{u"en"_s, u"Press shortcut..."_s, u"⌘C (Copy disabled)"_s,
                  u"\u21A9\uFE0E (Modifier missing)"_s, true, u"fromDefaults 40 393216"_s},
                 {u"zh"_s, u"按下快捷键..."_s, u"⌘C (禁用复制键)"_s, u"\u21A9\uFE0E (缺少修饰键)"_s,
                  false, u"global 3 1048576"_s}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language.toStdString());
        InMemorySettingsStore settings;
        settings.setString(u"appLanguage"_s, c.language);
        storeShortcut(settings, {0x03, 0x100000});  // Command+F
        RecordingSettingsDelegate delegate(settings);
        const bool taken = runDialog(delegate, settings, [&](Dialog& dialog) {
            EXPECT_EQ(dialog.field->text(), c.idle);
            press(keys, {"Super_L", "c"});
            EXPECT_TRUE(dialog.shows(c.copyRefused, false));
            release(keys, {"Super_L", "c"});
            // Escape is a shortcut like any other, so it does not close the dialog.
            keys.chord({"Escape"});
            EXPECT_TRUE(dialog.shows(u"Esc"_s, true));
            // Return is refused and passed on, with Confirm already off.
            keys.chord({"Return"});
            EXPECT_TRUE(dialog.shows(c.returnRefused, false));
            press(keys, kControlShiftK);
            EXPECT_TRUE(dialog.shows(u"⌃⇧K"_s, true));
            release(keys, kControlShiftK);
            ASSERT_TRUE(dialog.seenReleases(7));
            EXPECT_TRUE(dialog.shows(u"⌃⇧K"_s, true)) << "letting go keeps it";
            EXPECT_TRUE(dialog.window->isVisible());
            (c.confirm ? dialog.confirm : dialog.cancel)->click();
        });
        EXPECT_EQ(taken, c.confirm);
        EXPECT_EQ(delegate.calls, QStringList{c.call});
    }
}

}  // namespace
}  // namespace quillet::e2e
