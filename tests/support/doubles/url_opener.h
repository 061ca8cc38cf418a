#pragma once

#include "platform/url_opener.h"

#include <QUrl>

#include <vector>

namespace quillet {

// Records the links it is asked to open and opens none.
class RecordingUrlOpener final : public UrlOpener {
public:
    bool open(const QUrl& url) override {
        opened_.push_back(url);
        return true;
    }
    const std::vector<QUrl>& opened() const { return opened_; }

private:
    std::vector<QUrl> opened_;
};

}  // namespace quillet
