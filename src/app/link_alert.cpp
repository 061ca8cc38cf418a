#include "app/link_alert.h"

#include "platform/url_opener.h"

#include <QUrl>

namespace quillet {

void LinkAlerts::show(const LinkAlertSpec& spec) const {
    // Closing the alert any other way answers a button without a link, or
    // one out of range.
    const int button = alerts_->runModal(spec.alert) - kFirstButtonResponse;
    if (button < 0 || static_cast<std::size_t>(button) >= spec.links.size() ||
        spec.links[static_cast<std::size_t>(button)] == nullptr) {
        return;
    }
    const QUrl url(QString::fromUtf16(spec.links[static_cast<std::size_t>(button)]),
                   QUrl::StrictMode);
    if (url.isValid()) {
        urls_->open(url);
    }
}

}  // namespace quillet
