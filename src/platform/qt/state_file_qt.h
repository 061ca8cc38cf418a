#pragma once

#include "platform/state_file.h"

#include <QString>

namespace quillet {

// $XDG_STATE_HOME/tarnwick/Quillet.json (~/.local/state when unset). It
// holds copied text, so it and its folder are readable by the owner only.
class StateFileQt final : public StateFile {
public:
    StateFileQt();

    std::optional<QByteArray> read() override;
    bool write(QByteArrayView contents) override;
    bool overwrite(qint64 offset, QByteArrayView bytes) override;

    static QString filePath();

private:
    QString path_;
};

}  // namespace quillet
