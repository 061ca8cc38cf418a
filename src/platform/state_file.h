#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace quillet {

// The file the run is kept in: state, not configuration, so it lives apart
// from the settings (and from the dotfiles people sync). Used from the paste
// worker only.
class StateFile {
public:
    virtual ~StateFile() = default;

    // Its contents; none when there is no file yet.
    virtual std::optional<QByteArray> read() = 0;
    // Replaces it whole, atomically; false when it could not be written.
    virtual bool write(QByteArrayView contents) = 0;
    // Overwrites bytes at offset in place; false when it could not. A write
    // this small within one sector lands whole or not at all.
    virtual bool overwrite(qint64 offset, QByteArrayView bytes) = 0;
};

}  // namespace quillet
