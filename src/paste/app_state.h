#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quillet {

class SettingsStore;

inline constexpr auto kAppStateKey = u"appState";

// The persisted paste run. The settings value is the only copy: it is read
// at the start of each step and written at its end.
struct AppState {
    QStringList lines;               // trimmed, non-empty, in clipboard order
    std::int64_t currentIndex = 0;   // the line the next press pastes
    QString sourceClipboardContent;  // the clipboard text the lines came from

    friend bool operator==(const AppState&, const AppState&) = default;
};

// Compact JSON with the members "lines", "currentIndex",
// "sourceClipboardContent", in that order.
QByteArray encodeAppState(const AppState& state);

// Strict: all three members are required with their JSON types; member order
// does not matter and extra members are ignored. A negative index is refused.
std::optional<AppState> decodeAppState(QByteArrayView json);

// The stored run, or the empty state when nothing usable is stored.
AppState loadState(const SettingsStore& settings);

// False when the run could not be written.
bool saveState(SettingsStore& settings, const AppState& state);

}  // namespace quillet
