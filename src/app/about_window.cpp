#include "app/about_window.h"

namespace quillet {

LinkAlertSpec aboutAlert(const LocalizedStrings& strings) {
    LinkAlertSpec spec;
    AlertSpec& dialog = spec.alert;
    dialog.message = strings.text(u"About Quillet", u"关于 Quillet");
    dialog.informative =
        strings.text(u"Version: 1.0\n© 2026 Tarnwick\n\nSimple utility for easier data entry.",
                     u"版本: 1.0\n© 2026 塔恩威克\n\n简单的效率工具，让数据录入更轻松。");
    dialog.style = AlertStyle::Informational;
    dialog.buttons = {
        strings.text(u"Visit Website", u"访问主页"),
        strings.text(u"Feedback", u"反馈问题"),
        strings.text(u"Support Dev", u"支持开发者"),
        strings.text(u"Close", u"关闭"),
    };
    // Chosen from the tray menu while another application is in front.
    dialog.activate = true;
    spec.links = {kWebsiteUrl, kFeedbackUrl, kSupportUrl, nullptr};
    return spec;
}

}  // namespace quillet
