#include "paste/echo_gate.h"

namespace quillet {

void EchoGate::chordOut() {
    const std::lock_guard lock(mutex_);
    out_ = true;
    ++unechoed_;
}

void EchoGate::close() {
    const std::lock_guard lock(mutex_);
    out_ = false;
    unechoed_ = 0;
    echoes_ = 0;
}

bool EchoGate::takeEcho() {
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard lock(mutex_);
    const bool repeat = out_ && now - lastPress_ < repeatGap_;
    lastPress_ = now;
    if (unechoed_ == 0) {
        return repeat;
    }
    --unechoed_;
    ++echoes_;
    return true;
}

bool EchoGate::echoed() {
    const std::lock_guard lock(mutex_);
    const bool any = echoes_ > 0;
    echoes_ = 0;
    return any;
}

}  // namespace quillet
