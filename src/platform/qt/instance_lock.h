#pragma once

#include <QString>

namespace quillet {

// Keeps a second copy from running with the same settings: an flock on a
// file beside them, let go by the kernel when the process ends however it
// ends, so a crashed copy leaves nothing stale. Earlier versions took the
// same flock (through QLockFile), so old and new keep each other out too.
class InstanceLock {
public:
    enum class Status {
        Held,
        Taken,    // another copy holds it
        Refused,  // not a regular file of this user, or it cannot be opened
    };

    explicit InstanceLock(const QString& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Status status() const { return status_; }
    // Why it was refused, for the terminal.
    const QString& problem() const { return problem_; }

private:
    int fd_ = -1;
    Status status_ = Status::Refused;
    QString problem_;
};

}  // namespace quillet
