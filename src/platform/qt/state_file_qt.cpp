#include "platform/qt/state_file_qt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet {

QString StateFileQt::filePath() {
    QString home = qEnvironmentVariable("XDG_STATE_HOME");
    // Relative paths are invalid by the XDG rules and count as unset.
    if (home.isEmpty() || QDir::isRelativePath(home)) {
        home = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return home + QStringLiteral("/tarnwick/Quillet.json");
}

StateFileQt::StateFileQt() : path_(filePath()) {
    const QString folder = QFileInfo(path_).absolutePath();
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), S_IRWXU);
}

std::optional<QByteArray> StateFileQt::read() {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

bool StateFileQt::write(QByteArrayView contents) {
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        return false;
    }
    return file.write(contents.data(), contents.size()) == contents.size() && file.commit();
}

bool StateFileQt::overwrite(qint64 offset, QByteArrayView bytes) {
    const int fd = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    const bool written = ::pwrite(fd, bytes.data(), static_cast<std::size_t>(bytes.size()),
                                  offset) == bytes.size() &&
                         ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && written;
}

}  // namespace quillet
