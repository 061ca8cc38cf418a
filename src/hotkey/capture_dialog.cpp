#include "hotkey/capture_dialog.h"

#include "hotkey/shortcut_capture.h"
#include "platform/key_translator.h"

#include <QApplication>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QWindow>

namespace quillet {

using namespace Qt::StringLiterals;

namespace {

// Width of the capture field, and of the text column (the longest line fits).
constexpr int kFieldWidth = 250;
constexpr int kTextWidth = 380;

// Watches every key event of the application while the dialog is open and
// hands those of the dialog's window to the capture. Each key event reaches
// its window once before any widget, so it is judged there exactly once,
// and a consumed one never reaches a widget, the default button included.
class KeyWatch final : public QObject {
public:
    KeyWatch(QDialog& dialog, QLineEdit& field, QPushButton& confirm, ShortcutCapture& capture,
             KeyTranslator& translator)
        : dialog_(dialog),
          field_(field),
          confirm_(confirm),
          capture_(capture),
          translator_(translator) {
        qApp->installEventFilter(this);
    }
    ~KeyWatch() override { qApp->removeEventFilter(this); }
    KeyWatch(const KeyWatch&) = delete;
    KeyWatch& operator=(const KeyWatch&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::ShortcutOverride: {
                // Keys pressed in the dialog are for the capture, never shortcuts.
                const auto* widget = qobject_cast<QWidget*>(watched);
                if (widget != nullptr && widget->window() == &dialog_) {
                    event->accept();
                    return true;
                }
                return false;
            }
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                return judge(watched, static_cast<QKeyEvent&>(*event));
            default:
                return false;
        }
    }

private:
    bool judge(QObject* watched, const QKeyEvent& event) {
        const auto* window = qobject_cast<QWindow*>(watched);
        if (window == nullptr) {
            return false;  // the same event again, on its way through the widgets
        }
        const auto key = translator_.translate(event);
        if (!key) {
            return false;
        }
        const auto outcome = capture_.handle(*key, window == dialog_.windowHandle());
        if (!outcome) {
            return false;
        }
        field_.setText(outcome->text);
        confirm_.setEnabled(outcome->confirmEnabled);
        return outcome->consumed;
    }

    QDialog& dialog_;
    QLineEdit& field_;
    QPushButton& confirm_;
    ShortcutCapture& capture_;
    KeyTranslator& translator_;
};

QLabel* addLabel(QGridLayout& grid, int row, const QString& text) {
    auto* label = new QLabel(text);  // owned by the dialog once in its layout
    grid.addWidget(label, row, 1);
    return label;
}

// Runs the dialog; a Clear button comes with `clearable`, and is on while
// there is a shortcut to clear.
MoveCapture runDialog(Language language, const QString& title, const QString& currentText,
                      std::optional<bool> clearable, KeyTranslator& translator, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setObjectName(QLatin1StringView(kCaptureDialogName));
    dialog.setWindowTitle(title);
    ShortcutCapture capture(language);

    auto* grid = new QGridLayout(&dialog);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->setHorizontalSpacing(16);

    auto* icon = new QLabel;
    const int iconSize = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    icon->setPixmap(
        dialog.style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(iconSize));
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);

    QLabel* message = addLabel(*grid, 0, title);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);

    QLabel* informative = addLabel(*grid, 1, text::kCapturePrompt.in(language));
    informative->setWordWrap(true);
    informative->setMinimumWidth(kTextWidth);

    QLabel* current = addLabel(*grid, 2,
                               text::kCaptureCurrent.in(language).toHtmlEscaped() + u"<b>"_s +
                                   currentText.toHtmlEscaped() + u"</b>"_s);
    current->setObjectName(QLatin1StringView(kCurrentLabelName));
    current->setTextFormat(Qt::RichText);
    current->setAlignment(Qt::AlignCenter);

    auto* field = new QLineEdit;
    field->setObjectName(QLatin1StringView(kCaptureFieldName));
    field->setReadOnly(true);
    field->setAlignment(Qt::AlignCenter);
    // Qt hides the placeholder of a focused field with centred text: the idle
    // text is the field's own, as the capture sets it whenever nothing is taken.
    field->setText(capture.placeholderText());
    field->setFixedWidth(kFieldWidth);
    grid->addWidget(field, 3, 1, Qt::AlignHCenter);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 8, 0, 0);
    buttons->addStretch();
    auto* confirm = new QPushButton(text::kConfirm.in(language));
    confirm->setObjectName(QLatin1StringView(kConfirmButtonName));
    confirm->setDefault(true);
    confirm->setEnabled(false);
    auto* cancel = new QPushButton(text::kCancel.in(language));
    cancel->setObjectName(QLatin1StringView(kCancelButtonName));
    buttons->addWidget(confirm);
    MoveCapture result;
    if (clearable) {
        auto* clear = new QPushButton(text::kClear.in(language));
        clear->setObjectName(QLatin1StringView(kClearButtonName));
        clear->setEnabled(*clearable);
        buttons->addWidget(clear);
        QObject::connect(clear, &QPushButton::clicked, &dialog, [&dialog, &result] {
            result.cleared = true;
            dialog.reject();
        });
    }
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 4, 0, 1, 2);
    QObject::connect(confirm, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);

    field->setFocus();
    {
        const KeyWatch watch(dialog, *field, *confirm, capture, translator);
        // Modal before it is shown: exec() cannot make a visible window modal.
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        dialog.raise();
        dialog.activateWindow();
        const bool accepted = dialog.exec() == QDialog::Accepted;
        // Confirm counts only while it can be pressed; otherwise this is a Cancel.
        if (accepted && confirm->isEnabled()) {
            result.chosen = capture.captured();
        }
    }
    return result;
}

}  // namespace

std::optional<Shortcut> runCaptureDialog(Language language, const QString& currentText,
                                         KeyTranslator& translator, QWidget* parent) {
    return runDialog(language, text::kSetShortcutTitle.in(language), currentText, std::nullopt,
                     translator, parent)
        .chosen;
}

MoveCapture runMoveCaptureDialog(Language language, const Text& move,
                                 const std::optional<QString>& currentText,
                                 KeyTranslator& translator, QWidget* parent) {
    return runDialog(language, text::kSetMoveShortcutTitle.in(language).arg(move.in(language)),
                     currentText.value_or(text::kNoShortcut.in(language)), currentText.has_value(),
                     translator, parent);
}

}  // namespace quillet
