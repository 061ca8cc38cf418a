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

// The modal dialog in which the user sets the global shortcut by pressing it;
// it brings itself to the front. The caller releases the shortcut first, so
// pressing it here pastes nothing. The field and Confirm follow each key at
// once. Returns the confirmed combination, or none for every other way out.
// UI thread only.
std::optional<Shortcut> runCaptureDialog(Language language, const QString& currentText,
                                         KeyTranslator& translator, QWidget* parent = nullptr);

}  // namespace quillet
