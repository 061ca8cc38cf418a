#include "platform/qt/instance_lock.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet {

InstanceLock::InstanceLock(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // A link is never followed and a pipe never waited on.
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    fd_ = ::open(name.constData(), kFlags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    if (fd_ < 0 && errno == EEXIST) {
        fd_ = ::open(name.constData(), kFlags);
    }
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        problem_ = QStringLiteral("cannot open %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        problem_ = QStringLiteral("%1 is not a regular file of yours").arg(path);
        return;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        status_ = errno == EWOULDBLOCK ? Status::Taken : Status::Refused;
        problem_ = QStringLiteral("cannot lock %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    // No other user may open it to hold the lock; the umask may have left it wider.
    ::fchmod(fd_, S_IRUSR | S_IWUSR);
    status_ = Status::Held;
}

InstanceLock::~InstanceLock() {
    // The file stays: removing it would let a copy starting now lock a new
    // file while another still holds this one.
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace quillet
