#pragma once

#include "core/texts.h"
#include "platform/alerts.h"

#include <vector>

namespace quillet {

class UrlOpener;

inline constexpr auto kWebsiteUrl = u"https://tarnwick.example/Quillet/";
inline constexpr auto kFeedbackUrl = u"https://code.tarnwick.example/tarnwick/Quillet/issues";
inline constexpr auto kSupportUrl = u"https://tarnwick.example/Quillet/#support";
// Where to read how to run Quillet in a session that allows synthetic keys.
inline constexpr auto kInputHelpUrl = u"https://tarnwick.example/Quillet/#x11-session";

// A dialog some of whose buttons lead to a web page.
struct LinkDialog {
    AlertSpec alert;
    std::vector<const char16_t*> links;  // by button; null where a button opens nothing
};

// Version, copyright, a line on what the program is for, and three links.
// It comes to the front: it is chosen from the tray menu.
LinkDialog aboutDialog(Language language);

// Told once at start-up when this session cannot send synthetic keystrokes,
// so no line could ever be pasted.
LinkDialog inputPermissionDialog(Language language);

// Shows the dialog and hands the chosen button's page to the browser.
// UI thread; returns once it is answered.
void runLinkDialog(const LinkDialog& dialog, Alerts& alerts, UrlOpener& urls);

}  // namespace quillet
