#pragma once

#include "platform/paste_keystroke.h"
#include "platform/portal/remote_desktop_session.h"
#include "platform/portal/xkb_keys.h"

#include <chrono>
#include <memory>

namespace quillet {

class SettingsStore;

// Where the restore token of the keyboard session is kept between runs.
inline constexpr auto kRemoteDesktopTokenKey = u"remoteDesktopToken";

// The paste keystrokes through the portal's RemoteDesktop keyboard. The
// session starts when the object is made, on the UI thread, and any consent
// the desktop asks for is asked then; its restore token is kept in the
// settings so that later starts are not asked again. The keys go out from the
// paste worker, each answered before the next. Nothing tells a Wayland client
// which keys are down: the chord lets go of the modifiers a shortcut holds
// instead of waiting for them.
class PasteKeystrokePortal final : public PasteKeystroke {
public:
    // UI thread. `keymap` names the keymap the compositor uses: where the V
    // key is, and which characters its keys can type. `settings` must
    // outlive this object.
    PasteKeystrokePortal(SettingsStore& settings, portal::KeymapNames keymap,
                         QDBusConnection connection = QDBusConnection::sessionBus());

    bool available() override;
    bool postPasteChord(PasteMethod method) override;
    bool postFollowKey(FollowKey key) override;
    bool typeText(const QString& text) override;

    // How long a press waits for the session to start (the user answering
    // the consent dialog, at the first run).
    void setStartDeadline(std::chrono::milliseconds deadline) { startDeadline_ = deadline; }

private:
    bool running();

    std::unique_ptr<portal::RemoteDesktopSession> session_;
    portal::Keymap keymap_;
    int vKey_;
    std::chrono::milliseconds startDeadline_{10000};
};

}  // namespace quillet
