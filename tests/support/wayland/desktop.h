#pragma once

#include "platform/clipboard.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace quillet {
class ActiveWindowWayland;
class ClipboardWayland;
namespace wayland {
class Session;
}
}  // namespace quillet

namespace quillet::wlharness {

// This process as another program on the desktop: it copies (through the
// program's own data-control code, for several types at once), reads the
// clipboard with wl-paste, and knows the activated window.
class Desktop {
public:
    Desktop();
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // Owns the clipboard with these formats until something else copies.
    bool copy(const ClipboardContent& content);
    // What another program gets for this type ("" when none).
    QByteArray paste(const QString& type);
    QString activeAppId();

private:
    std::shared_ptr<wayland::Session> session_;
    std::unique_ptr<ClipboardWayland> clipboard_;
    std::unique_ptr<ActiveWindowWayland> activeWindow_;
};

}  // namespace quillet::wlharness
