#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <utility>
#include <vector>

namespace quillet {

// Everything the clipboard held at one moment, so it can be put back whole.
struct ClipboardContent {
    QString text;                                         // the plain text, "" when there is none
    std::vector<std::pair<QString, QByteArray>> formats;  // every format, by MIME type

    friend bool operator==(const ClipboardContent&, const ClipboardContent&) = default;
};

enum class FetchResult {
    Fetched,     // another program asked for the clipboard's data
    NotFetched,  // nobody asked before the deadline, and we still owned it
    Unknown,     // ownership moved on, or the platform cannot tell
};

// The system clipboard. Reading and writing happen on the main thread only;
// the fetch watch (whether another program fetched what we put there) is
// thread-safe, armed and waited on by the paste worker.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    virtual ClipboardContent read() = 0;
    // Puts one line on the clipboard, marked so that history managers skip it.
    virtual void writeLine(const QString& line) = 0;
    virtual void restore(const ClipboardContent& content) = 0;

    // Forgets earlier requests; only those after this call count.
    virtual void arm() = 0;
    virtual FetchResult waitForFetch(std::chrono::milliseconds deadline) = 0;
};

}  // namespace quillet
