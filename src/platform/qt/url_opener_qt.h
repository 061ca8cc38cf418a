#pragma once

#include "platform/url_opener.h"

namespace quillet {

// Links through QDesktopServices: xdg-open or the desktop's own handler.
class UrlOpenerQt final : public UrlOpener {
public:
    bool open(const QUrl& url) override;
};

}  // namespace quillet
