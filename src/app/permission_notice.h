#pragma once

#include "app/localized_strings.h"

namespace quillet {

class Alerts;
class UrlOpener;
struct AlertSpec;

// Where to read how to run Quillet in a session that allows synthetic keys.
inline constexpr auto kInputHelpUrl = u"https://tarnwick.example/Quillet/#x11-session";

// Told once at start-up when this session cannot send synthetic keystrokes,
// so no line could ever be pasted.
class PermissionNotice {
public:
    PermissionNotice(Alerts& alerts, UrlOpener& urls, LocalizedStrings strings)
        : alerts_(&alerts), urls_(&urls), strings_(strings) {}

    // UI thread; returns when the notice is answered.
    void show();

    AlertSpec alert() const;

private:
    Alerts* alerts_;
    UrlOpener* urls_;
    LocalizedStrings strings_;
};

}  // namespace quillet
