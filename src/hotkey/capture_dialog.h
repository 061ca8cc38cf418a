#pragma once

#include "core/keys.h"
#include "core/texts.h"

#include <QString>

#include <optional>

class QWidget;

namespace quillet {

class KeyTranslator;

// Object names of the dialog's parts, for tests and screenshots.
inline constexpr auto kCaptureDialogName = "hotkeySettingsDialog";
inline constexpr auto kCaptureFieldName = "captureField";
inline constexpr auto kCurrentLabelName = "currentLabel";
inline constexpr auto kConfirmButtonName = "confirmButton";
inline constexpr auto kCancelButtonName = "cancelButton";
inline constexpr auto kClearButtonName = "clearButton";

// The modal dialog in which the user sets the global shortcut by pressing it;
// it brings itself to the front. The caller releases the shortcut first, so
// pressing it here pastes nothing. The field and Confirm follow each key at
// once. Returns the confirmed combination, or none for every other way out.
// UI thread only.
std::optional<Shortcut> runCaptureDialog(Language language, const QString& currentText,
                                         KeyTranslator& translator, QWidget* parent = nullptr);

// How the dialog for a move's shortcut ended: a combination confirmed, the
// shortcut cleared, or neither.
struct MoveCapture {
    std::optional<Shortcut> chosen;
    bool cleared = false;
};

// The same dialog for a move's shortcut, titled with the move. It shows
// "None" when the move has no shortcut, and a Clear button while it has one.
MoveCapture runMoveCaptureDialog(Language language, const Text& move,
                                 const std::optional<QString>& currentText,
                                 KeyTranslator& translator, QWidget* parent = nullptr);

}  // namespace quillet
