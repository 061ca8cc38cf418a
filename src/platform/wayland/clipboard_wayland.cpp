#include "platform/wayland/clipboard_wayland.h"

#include "platform/clipboard_keeper.h"

#include "platform/wayland/data_control.h"
#include "platform/wayland/owned.h"
#include "platform/wayland/session.h"

#include <QString>

#include <array>

#include <fcntl.h>
#include <unistd.h>
#include <wayland-client-core.h>

namespace quillet {

namespace {

using clipboard::Fetched;
using Outcome = Fetched::Outcome;
using wayland::Formats;
using wayland::SelectionChannel;
using wayland::UniqueFd;

// One read of the clipboard, under the limits of the whole read.
class Reading {
public:
    Reading(wayland::Session& session, SelectionChannel& channel,
            const clipboard::ReadLimits& limits, const std::atomic<bool>& cancelled)
        : session_(session), channel_(channel), budget_(limits, cancelled) {}

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
                return clipboard::failedRead(Outcome::NoAnswer);
            }
            const std::vector<std::string>& types = selection.mimeTypes;
            if (types.empty()) {
                return {};
            }
            if (auto read = clipboard::readOffered(types, budget_, [&](std::size_t i) {
                    return fetch(selection.generation, types[i]);
                })) {
                return std::move(*read);
            }
            if (budget_.timeUp()) {
                return clipboard::failedRead(Outcome::NoAnswer);
            }
        }
    }

private:
    // Asks the owner for one type and takes in its data, whole, from a pipe.
    Fetched fetch(std::uint64_t generation, const std::string& type) {
        std::array<int, 2> ends{};
        if (pipe2(ends.data(), O_CLOEXEC) != 0) {
            return {Outcome::NoAnswer};
        }
        UniqueFd readEnd(ends[0]);
        UniqueFd writeEnd(ends[1]);
        bool asked = false;
        session_.call([&] { asked = channel_.receive(generation, type, writeEnd.get()); });
        // The request carried a copy of it: the owner closing that one ends the data.
        writeEnd.reset();
        if (!asked) {
            return {Outcome::Changed};
        }

        return clipboard::drainPipe(readEnd.get(), budget_);
    }

    wayland::Session& session_;
    SelectionChannel& channel_;
    clipboard::ReadBudget budget_;
};

}  // namespace

ClipboardWayland::ClipboardWayland(std::shared_ptr<wayland::Session> session)
    : ClipboardWayland(std::move(session), Limits{}) {}

ClipboardWayland::ClipboardWayland(std::shared_ptr<wayland::Session> session, Limits limits)
    : session_(std::move(session)), limits_(limits) {
    session_->call([this] {
        channel_ = wayland::openSelectionChannel(
            *session_,
            {[this](std::uint64_t source, const std::string& type) { onSending(source, type); },
             [this](std::uint64_t source, const std::string& type, bool whole) {
                 onSent(source, type, whole);
             },
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
        return clipboard::failedRead(Outcome::NoAnswer);
    }
    std::optional<ClipboardContent> ours;
    session_->call([&] {
        // A copy made just before the press ends our ownership with an event
        // that may still be on its way: the compositor sent it before it
        // answers this.
        wl_display_roundtrip(session_->display());
        ours = state_.read([](const State& state) { return state.putBack; });
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
        state_.change([&](State& state) {
            state.putBack.reset();
            state.lineSource = source;
            state.lineLost = false;
        });
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
        lineLost = state_.read([](const State& state) { return state.lineLost; });
    });
    if (lineLost && clipboard::theirsStays(
                        Reading(*session_, *channel_, limits_, cancelled_).content(), line_)) {
        return true;
    }
    bool restored = false;
    session_->call([&] {
        if (!channel_->usable()) {
            return;
        }
        const std::uint64_t source = channel_->offer(clipboard::putBackFormats(content));
        state_.change([&](State& state) {
            // An empty clipboard comes back empty, with nothing of ours to remember.
            state.putBack.reset();
            if (source != 0) {
                state.putBack = content;
                state.putBackSource = source;
            }
        });
        restored = true;
    });
    return restored;
}

void ClipboardWayland::arm() {
    state_.change([](State& state) { state.watch.arm(state.lineSource); });
}

FetchResult ClipboardWayland::waitForFetch(std::chrono::milliseconds deadline) {
    return clipboard::awaitFetch(state_, deadline);
}

bool ClipboardWayland::keepAfterQuit() {
    std::optional<ClipboardContent> kept;
    session_->call([&] {
        // Somebody may have copied a moment ago: the news comes before this answer.
        wl_display_roundtrip(session_->display());
        kept = state_.read([](const State& state) { return state.putBack; });
    });
    return !kept || startKeeper(*kept, "wayland");
}

int ClipboardWayland::keep(const ClipboardContent& content,
                           const std::function<void()>& onServing) {
    const std::shared_ptr<wayland::Session> session = wayland::Session::connect();
    if (!session || !supported(*session)) {
        return 1;
    }
    Handoff<bool> replaced(false);
    std::uint64_t source = 0;
    std::unique_ptr<SelectionChannel> channel;
    session->call([&] {
        channel = wayland::openSelectionChannel(
            *session, {[](std::uint64_t, const std::string&) {},
                       [](std::uint64_t, const std::string&, bool) {},
                       [&](std::uint64_t cancelled) {
                           replaced.change([&](bool& gone) { gone = gone || cancelled == source; });
                       }});
        if (channel) {
            source = channel->offer(clipboard::putBackFormats(content));
            // The compositor has the selection once it answers.
            wl_display_roundtrip(session->display());
        }
    });
    if (source == 0) {
        return 1;
    }
    onServing();
    bool alive = true;
    while (alive && !replaced.waitFor(std::chrono::seconds(1), [](bool gone) { return gone; })) {
        session->call([&] { alive = channel->usable(); });
    }
    session->call([&] { channel.reset(); });
    return 0;
}

void ClipboardWayland::onSending(std::uint64_t source, const std::string& type) {
    if (clipboard::isTextFormat(type)) {
        state_.change([&](State& state) { state.watch.began(source); });
    }
}

void ClipboardWayland::onSent(std::uint64_t source, const std::string& type, bool whole) {
    if (clipboard::isTextFormat(type)) {
        state_.change([&](State& state) { state.watch.ended(source, whole); });
    }
}

void ClipboardWayland::onCancelled(std::uint64_t source) {
    state_.change([&](State& state) {
        if (source == state.putBackSource) {
            state.putBack.reset();
        }
        state.lineLost = state.lineLost || source == state.lineSource;
        state.watch.lost(source);
    });
}

}  // namespace quillet
