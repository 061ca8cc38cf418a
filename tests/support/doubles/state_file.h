#pragma once

#include "doubles/guarded.h"
#include "platform/state_file.h"

#include <QByteArray>

#include <mutex>
#include <optional>

namespace quillet {

// A state file in memory that counts whole writes and in-place overwrites.
// While not writable, both fail and change nothing; while refused, every call
// fails and says why.
class InMemoryStateFile final : public StateFile, private Guarded {
public:
    std::optional<QByteArray> read() override {
        std::lock_guard lock(mutex_);
        return refusal_ == StateRefusal::None ? contents_ : std::nullopt;
    }
    bool write(QByteArrayView contents) override {
        std::lock_guard lock(mutex_);
        if (!writable_ || refusal_ != StateRefusal::None) {
            return false;
        }
        contents_ = contents.toByteArray();
        ++writes_;
        return true;
    }
    bool overwrite(qint64 offset, QByteArrayView bytes) override {
        std::lock_guard lock(mutex_);
        if (!writable_ || refusal_ != StateRefusal::None || !contents_ ||
            offset + bytes.size() > contents_->size()) {
            return false;
        }
        contents_->replace(offset, bytes.size(), bytes.toByteArray());
        ++overwrites_;
        return true;
    }

    void setContents(std::optional<QByteArray> contents) { assign(contents_, std::move(contents)); }
    void setWritable(bool writable) { assign(writable_, writable); }
    StateRefusal refusal() const override { return locked(refusal_); }
    void setRefusal(StateRefusal refusal) { assign(refusal_, refusal); }
    int writes() const { return locked(writes_); }
    int overwrites() const { return locked(overwrites_); }

private:
    std::optional<QByteArray> contents_;
    bool writable_ = true;
    StateRefusal refusal_ = StateRefusal::None;
    int writes_ = 0;
    int overwrites_ = 0;
};

}  // namespace quillet
