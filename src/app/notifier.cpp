#include "app/notifier.h"

#include "platform/alerts.h"
#include "platform/main_queue.h"

namespace quillet {

void Notifier::show(const QString& title, const QString& message) const {
    if (muted_) {
        return;
    }
    alerts_->runModal(
        AlertSpec{title, message, AlertStyle::Informational, {strings_.text(u"OK", u"好的")}});
}

void Notifier::showNotification(const QString& title, const QString& message) const {
    mainQueue_->post([this, title, message] { show(title, message); });
}

// Shown by the task that picks the message: posting a second task would put
// this notice behind any requested in the meantime.
void Notifier::notify(QStringView englishText, QStringView chineseText) const {
    mainQueue_->post([this, english = englishText.toString(), chinese = chineseText.toString()] {
        show(QString::fromUtf16(kDisplayName), strings_.text(english, chinese));
    });
}

}  // namespace quillet
