#pragma once

#include <mutex>
#include <type_traits>
#include <utility>

namespace quillet {

// One lock over a double's state, which tests read while a worker writes it.
class Guarded {
protected:
    // A copy of the member, or what the function makes of the state.
    template <typename T>
    auto locked(const T& member) const {
        std::lock_guard lock(mutex_);
        if constexpr (std::is_invocable_v<const T&>) {
            return member();
        } else {
            return T(member);
        }
    }
    template <typename T, typename V>
    void assign(T& member, V&& value) {
        std::lock_guard lock(mutex_);
        member = std::forward<V>(value);
    }

    mutable std::mutex mutex_;
};

}  // namespace quillet
