#pragma once

#include "platform/alerts.h"

#include <deque>
#include <vector>

namespace quillet {

// Records every alert shown and answers with scripted button indexes (the
// first button when none is scripted).
class ScriptedAlerts final : public Alerts {
public:
    int exec(const AlertSpec& alert) override {
        shown_.push_back(alert);
        if (responses_.empty()) {
            return 0;
        }
        const int response = responses_.front();
        responses_.pop_front();
        return response;
    }

    void answer(int response) { responses_.push_back(response); }
    const std::vector<AlertSpec>& shown() const { return shown_; }

private:
    std::vector<AlertSpec> shown_;
    std::deque<int> responses_;
};

}  // namespace quillet
