#pragma once

#include "platform/notifications.h"

#include <QStringList>

namespace quillet {

// Records the notices shown, as "title: text [button]".
class RecordingNotifications final : public Notifications {
public:
    void show(const QString& title, const QString& text) override {
        shown_.append(title + QStringLiteral(": ") + text);
    }
    const QStringList& shown() const { return shown_; }

private:
    QStringList shown_;
};

}  // namespace quillet
