#pragma once

#include "platform/clipboard.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace quillet {

// Why the file is left alone; the run then lives in memory only.
enum class StateRefusal {
    None,
    NotAFile,      // a link, a pipe, a device, or a file of another user
    TooLarge,      // more than kStateFileLimit
    SharedFolder,  // its folder belongs to another user, or others may write to it
    NoLock,        // the lock that keeps a second copy out could not be taken
};

// Far above any run this program writes: the largest copy it reads, kept as
// the text and as its lines, each byte escaped to six at most.
inline constexpr std::int64_t kStateFileLimit = 16 * kClipboardReadLimit;

// The file the run is kept in: state, not configuration, so it lives apart
// from the settings (and from the dotfiles people sync). Used from the paste
// worker only.
class StateFile {
public:
    virtual ~StateFile() = default;

    // Its contents; none when there is no file yet, or it is refused.
    virtual std::optional<QByteArray> read() = 0;
    // Replaces it whole, atomically; false when it could not be written.
    virtual bool write(QByteArrayView contents) = 0;
    // Overwrites bytes at offset in place; false when it could not. A write
    // this small within one sector lands whole or not at all.
    virtual bool overwrite(qint64 offset, QByteArrayView bytes) = 0;
    // Why the last of the calls above left the file alone.
    virtual StateRefusal refusal() const = 0;
};

}  // namespace quillet
