#pragma once

#include "platform/alerts.h"

#include <vector>

namespace quillet {

class UrlOpener;

// An alert some of whose buttons lead to a web page.
struct LinkAlertSpec {
    AlertSpec alert;
    std::vector<const char16_t*> links;  // by button; null where a button opens nothing
};

// Shows such alerts and hands the page of the chosen button to the browser.
class LinkAlerts {
public:
    LinkAlerts(Alerts& alerts, UrlOpener& urls) : alerts_(&alerts), urls_(&urls) {}

    // UI thread; returns once the alert is answered and any page handed on.
    void show(const LinkAlertSpec& spec) const;

private:
    Alerts* alerts_;
    UrlOpener* urls_;
};

}  // namespace quillet
