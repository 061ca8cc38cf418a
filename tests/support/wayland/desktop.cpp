#include "wayland/desktop.h"

#include "platform/wayland/active_window_wayland.h"
#include "platform/wayland/clipboard_wayland.h"
#include "platform/wayland/session.h"
#include "wayland/session.h"

namespace quillet::wlharness {

Desktop::Desktop() : session_(wayland::Session::connect()) {
    if (session_) {
        clipboard_ = std::make_unique<ClipboardWayland>(session_);
        activeWindow_ = std::make_unique<ActiveWindowWayland>(session_);
    }
}

Desktop::~Desktop() = default;

bool Desktop::copy(const ClipboardContent& content) {
    return clipboard_ && clipboard_->restore(content);
}

QByteArray Desktop::paste(const QString& type) {
    const Ran pasted = runCommand(QStringLiteral("wl-paste"),
                                  {QStringLiteral("--no-newline"), QStringLiteral("--type"), type});
    return pasted.exitCode == 0 ? pasted.output : QByteArray();
}

QString Desktop::activeAppId() {
    return activeWindow_ ? activeWindow_->appId() : QString();
}

}  // namespace quillet::wlharness
