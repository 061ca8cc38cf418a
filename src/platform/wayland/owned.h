#pragma once

// RAII owners of what Wayland and the kernel hand out. No Wayland header
// leaks from here: a proxy's owner names its destroy function, which the
// caller's translation unit sees.

#include <memory>
#include <utility>

#include <unistd.h>

namespace quillet::wayland {

template <typename T, void (*Destroy)(T*)>
struct ProxyDestroyer {
    void operator()(T* proxy) const { Destroy(proxy); }
};

// A protocol object of ours, destroyed (with its destructor request, where
// the interface has one) when the owner goes. Loop thread only.
template <typename T, void (*Destroy)(T*)>
using Owned = std::unique_ptr<T, ProxyDestroyer<T, Destroy>>;

// A file descriptor, closed when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

}  // namespace quillet::wayland
