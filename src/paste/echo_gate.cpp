#include "paste/echo_gate.h"

namespace quillet {

void EchoGate::chordOut() {
    const std::lock_guard lock(mutex_);
    ++unechoed_;
}

void EchoGate::close() {
    const std::lock_guard lock(mutex_);
    unechoed_ = 0;
    echoes_ = 0;
}

bool EchoGate::takeEcho() {
    const std::lock_guard lock(mutex_);
    if (unechoed_ == 0) {
        return false;
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
