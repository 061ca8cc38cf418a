#pragma once

#include "platform/notifications.h"

#include <QObject>

#include <memory>

namespace quillet {

class NoticeWindow;

// Notices through the desktop's notification service
// (org.freedesktop.Notifications on the session bus), where they close by
// themselves. Without one, on X11 a small window of our own that behaves the
// same: in the corner of the screen, without the keyboard focus, gone after
// a few seconds; on Wayland, where the compositor gives a new window the
// focus whatever it asks, a line on standard error instead, so that the next
// line is not pasted into it.
class NotificationsQt final : public QObject, public Notifications {
    Q_OBJECT

public:
    enum class Fallback { Window, StandardError };
    explicit NotificationsQt(Fallback fallback);
    ~NotificationsQt() override;

    void show(const QString& title, const QString& text) override;

private:
    bool serviceAvailable() const;
    void showWindow(const QString& title, const QString& text);

    const Fallback fallback_;
    std::unique_ptr<NoticeWindow> window_;
    uint lastId_ = 0;  // the service's id of the notice shown last, replaced by the next
};

}  // namespace quillet
