#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

namespace quillet {

// Everything the clipboard held at one moment, so it can be put back whole.
struct ClipboardContent {
    QString text;                                         // the plain text, "" when there is none
    std::vector<std::pair<QString, QByteArray>> formats;  // every format, by MIME type

    friend bool operator==(const ClipboardContent&, const ClipboardContent&) = default;
};

// The most a read of the clipboard takes in, over all its formats; the
// notice that tells the user so names it.
inline constexpr std::int64_t kClipboardReadLimit = std::int64_t{512} * 1024 * 1024;

// What reading the clipboard came to. On anything but Read the content is
// empty and must not be taken for an empty clipboard.
struct ClipboardRead {
    enum class Status {
        Read,
        NoAnswer,  // the owner did not answer, or stopped answering, in time
        TooLarge,  // more data than the program will hold
    };
    Status status = Status::Read;
    ClipboardContent content;
};

enum class FetchResult {
    Fetched,     // another program asked for the clipboard's data
    NotFetched,  // nobody asked before the deadline, and we still owned it
    Unknown,     // ownership moved on, or the platform cannot tell
};

// The system clipboard. Reading happens off the UI thread (a transfer may
// be big or slow), one read at a time; writing happens on the UI thread only.
// The fetch watch (whether another program fetched what we put there) is
// thread-safe, armed and waited on by the paste worker.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    virtual ClipboardRead read() = 0;
    // Any thread: ends a read in progress, and every later one, with
    // NoAnswer, so that quitting does not wait on a slow owner.
    virtual void cancelReads() = 0;
    // Puts one line on the clipboard, marked so that history managers skip it.
    virtual void writeLine(const QString& line) = 0;
    virtual void restore(const ClipboardContent& content) = 0;

    // Forgets earlier requests; only those after this call count.
    virtual void arm() = 0;
    virtual FetchResult waitForFetch(std::chrono::milliseconds deadline) = 0;
};

}  // namespace quillet
