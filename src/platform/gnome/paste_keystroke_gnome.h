#pragma once

#include "platform/gnome/remote_desktop.h"
#include "platform/paste_keystroke.h"

namespace quillet {

// The paste keys on GNOME: a remote-desktop session started for each paste
// and stopped after it, keys by keysym, so that mutter finds them in
// whatever layout the user has (Control+V by key code is another key on
// BÉPO). Starting shows the screen-sharing indicator for a few seconds; a
// session kept running would show it for good.
class PasteKeystrokeGnome final : public PasteKeystroke {
public:
    explicit PasteKeystrokeGnome(gnome::RemoteDesktopFactory sessions);

    // Sessions of mutter's own API on the session bus.
    static gnome::RemoteDesktopFactory mutterSessions();

    bool available() override;
    bool postPasteChord(PasteMethod method) override;
    bool postFollowKey(FollowKey key) override;
    bool typeText(const QString& text) override;
    // The seat has one modifier state: a chord sent while the user still
    // holds the shortcut's modifiers runs the shortcut again.
    bool pressesEcho() const override { return true; }

private:
    // Presses and lets go through a session of their own; every key that went
    // down goes up, on every path.
    template <typename Play>
    bool withSession(Play&& play);

    gnome::RemoteDesktopFactory sessions_;
};

}  // namespace quillet
