#pragma once

#include <QUrl>

namespace quillet {

// Hands a link to the desktop's handler, normally the web browser. UI thread.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;

    // False when no handler could be started; callers may ignore it.
    virtual bool open(const QUrl& url) = 0;
};

}  // namespace quillet
