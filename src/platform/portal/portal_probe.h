#pragma once

#include <QDBusConnection>

namespace quillet {

// Whether the session's portal binds global shortcuts (GlobalShortcuts,
// version 1 or later).
bool portalShortcutsAvailable(const QDBusConnection& connection = QDBusConnection::sessionBus());

// Whether the session's portal lends a keyboard (RemoteDesktop, with the
// keyboard among its device types).
bool portalKeyboardAvailable(const QDBusConnection& connection = QDBusConnection::sessionBus());

}  // namespace quillet
