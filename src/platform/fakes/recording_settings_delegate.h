#pragma once

#include "hotkey/hotkey_settings_delegate.h"
#include "hotkey/stored_shortcut.h"
#include "platform/settings_store.h"

#include <QString>
#include <QStringList>

namespace quillet {

// Records the shortcut dialog's calls as text, e.g. "global 3 1048576", and
// "fromDefaults" with what is stored at that moment, e.g. "fromDefaults 3 1048576".
// registerHotkeyFromUserDefaults() answers `fromDefaultsTaken`.
class RecordingSettingsDelegate final : public HotkeySettingsDelegate {
public:
    explicit RecordingSettingsDelegate(const SettingsStore& settings) : settings_(settings) {}

    bool registerHotkeyFromUserDefaults() override {
        calls.append(QStringLiteral("fromDefaults %1 %2")
                         .arg(settings_.integer(QString::fromUtf16(kHotkeyCodeKey)))
                         .arg(settings_.integer(QString::fromUtf16(kHotkeyModifiersKey))));
        return fromDefaultsTaken;
    }
    bool registerGlobalHotkey(std::uint32_t keyCode, ModifierFlags modifiers) override {
        calls.append(QStringLiteral("global %1 %2").arg(keyCode).arg(modifiers));
        return true;
    }
    bool registerDefaultHotkey() override {
        calls.append(QStringLiteral("default"));
        return true;
    }

    QStringList calls;
    bool fromDefaultsTaken = true;

private:
    const SettingsStore& settings_;
};

}  // namespace quillet
