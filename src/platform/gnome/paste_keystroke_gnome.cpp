#include "platform/gnome/paste_keystroke_gnome.h"

#include "platform/portal/xkb_keys.h"
#include "platform/xkb/chord.h"

#include <xkbcommon/xkbcommon-keysyms.h>

namespace quillet {

PasteKeystrokeGnome::PasteKeystrokeGnome(gnome::RemoteDesktopFactory sessions)
    : sessions_(std::move(sessions)) {}

gnome::RemoteDesktopFactory PasteKeystrokeGnome::mutterSessions() {
    return [](gnome::SignalRelay* relay) {
        return std::make_unique<gnome::MutterRemoteDesktop>(QDBusConnection::sessionBus(), relay);
    };
}

bool PasteKeystrokeGnome::available() {
    return true;
}

template <typename Play>
bool PasteKeystrokeGnome::withSession(Play&& play) {
    // A session per paste: one closed from outside is never used again.
    const std::unique_ptr<gnome::RemoteDesktop> session = sessions_(nullptr);
    if (!session->open() || !session->start()) {
        return false;
    }
    const bool played = play([&](xkb::KeyStroke stroke) {
        return session->notifyKeyboardKeysym(stroke.key, stroke.down);
    });
    session->stop();
    return played;
}

bool PasteKeystrokeGnome::postPasteChord(PasteMethod method) {
    const xkb::Chord chord =
        xkb::pasteChord(method, {XKB_KEY_Control_L, XKB_KEY_Shift_L, XKB_KEY_v, XKB_KEY_Insert});
    return withSession([&](auto send) { return chord.play(send); });
}

bool PasteKeystrokeGnome::postFollowKey(FollowKey key) {
    if (key == FollowKey::Nothing) {
        return false;
    }
    const xkb::Chord chord{
        static_cast<std::uint32_t>(key == FollowKey::Tab ? XKB_KEY_Tab : XKB_KEY_Return)};
    return withSession([&](auto send) { return chord.play(send); });
}

bool PasteKeystrokeGnome::typeText(const QString& text) {
    const auto keysyms = portal::keysymsForText(text);
    if (!keysyms || keysyms->empty()) {
        return false;
    }
    return withSession([&](auto send) {
        for (const std::uint32_t keysym : *keysyms) {
            if (!xkb::Chord{keysym}.play(send)) {
                return false;
            }
        }
        return true;
    });
}

}  // namespace quillet
