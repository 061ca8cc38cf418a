#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace quillet {

// How a line reaches the focused application. Most paste the clipboard with
// Control+V; terminals take Control+Shift+V, Emacs scrolls with Control+V
// and pastes with Shift+Insert, and some (xterm as installed) have no
// clipboard paste key at all, so the line is typed.
enum class PasteMethod { ControlV, ControlShiftV, Typing, ShiftInsert };

// Settings that add applications to the built-in table: comma-separated
// window classes (X11) or app ids (Wayland), matched without regard to case.
inline constexpr auto kControlShiftVAppsKey = u"pasteWithControlShiftV";
inline constexpr auto kTypingAppsKey = u"pasteByTyping";
inline constexpr auto kShiftInsertAppsKey = u"pasteWithShiftInsert";

// The user's additions to the built-in table.
struct PasteMethodOverrides {
    QStringList controlShiftV;
    QStringList typing;
    QStringList shiftInsert;
};

// The method for an application, by its window class or app id; Control+V
// for anything unknown, the empty id included.
PasteMethod pasteMethodFor(const QString& appId, const PasteMethodOverrides& overrides = {});

// A key sent after each line that arrived, so that forms and spreadsheets
// fill without a hand on the keyboard between presses.
enum class FollowKey { Nothing, Tab, Enter };

inline constexpr auto kAfterEachLineKey = u"afterEachLine";
// Stored as "none", "tab" or "enter"; anything else counts as none.
FollowKey followKeyFor(const std::optional<QString>& stored);
QString storedValue(FollowKey key);

}  // namespace quillet
