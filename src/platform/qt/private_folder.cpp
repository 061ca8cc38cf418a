#include "platform/qt/private_folder.h"

#include <QFile>

#include <cerrno>

#include <sys/stat.h>

namespace quillet {

bool makePrivateFolders(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    if (!encoded.startsWith('/')) {
        return false;
    }
    for (qsizetype end = encoded.indexOf('/', 1);; end = encoded.indexOf('/', end + 1)) {
        const QByteArray folder = end < 0 ? encoded : encoded.left(end);
        // The umask narrows mkdir's mode; only a folder made here is set to it.
        if (::mkdir(folder.constData(), S_IRWXU) == 0) {
            ::chmod(folder.constData(), S_IRWXU);
        } else if (errno != EEXIST) {
            return false;
        }
        if (end < 0) {
            break;
        }
    }
    struct stat info {};
    return ::stat(encoded.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace quillet
