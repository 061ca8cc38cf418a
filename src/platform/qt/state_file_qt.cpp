#include "platform/qt/state_file_qt.h"

#include "platform/qt/private_folder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <memory>
#include <string_view>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet {

namespace {

constexpr char kName[] = "Quillet.json";

// Closes a descriptor when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes it now; false when that failed (a write that did not land).
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

// A regular file of this user, within the limit, or why not.
StateRefusal check(const struct stat& info) {
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        return StateRefusal::NotAFile;
    }
    return info.st_size > kStateFileLimit ? StateRefusal::TooLarge : StateRefusal::None;
}

// Opens the file without following a link and without waiting on a pipe.
int openFile(int folder, int flags) {
    return ::openat(folder, kName, flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

bool writeAll(int fd, QByteArrayView bytes) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<std::size_t>(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

}  // namespace

QString StateFileQt::filePath() {
    QString home = qEnvironmentVariable("XDG_STATE_HOME");
    // Relative paths are invalid by the XDG rules and count as unset.
    if (home.isEmpty() || QDir::isRelativePath(home)) {
        home = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return home + QStringLiteral("/tarnwick/") + QLatin1StringView(kName);
}

StateFileQt::StateFileQt() : folder_(filePath().chopped(qsizetype{sizeof kName})) {
    makePrivateFolders(folder_);
}

StateFileQt::StateFileQt(StateRefusal always) : always_(always), refusal_(always) {}

int StateFileQt::openFolder() {
    refusal_ = always_;
    if (always_ != StateRefusal::None) {
        return -1;
    }
    // Every call looks anew, relative to the folder it checked, so that the
    // folder cannot be swapped between the check and the use.
    const int fd =
        ::open(QFile::encodeName(folder_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 &&
        (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
        refusal_ = StateRefusal::SharedFolder;
        ::close(fd);
        return -1;
    }
    return fd;
}

std::optional<QByteArray> StateFileQt::read() {
    const Fd folder(openFolder());
    if (folder.get() < 0) {
        return std::nullopt;
    }
    const Fd file(openFile(folder.get(), O_RDONLY));
    if (file.get() < 0) {
        if (errno == ELOOP) {
            refusal_ = StateRefusal::NotAFile;
        }
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        return std::nullopt;
    }
    refusal_ = check(info);
    if (refusal_ != StateRefusal::None) {
        return std::nullopt;
    }
    QByteArray contents(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < contents.size()) {
        const ssize_t got = ::read(file.get(), contents.data() + done,
                                   static_cast<std::size_t>(contents.size() - done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    contents.truncate(done);
    return contents;
}

bool StateFileQt::write(QByteArrayView contents) {
    makePrivateFolders(folder_);
    const Fd folder(openFolder());
    if (folder.get() < 0) {
        return false;
    }
    // What is there is replaced, not written through, but a link or a pipe
    // is the user's to remove.
    struct stat info {};
    if (::fstatat(folder.get(), kName, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        refusal_ = check(info);
        if (refusal_ != StateRefusal::None) {
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    // A file beside it, then renamed over it: a reader sees the old run or the new.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = QByteArray(kName) + '.' +
                    QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd = ::openat(folder.get(), temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    Fd file(fd);
    // The umask may have taken the owner's write away.
    const bool written = file.get() >= 0 && ::fchmod(file.get(), S_IRUSR | S_IWUSR) == 0 &&
                         writeAll(file.get(), contents) && ::fsync(file.get()) == 0 &&
                         file.close() &&
                         ::renameat(folder.get(), temporary.constData(), folder.get(), kName) == 0;
    if (!written && fd >= 0) {
        ::unlinkat(folder.get(), temporary.constData(), 0);
    }
    return written;
}

void StateFileQt::removeLeftovers() {
    const Fd folder(openFolder());
    const int listed = folder.get() < 0 ? -1 : ::dup(folder.get());
    if (listed < 0) {
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(listed), ::closedir);
    if (!entries) {
        ::close(listed);
        return;
    }
    // The names write() gives its temporaries: the file's, a dot, base 36.
    const std::string_view prefix(kName);
    while (const dirent* entry = ::readdir(entries.get())) {
        const std::string_view name(entry->d_name);
        if (name.size() > prefix.size() + 1 && name.starts_with(prefix) &&
            name[prefix.size()] == '.' &&
            name.substr(prefix.size() + 1)
                    .find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz") ==
                std::string_view::npos) {
            ::unlinkat(folder.get(), entry->d_name, 0);
        }
    }
}

bool StateFileQt::overwrite(qint64 offset, QByteArrayView bytes) {
    const Fd folder(openFolder());
    if (folder.get() < 0) {
        return false;
    }
    Fd file(openFile(folder.get(), O_WRONLY));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0) {
        if (errno == ELOOP || errno == ENXIO) {
            refusal_ = StateRefusal::NotAFile;
        }
        return false;
    }
    refusal_ = check(info);
    if (refusal_ != StateRefusal::None) {
        return false;
    }
    const bool written = ::pwrite(file.get(), bytes.data(), static_cast<std::size_t>(bytes.size()),
                                  offset) == bytes.size() &&
                         ::fdatasync(file.get()) == 0;
    return file.close() && written;
}

}  // namespace quillet
