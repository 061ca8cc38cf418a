#include "app/about_window.h"

#include "platform/alerts.h"
#include "platform/url_opener.h"

#include <QUrl>

namespace quillet {

AlertSpec AboutWindow::alert() const {
    AlertSpec dialog;
    dialog.message = strings_.text(u"About Quillet", u"关于 Quillet");
    dialog.informative =
        strings_.text(u"Version: 1.0\n© 2026 Tarnwick\n\nSimple utility for easier data entry.",
                      u"版本: 1.0\n© 2026 塔恩威克\n\n简单的效率工具，让数据录入更轻松。");
    dialog.style = AlertStyle::Informational;
    dialog.buttons = {
        strings_.text(u"Visit Website", u"访问主页"),
        strings_.text(u"Feedback", u"反馈问题"),
        strings_.text(u"Support Dev", u"支持开发者"),
        strings_.text(u"Close", u"关闭"),
    };
    // Chosen from the tray menu while another application is in front.
    dialog.activate = true;
    return dialog;
}

void AboutWindow::show() {
    const int response = alerts_->runModal(alert());
    const char16_t* link = nullptr;
    if (response == kFirstButtonResponse + 2) {
        link = kSupportUrl;
    } else if (response == kFirstButtonResponse + 1) {
        link = kFeedbackUrl;
    } else if (response == kFirstButtonResponse) {
        link = kWebsiteUrl;
    }
    if (link == nullptr) {
        return;
    }
    const QUrl url(QString::fromUtf16(link), QUrl::StrictMode);
    if (url.isValid()) {
        urls_->open(url);
    }
}

}  // namespace quillet
