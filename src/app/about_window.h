#pragma once

#include "app/localized_strings.h"

namespace quillet {

class Alerts;
class UrlOpener;
struct AlertSpec;

inline constexpr auto kWebsiteUrl = u"https://tarnwick.example/Quillet/";
inline constexpr auto kFeedbackUrl = u"https://code.tarnwick.example/tarnwick/Quillet/issues";
inline constexpr auto kSupportUrl = u"https://tarnwick.example/Quillet/#support";

// The About dialog: version, copyright, a line on what the program is for,
// and three links. A modal alert that brings the program to the front.
class AboutWindow {
public:
    AboutWindow(Alerts& alerts, UrlOpener& urls, LocalizedStrings strings)
        : alerts_(&alerts), urls_(&urls), strings_(strings) {}

    // UI thread; returns once the dialog is answered and any link handed on.
    void show();

    // The dialog in the current language.
    AlertSpec alert() const;

private:
    Alerts* alerts_;
    UrlOpener* urls_;
    LocalizedStrings strings_;
};

}  // namespace quillet
