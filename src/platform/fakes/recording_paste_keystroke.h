#pragma once

#include "platform/paste_keystroke.h"

#include <atomic>

namespace quillet {

// Counts the chords posted; the test decides whether posting works.
class RecordingPasteKeystroke final : public PasteKeystroke {
public:
    bool available() override { return works_; }
    bool waitForKeysReleased(std::chrono::milliseconds /*deadline*/) override {
        ++waits_;
        return true;
    }
    bool postPasteChord() override {
        if (!works_) {
            return false;
        }
        ++chords_;
        return true;
    }

    void setWorks(bool works) { works_ = works; }
    int chords() const { return chords_; }
    int waits() const { return waits_; }

private:
    std::atomic<bool> works_ = true;
    std::atomic<int> chords_ = 0;
    std::atomic<int> waits_ = 0;
};

}  // namespace quillet
