#pragma once

#include "doubles/guarded.h"
#include "platform/paste_keystroke.h"

#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace quillet {

// Records the chords posted and the text typed; the test decides whether
// sending keys works.
class RecordingPasteKeystroke final : public PasteKeystroke, private Guarded {
public:
    bool available() override { return works_; }
    bool waitForKeysReleased(std::chrono::milliseconds /*deadline*/) override {
        ++waits_;
        return true;
    }
    bool postPasteChord(PasteMethod method) override {
        if (!works_ || !locked([&] { return (methods_.push_back(method), true); })) {
            return false;
        }
        if (onChord) {
            onChord();
        }
        return true;
    }
    bool pressesEcho() const override { return echoes; }
    bool typeText(const QString& text) override {
        return works_ && locked([&] { return (typed_.append(text), true); });
    }
    bool postFollowKey(FollowKey key) override {
        if (onFollowKey) {
            onFollowKey();
        }
        std::lock_guard lock(mutex_);
        followKeys_.push_back(key);
        return works_;
    }

    // Runs as a follow key is posted, before it is recorded.
    std::function<void()> onFollowKey;
    // Runs once a chord is recorded, on the paste worker.
    std::function<void()> onChord;
    bool echoes = false;
    std::vector<FollowKey> followKeys() const { return locked(followKeys_); }

    void setWorks(bool works) { works_ = works; }
    int chords() const {
        return locked([&] { return static_cast<int>(methods_.size()); });
    }
    QStringList typed() const { return locked(typed_); }
    int waits() const { return waits_; }

private:
    std::atomic<bool> works_ = true;
    std::atomic<int> waits_ = 0;
    std::vector<PasteMethod> methods_;
    std::vector<FollowKey> followKeys_;
    QStringList typed_;
};

}  // namespace quillet
