#include "platform/qt/url_opener_qt.h"

#include <QDesktopServices>

namespace quillet {

bool UrlOpenerQt::open(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

}  // namespace quillet
