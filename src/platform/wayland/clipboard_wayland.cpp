#include "platform/wayland/clipboard_wayland.h"

#include "platform/clipboard_keeper.h"

#include "platform/wayland/data_control.h"
#include "platform/wayland/owned.h"
#include "platform/wayland/session.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <iterator>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client-core.h>

namespace quillet {

namespace {

using Clock = std::chrono::steady_clock;
using wayland::Formats;
using wayland::SelectionChannel;
using wayland::UniqueFd;

// Where the text comes from, best first.
constexpr std::string_view kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain",
                                           "STRING"};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The names under which owners offer the same UTF-8 text again: fetched once.
bool isUtf8TextType(std::string_view name) {
    return name == "text/plain" || name == "UTF8_STRING" ||
           equalsIgnoringCase(name, "text/plain;charset=utf-8");
}

// Every MIME type is kept, and the history marks of password managers (not
// all named like MIME types), or putting a password back would let histories
// record it. Not kept: the older X encodings of the text (TEXT, STRING,
// COMPOUND_TEXT), which Xwayland makes anew from the UTF-8 text, and Qt's
// private image alias.
bool isKeptType(std::string_view name) {
    const bool mark = std::any_of(std::begin(kHistoryMarks), std::end(kHistoryMarks),
                                  [&](const HistoryMark& m) { return name == m.format; });
    if (mark || name == "UTF8_STRING") {
        return true;
    }
    return name.find('/') != std::string_view::npos && !name.starts_with("application/x-qt-image");
}

enum class Outcome { Done, NoAnswer, TooLarge, Changed };

ClipboardRead failed(Outcome outcome) {
    return ClipboardRead{outcome == Outcome::TooLarge ? ClipboardRead::Status::TooLarge
                                                      : ClipboardRead::Status::NoAnswer,
                         {}};
}

// One read of the clipboard, under the limits of the whole read.
class Reading {
public:
    Reading(wayland::Session& session, SelectionChannel& channel,
            const ClipboardWayland::Limits& limits, const std::atomic<bool>& cancelled)
        : session_(session),
          channel_(channel),
          end_(Clock::now() + limits.deadline),
          budget_(limits.maxBytes),
          cancelled_(cancelled) {}

    // Everything the clipboard holds: the text and every kept format. A new
    // selection while reading starts the read over, within the same limits.
    ClipboardRead content() {
        for (;;) {
            SelectionChannel::Selection selection;
            bool usable = false;
            session_.call([&] {
                // A copy made just before the press may still be on its way
                // to us: the compositor sent it before it answers this.
                wl_display_roundtrip(session_.display());
                usable = channel_.usable();
                selection = channel_.selection();
            });
            if (!usable) {
                return failed(Outcome::NoAnswer);
            }
            if (selection.mimeTypes.empty()) {
                return {};
            }
            Outcome outcome = Outcome::Done;
            bool partial = false;
            ClipboardContent content = readAll(selection, outcome, partial);
            if (outcome == Outcome::Done) {
                return ClipboardRead{ClipboardRead::Status::Read, std::move(content), false,
                                     partial};
            }
            if (outcome != Outcome::Changed || Clock::now() >= end_) {
                return failed(outcome == Outcome::Changed ? Outcome::NoAnswer : outcome);
            }
        }
    }

private:
    ClipboardContent readAll(const SelectionChannel::Selection& selection, Outcome& outcome,
                             bool& partial) {
        ClipboardContent content;
        const std::vector<std::string>& types = selection.mimeTypes;
        std::optional<QByteArray> utf8Text;
        for (const std::string_view wanted : kTextTypes) {
            const auto at = std::find_if(types.begin(), types.end(), [&](const std::string& type) {
                return equalsIgnoringCase(type, wanted);
            });
            if (at == types.end()) {
                continue;
            }
            QByteArray bytes;
            if (outcome = fetch(selection.generation, *at, bytes); outcome != Outcome::Done) {
                return {};
            }
            if (wanted == "STRING") {
                content.text = QString::fromLatin1(bytes);
            } else {
                content.text = QString::fromUtf8(bytes);
                utf8Text = std::move(bytes);
            }
            break;
        }

        for (const std::string& type : types) {
            const QString format = QString::fromStdString(type);
            const bool seen = std::any_of(content.formats.begin(), content.formats.end(),
                                          [&](const auto& kept) { return kept.first == format; });
            if (seen || !isKeptType(type)) {
                continue;
            }
            if (utf8Text && isUtf8TextType(type)) {
                content.formats.emplace_back(format, *utf8Text);
                continue;
            }
            QByteArray bytes;
            outcome = fetch(selection.generation, type, bytes);
            // The text is in: what did not come by the deadline is left out,
            // and so is everything after it, as the time is up.
            if (outcome == Outcome::NoAnswer && !cancelled_) {
                outcome = Outcome::Done;
                partial = true;
                return content;
            }
            if (outcome != Outcome::Done) {
                return {};
            }
            content.formats.emplace_back(format, std::move(bytes));
        }
        return content;
    }

    // Asks the owner for one type and takes in its data, whole, from a pipe.
    Outcome fetch(std::uint64_t generation, const std::string& type, QByteArray& bytes) {
        std::array<int, 2> ends{};
        if (pipe2(ends.data(), O_CLOEXEC) != 0) {
            return Outcome::NoAnswer;
        }
        UniqueFd readEnd(ends[0]);
        UniqueFd writeEnd(ends[1]);
        bool asked = false;
        session_.call([&] { asked = channel_.receive(generation, type, writeEnd.get()); });
        // The request carried a copy of it: the owner closing that one ends the data.
        writeEnd.reset();
        if (!asked) {
            return Outcome::Changed;
        }

        std::array<char, 64 * 1024> chunk{};
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now());
            if (left.count() <= 0 || cancelled_) {
                return Outcome::NoAnswer;
            }
            // Short slices, so that a cancel is seen soon.
            pollfd fd{readEnd.get(), POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 50))) <= 0) {
                continue;
            }
            const ssize_t n = ::read(readEnd.get(), chunk.data(), chunk.size());
            if (n == 0) {
                budget_ -= bytes.size();
                return Outcome::Done;
            }
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) {
                    continue;
                }
                return Outcome::NoAnswer;
            }
            if (bytes.size() + n > budget_) {
                return Outcome::TooLarge;
            }
            bytes.append(chunk.data(), n);
        }
    }

    wayland::Session& session_;
    SelectionChannel& channel_;
    Clock::time_point end_;
    std::int64_t budget_;
    const std::atomic<bool>& cancelled_;
};

Formats formatsOf(const ClipboardContent& content) {
    Formats formats;
    bool hasText = false;
    for (const auto& [format, bytes] : content.formats) {
        formats.emplace_back(format.toStdString(), bytes);
        hasText = hasText || isUtf8TextType(formats.back().first);
    }
    // The text alone, as a read of an owner that offered only a legacy
    // encoding would give it.
    if (!hasText && !content.text.isEmpty()) {
        const QByteArray utf8 = content.text.toUtf8();
        formats.emplace_back("text/plain;charset=utf-8", utf8);
        formats.emplace_back("text/plain", utf8);
    }
    return formats;
}

}  // namespace

ClipboardWayland::ClipboardWayland(std::shared_ptr<wayland::Session> session)
    : ClipboardWayland(std::move(session), Limits{}) {}

ClipboardWayland::ClipboardWayland(std::shared_ptr<wayland::Session> session, Limits limits)
    : session_(std::move(session)), limits_(limits) {
    session_->call([this] {
        channel_ = wayland::openSelectionChannel(
            *session_, {[this](std::uint64_t source) { onFetched(source); },
                        [this](std::uint64_t source) { onCancelled(source); }});
    });
}

ClipboardWayland::~ClipboardWayland() {
    // What we serve goes with us, as on X11 when the owner quits.
    session_->call([this] { channel_.reset(); });
}

bool ClipboardWayland::supported(const wayland::Session& session) {
    return wayland::dataControlOffered(session);
}

ClipboardRead ClipboardWayland::read() {
    if (cancelled_ || !channel_) {
        return failed(Outcome::NoAnswer);
    }
    std::optional<ClipboardContent> ours;
    session_->call([&] {
        // A copy made just before the press ends our ownership with an event
        // that may still be on its way: the compositor sent it before it
        // answers this.
        wl_display_roundtrip(session_->display());
        std::lock_guard lock(mutex_);
        ours = putBack_;
    });
    if (ours) {
        return ClipboardRead{ClipboardRead::Status::Read, std::move(*ours), true};
    }
    return Reading(*session_, *channel_, limits_, cancelled_).content();
}

bool ClipboardWayland::writeLine(const QString& line) {
    if (cancelled_ || !channel_) {
        return false;
    }
    line_ = line;
    const QByteArray utf8 = line.toUtf8();
    Formats formats{{"text/plain;charset=utf-8", utf8}, {"text/plain", utf8}};
    // Clipboard histories that honour these marks skip the line.
    for (const HistoryMark& mark : kHistoryMarks) {
        formats.emplace_back(mark.format, QByteArray(mark.value));
    }
    bool written = false;
    session_->call([&] {
        const std::uint64_t source = channel_->offer(std::move(formats));
        std::lock_guard lock(mutex_);
        putBack_.reset();
        lineSource_ = source;
        lineLost_ = false;
        written = source != 0;
    });
    return written;
}

bool ClipboardWayland::restore(const ClipboardContent& content) {
    if (cancelled_ || !channel_) {
        return false;
    }
    bool lineLost = false;
    session_->call([&] {
        // The news that somebody copied may still be on its way.
        wl_display_roundtrip(session_->display());
        std::lock_guard lock(mutex_);
        lineLost = lineLost_;
    });
    // Somebody copied after the line went out: that copy is the user's
    // newest and stays. A clipboard manager that took the line over holds
    // the line itself, and the old copy comes back as usual.
    if (lineLost) {
        const ClipboardRead now = Reading(*session_, *channel_, limits_, cancelled_).content();
        if (now.status == ClipboardRead::Status::Read && now.content.text != line_) {
            return true;
        }
    }
    bool restored = false;
    session_->call([&] {
        if (!channel_->usable()) {
            return;
        }
        const std::uint64_t source = channel_->offer(formatsOf(content));
        std::lock_guard lock(mutex_);
        // An empty clipboard comes back empty, with nothing of ours to remember.
        putBack_.reset();
        if (source != 0) {
            putBack_ = content;
            putBackSource_ = source;
        }
        restored = true;
    });
    return restored;
}

void ClipboardWayland::arm() {
    std::lock_guard lock(mutex_);
    watching_ = true;
    fetched_ = false;
    lostOwnership_ = false;
}

FetchResult ClipboardWayland::waitForFetch(std::chrono::milliseconds deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, deadline, [this] { return fetched_ || lostOwnership_; });
    watching_ = false;
    if (fetched_) {
        return FetchResult::Fetched;
    }
    return lostOwnership_ ? FetchResult::Unknown : FetchResult::NotFetched;
}

bool ClipboardWayland::keepAfterQuit() {
    std::optional<ClipboardContent> kept;
    session_->call([&] {
        // Somebody may have copied a moment ago: the news comes before this answer.
        wl_display_roundtrip(session_->display());
        std::lock_guard lock(mutex_);
        kept = putBack_;
    });
    return !kept || startKeeper(*kept, "wayland");
}

int ClipboardWayland::keep(const ClipboardContent& content,
                           const std::function<void()>& onServing) {
    const std::shared_ptr<wayland::Session> session = wayland::Session::connect();
    if (!session || !supported(*session)) {
        return 1;
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool replaced = false;
    std::uint64_t source = 0;
    std::unique_ptr<SelectionChannel> channel;
    session->call([&] {
        channel = wayland::openSelectionChannel(*session, {[](std::uint64_t) {},
                                                           [&](std::uint64_t cancelled) {
                                                               std::lock_guard lock(mutex);
                                                               replaced =
                                                                   replaced || cancelled == source;
                                                               changed.notify_all();
                                                           }});
        if (channel) {
            source = channel->offer(formatsOf(content));
            // The compositor has the selection once it answers.
            wl_display_roundtrip(session->display());
        }
    });
    if (source == 0) {
        return 1;
    }
    onServing();
    bool alive = true;
    std::unique_lock lock(mutex);
    while (!replaced && alive) {
        changed.wait_for(lock, std::chrono::seconds(1));
        lock.unlock();
        session->call([&] { alive = channel->usable(); });
        lock.lock();
    }
    lock.unlock();
    session->call([&] { channel.reset(); });
    return 0;
}

void ClipboardWayland::onFetched(std::uint64_t source) {
    std::lock_guard lock(mutex_);
    if (watching_ && source == lineSource_) {
        fetched_ = true;
        changed_.notify_all();
    }
}

void ClipboardWayland::onCancelled(std::uint64_t source) {
    std::lock_guard lock(mutex_);
    if (source == putBackSource_) {
        putBack_.reset();
    }
    lineLost_ = lineLost_ || source == lineSource_;
    if (watching_ && source == lineSource_) {
        lostOwnership_ = true;
        changed_.notify_all();
    }
}

}  // namespace quillet
