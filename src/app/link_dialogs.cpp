#include "app/link_dialogs.h"

#include "platform/url_opener.h"

#include <QCoreApplication>
#include <QUrl>

namespace quillet {

LinkDialog aboutDialog(Language language) {
    return LinkDialog{
        AlertSpec{text::kAboutTitle.in(language),
                  text::kAboutBody.in(language).arg(QCoreApplication::applicationVersion()),
                  AlertStyle::Information,
                  {text::kVisitWebsite.in(language), text::kFeedback.in(language),
                   text::kSupportDev.in(language), text::kClose.in(language)},
                  true},
        {kWebsiteUrl, kFeedbackUrl, kSupportUrl, nullptr},
    };
}

LinkDialog inputPermissionDialog(Language language) {
    return LinkDialog{
        AlertSpec{text::kInputPermissionTitle.in(language),
                  text::kInputPermissionBody.in(language),
                  AlertStyle::Warning,
                  {text::kOpenSettings.in(language), text::kCancel.in(language)},
                  false},
        // No desktop has a settings page that grants synthetic input, so the
        // button leads to the page that explains the session choice.
        {kInputHelpUrl, nullptr},
    };
}

void runLinkDialog(const LinkDialog& dialog, Alerts& alerts, UrlOpener& urls) {
    const int button = alerts.exec(dialog.alert);
    if (button < 0 || static_cast<std::size_t>(button) >= dialog.links.size()) {
        return;
    }
    const char16_t* link = dialog.links[static_cast<std::size_t>(button)];
    if (link == nullptr) {
        return;
    }
    const QUrl url(QString::fromUtf16(link), QUrl::StrictMode);
    if (url.isValid()) {
        urls.open(url);
    }
}

}  // namespace quillet
