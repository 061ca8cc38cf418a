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

// Formats that tell clipboard histories to skip an entry, with their values:
// KDE's hint (Klipper, CopyQ 8 and later, most others) and CopyQ's own mark
// for hidden content, which the CopyQ 6 in Debian 12 honours instead.
struct HistoryMark {
    const char* format;
    const char* value;
};
inline constexpr HistoryMark kHistoryMarks[] = {
    {"x-kde-passwordManagerHint", "secret"},
    {"application/x-copyq-hidden", "1"},
};

// The most a read of the clipboard takes in, over all its formats; the
// notice that tells the user so names it.
inline constexpr std::int64_t kClipboardReadLimit = std::int64_t{512} * 1024 * 1024;
// The longest a read of the clipboard takes, over all its formats. The text
// comes first: without it by then nothing is pasted; a format still missing
// then is left out of what is put back (ClipboardRead::partial).
inline constexpr std::chrono::milliseconds kClipboardReadDeadline{5000};

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
    // The clipboard still holds what this program put back after its last
    // paste: nobody has copied anything since.
    bool putBack = false;
    // Read, but without the formats the owner did not hand over before the
    // read's deadline; the text, where there is one, came whole.
    bool partial = false;
};

enum class FetchResult {
    Fetched,     // another program asked for the clipboard's data
    NotFetched,  // nobody asked before the deadline, and we still owned it
    Unknown,     // ownership moved on, or the platform cannot tell
};

// The system clipboard, used from the paste worker: a read may be big or
// slow and must never hold the UI thread. One read at a time; the fetch watch
// (whether another program fetched what we put there) is armed and waited on
// by the same worker.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    virtual ClipboardRead read() = 0;
    // Any thread: ends a read in progress, and every later one, with
    // NoAnswer, so that quitting does not wait on a slow owner.
    virtual void cancelReads() = 0;
    // Puts one line on the clipboard, marked so that history managers skip
    // it. False when the line is not there: the program is quitting, or the
    // clipboard could not be taken (quitting() tells which).
    virtual bool writeLine(const QString& line) = 0;
    // Puts back what read() returned; false as above.
    virtual bool restore(const ClipboardContent& content) = 0;
    // Any thread: cancelReads() was called, the program is quitting.
    virtual bool quitting() const = 0;

    // How long a line just written needs before a paste finds it there.
    virtual std::chrono::milliseconds settleTime() const { return std::chrono::milliseconds{0}; }

    // Forgets earlier requests; only those after this call count.
    virtual void arm() = 0;
    virtual FetchResult waitForFetch(std::chrono::milliseconds deadline) = 0;

    // Once the last step is over and the program ends: what was put back
    // goes on being served by a process of its own until somebody copies
    // anew, so that quitting does not empty the clipboard. False when the
    // copy could not be handed over.
    virtual bool keepAfterQuit() { return true; }
};

}  // namespace quillet
