#pragma once

#include "core/handoff.h"
#include "platform/clipboard.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What every desktop's clipboard decides alike, apart from how it talks to
// the display server: which offered format is the text, which formats are
// kept, how long and how much a read may take, what goes back and whether a
// line reached a program. Format names are X targets and MIME types alike.
namespace quillet::clipboard {

bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Where the text is read from, best first. A charset named in a MIME type
// says what the bytes are outright; STRING is Latin-1, the last resort.
inline constexpr std::string_view kTextFormats[] = {"text/plain;charset=utf-8", "UTF8_STRING",
                                                    "text/plain", "STRING"};

// The names under which the UTF-8 text itself goes: read once, kept under each.
bool isUtf8TextFormat(std::string_view name);
// Any form of the text, older encodings included: a program that fetched one
// has the line.
bool isTextFormat(std::string_view name);
// Whether a format another program offers is read and put back: MIME types
// and UTF8_STRING (so that text that is not valid UTF-8 comes back as it
// was), and the history marks, or a password put back would be recorded.
// Skipped: the selection protocol's own targets, server resources and the
// text in older encodings, which are made anew from the text, and Qt's
// private image alias.
bool isKeptFormat(std::string_view name);

// The most one read may take, over all its formats.
struct ReadLimits {
    std::chrono::milliseconds deadline = kClipboardReadDeadline;
    std::int64_t maxBytes = kClipboardReadLimit;
};

// The time and bytes left to one read, and whether it was called off.
class ReadBudget {
public:
    ReadBudget(const ReadLimits& limits, const std::atomic<bool>& cancelled);

    // How long the next wait may block, in milliseconds: short slices, so
    // that a cancel is seen soon; 0 once the time is up or the read is off.
    int nextWait() const;
    bool cancelled() const { return cancelled_; }
    bool timeUp() const;
    std::int64_t bytesLeft() const { return left_; }
    bool fits(std::int64_t bytes) const { return bytes <= left_; }
    void spend(std::int64_t bytes) { left_ -= bytes; }

private:
    std::chrono::steady_clock::time_point end_;
    std::int64_t left_;
    const std::atomic<bool>& cancelled_;
};

// What asking the owner for one format came to.
struct Fetched {
    enum class Outcome {
        Done,
        Refused,   // the owner has no such data after all
        NoAnswer,  // no answer, or not all of it, in time
        TooLarge,
        Changed,  // the clipboard changed hands: the read starts over
    };
    Fetched() = default;
    Fetched(Outcome how, QByteArray data = {}) : outcome(how), bytes(std::move(data)) {}

    Outcome outcome = Outcome::Refused;
    QByteArray bytes;
    // Whether the owner said it gave Latin-1; where it says nothing, the
    // name asked for tells.
    std::optional<bool> latin1;
};

// Reads a pipe to its end, waiting for data before each read as the budget
// allows; the owner writes at its own pace, and the end may be non-blocking.
Fetched drainPipe(int fd, const ReadBudget& budget);

// Reads the text, then every kept format, from an owner that offers these
// formats, through fetch(index into offered). The text comes first and whole
// or the read fails; a format that misses the deadline ends the read, partial.
// Nullopt when the clipboard changed hands meanwhile.
std::optional<ClipboardRead> readOffered(const std::vector<std::string>& offered,
                                         ReadBudget& budget,
                                         const std::function<Fetched(std::size_t)>& fetch);

// A read that came to nothing; the status says why.
ClipboardRead failedRead(Fetched::Outcome outcome);

// The text's UTF-8 bytes as its owner gave them, under the best of their
// names: made anew from the decoded text, invalid bytes and a byte-order mark
// would not come back. Made from the text where it came as Latin-1 only;
// nullopt when there is no text.
std::optional<QByteArray> utf8Text(const ClipboardContent& content);

// What puts the content back: every format byte for byte, and the text under
// the UTF-8 MIME names where no format carries it. Nothing for an empty
// clipboard: it comes back empty.
std::vector<std::pair<std::string, QByteArray>> putBackFormats(const ClipboardContent& content);

// After another program took the clipboard from the line: whether what it
// holds stays instead of ours coming back. It does unless it is the line
// itself, as a clipboard manager that took the line over holds it.
bool theirsStays(const ClipboardRead& now, const QString& line);

// Whether both hold the very same data, shared rather than merely equal: a
// copy read once and put back after press after press.
bool sameData(const ClipboardContent& a, const ClipboardContent& b);

// Whether the line just written reached a program: its text went out whole,
// at once or in pieces. Transports report what happens to their offers by id.
class FetchWatch {
public:
    // Forgets earlier events; only those of this offer count from now on.
    void arm(std::uint64_t offer);
    void disarm() { arm(0); }
    std::uint64_t watched() const { return watched_; }

    // The text went out whole in one go.
    void delivered(std::uint64_t offer);
    // A transfer of the text began, and one ended.
    void began(std::uint64_t offer);
    void ended(std::uint64_t offer, bool whole);
    // Another program took the clipboard from the offer.
    void lost(std::uint64_t offer);
    // The transport is gone.
    void close() { closed_ = true; }

    // Nothing more can change the answer.
    bool settled() const {
        return watched_ == 0 || fetched_ || closed_ || (lost_ && inFlight_ == 0);
    }
    // Settled, or no transfer is under way that could still settle it.
    bool quiet() const { return settled() || inFlight_ == 0; }
    FetchResult result() const;

private:
    std::uint64_t watched_ = 0;
    bool fetched_ = false;
    bool lost_ = false;
    bool closed_ = false;
    int inFlight_ = 0;
};

// How long a transfer of the line begun before the deadline may go on.
inline constexpr std::chrono::seconds kTransferGrace{5};

// Waits until the transport's watch (`State::watch`, a FetchWatch) settles
// or the deadline passes, lets a transfer under way end, and disarms it.
template <typename State>
FetchResult awaitFetch(Handoff<State>& state, std::chrono::milliseconds deadline) {
    state.waitFor(deadline, [](const State& now) { return now.watch.settled(); });
    state.waitFor(kTransferGrace, [](const State& now) { return now.watch.quiet(); });
    return state.change([](State& now) {
        const FetchResult result = now.watch.result();
        now.watch.disarm();
        return result;
    });
}

}  // namespace quillet::clipboard
