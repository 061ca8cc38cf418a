#include "app/notifier.h"

#include "platform/alerts.h"
#include "platform/main_queue.h"

namespace quillet {

void Notifier::showNotification(const QString& title, const QString& message) const {
    mainQueue_->post([this, title, message] {
        if (muted_) {
            return;
        }
        alerts_->runModal(AlertSpec{title,
                                    message,
                                    AlertStyle::Informational,
                                    {strings_.text(u"OK", u"好的")}});
    });
}

void Notifier::notify(QStringView englishText, QStringView chineseText) const {
    mainQueue_->post([this, english = englishText.toString(), chinese = chineseText.toString()] {
        showNotification(QString::fromUtf16(kDisplayName), strings_.text(english, chinese));
    });
}

}  // namespace quillet
