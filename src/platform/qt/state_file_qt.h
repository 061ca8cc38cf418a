#pragma once

#include "platform/state_file.h"

#include <QString>

namespace quillet {

// $XDG_STATE_HOME/tarnwick/Quillet.json (~/.local/state when unset). It
// holds copied text, so it is readable by the owner only, and only a regular
// file of the user's in a folder no other user may write to is used: a link
// or a pipe planted there is never followed, a device never read.
class StateFileQt final : public StateFile {
public:
    StateFileQt();
    // One that refuses every call for this reason.
    explicit StateFileQt(StateRefusal always);

    std::optional<QByteArray> read() override;
    bool write(QByteArrayView contents) override;
    bool overwrite(qint64 offset, QByteArrayView bytes) override;
    StateRefusal refusal() const override { return refusal_; }

    // Removes the half-written copies of a program that was killed while
    // writing; only safe while holding the lock, when no write can be going on.
    void removeLeftovers();

    static QString filePath();

private:
    // The folder, opened, when it is safe to use; else -1 and refusal_ says why.
    int openFolder();

    QString folder_;
    StateRefusal always_ = StateRefusal::None;
    StateRefusal refusal_ = StateRefusal::None;
};

}  // namespace quillet
