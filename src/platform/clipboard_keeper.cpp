#include "platform/clipboard_keeper.h"

#include <QDataStream>
#include <QIODevice>

#include <cerrno>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <unistd.h>

extern char** environ;

namespace quillet {

namespace {

// Long enough for a sanitizer build to start and take the clipboard.
constexpr int kKeeperStartMs = 10'000;

bool writeAll(int fd, const QByteArray& bytes) {
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + written,
                                  static_cast<std::size_t>(bytes.size() - written));
        if (n < 0 && errno != EINTR) {
            return false;
        }
        written += n > 0 ? n : 0;
    }
    return true;
}

// Closes what it holds when it goes.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

}  // namespace

bool startKeeper(const ClipboardContent& content, std::string_view desktop) {
    QByteArray handed;
    {
        QDataStream out(&handed, QIODevice::WriteOnly);
        out << content.text << static_cast<quint32>(content.formats.size());
        for (const auto& [format, bytes] : content.formats) {
            out << format << bytes;
        }
    }
    // A file in memory rather than a pipe: nothing waits for the keeper to read.
    const Fd data{memfd_create("quillet-clipboard", MFD_CLOEXEC)};
    int ends[2] = {-1, -1};
    if (data.fd < 0 || !writeAll(data.fd, handed) || lseek(data.fd, 0, SEEK_SET) != 0 ||
        pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    const Fd ready{ends[0]};
    Fd readyWriter{ends[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, data.fd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, readyWriter.fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing else of ours: not the settings lock, not the bus connection.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // A session of its own, so that Control+C in our terminal leaves it
    // alone, with the signals this program blocks or handles back to normal.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t normal;
    sigemptyset(&normal);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaddset(&normal, signal);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &normal);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    std::string option(kKeeperOption);
    std::string name(desktop);
    char program[] = "quillet";
    char* arguments[] = {program, option.data(), name.data(), nullptr};
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, "/proc/self/exe", &actions, &attributes, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(readyWriter.fd);
    readyWriter.fd = -1;
    if (spawned != 0) {
        return false;
    }
    pollfd fd{ready.fd, POLLIN, 0};
    char answer = 0;
    return poll(&fd, 1, kKeeperStartMs) == 1 && ::read(ready.fd, &answer, 1) == 1;
}

std::optional<ClipboardContent> receiveKeptContent() {
    QByteArray handed;
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n == 0) {
            break;
        }
        if (n < 0 && errno != EINTR) {
            return std::nullopt;
        }
        handed.append(chunk, n > 0 ? n : 0);
    }
    ::close(STDIN_FILENO);
    QDataStream in(handed);
    ClipboardContent content;
    quint32 count = 0;
    in >> content.text >> count;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString format;
        QByteArray bytes;
        in >> format >> bytes;
        content.formats.emplace_back(std::move(format), std::move(bytes));
    }
    if (in.status() != QDataStream::Ok) {
        return std::nullopt;
    }
    return content;
}

void reportKeeping() {
    const char served = '1';
    if (::write(STDOUT_FILENO, &served, 1) != 1) {
        // The program that started us is gone; serving goes on all the same.
    }
    ::close(STDOUT_FILENO);
}

}  // namespace quillet
