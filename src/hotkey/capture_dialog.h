#pragma once

class QWidget;

namespace quillet {

class HotkeySettingsDelegate;
class KeyTranslator;
class LocalizedStrings;
class SettingsStore;

// Object names of the dialog's parts, for tests and screenshots.
inline constexpr auto kCaptureDialogName = "hotkeySettingsDialog";
inline constexpr auto kCaptureFieldName = "captureField";
inline constexpr auto kCurrentLabelName = "currentLabel";
inline constexpr auto kConfirmButtonName = "confirmButton";
inline constexpr auto kCancelButtonName = "cancelButton";

// The modal dialog in which the user sets the global shortcut by pressing
// it. The caller releases the shortcut first, so pressing it here pastes
// nothing; the dialog brings itself to the front. It returns when the user
// has closed it and the follow-up registration is done (see
// HotkeySettingsDelegate and finishShortcutCapture): Confirm stores the held
// combination and has the delegate register it and tell the user; every
// other way out registers the stored shortcut again, without a notice.
// Returns true when a new shortcut was confirmed and taken. The field and
// the Confirm button follow each key at once, also when the dialog is opened
// from inside a task of the main queue. Main thread only.
bool showHotkeySettingsAlert(HotkeySettingsDelegate& delegate, const LocalizedStrings& strings,
                             SettingsStore& settings, KeyTranslator& translator,
                             QWidget* parent = nullptr);

}  // namespace quillet
