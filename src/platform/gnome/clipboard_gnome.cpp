#include "platform/gnome/clipboard_gnome.h"

#include "platform/clipboard_keeper.h"

#include <QCoreApplication>

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace quillet {

namespace {

using clipboard::Fetched;
using Outcome = Fetched::Outcome;

// How long the desktop may take to confirm that we own the clipboard, and a
// program to take in what we serve it.
constexpr std::chrono::seconds kOwnDeadline{1};
constexpr std::chrono::seconds kServeDeadline{5};
// Mutter takes one read at a time and may still count the last one as running.
constexpr std::chrono::milliseconds kReadRetry{10};

bool busy(const QString& error) {
    return error.contains(QLatin1StringView("LimitsExceeded")) ||
           error.contains(QLatin1StringView("in parallel"));
}

// Writes all of it to the non-blocking pipe a reader drains, within the deadline.
bool writeAll(int fd, const QByteArray& bytes) {
    const auto end = std::chrono::steady_clock::now() + kServeDeadline;
    for (qsizetype written = 0; written < bytes.size();) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd out{fd, POLLOUT, 0};
        if (left.count() <= 0 || poll(&out, 1, static_cast<int>(left.count())) < 0) {
            return false;
        }
        const ssize_t n = ::write(fd, bytes.constData() + written,
                                  static_cast<std::size_t>(bytes.size() - written));
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            return false;
        }
        written += n > 0 ? n : 0;
    }
    return true;
}

}  // namespace

ClipboardGnome::ClipboardGnome(gnome::RemoteDesktopFactory sessions, Limits limits)
    : sessions_(std::move(sessions)), limits_(limits) {
    relay_ = std::make_unique<gnome::SignalRelay>(gnome::SessionEvents{
        [this] { onClosed(); },
        [this](const QStringList& types, bool ours) { onOwnerChanged(types, ours); },
        [this](const QString& type, uint serial) { onTransfer(type, serial); }});
    signals_.setObjectName(QStringLiteral("gnome-clipboard"));
    relay_->moveToThread(&signals_);
    signals_.start();
}

ClipboardGnome::~ClipboardGnome() {
    {
        std::lock_guard lock(currentMutex_);
        session_.reset();
    }
    signals_.quit();
    signals_.wait();
}

gnome::RemoteDesktopFactory ClipboardGnome::mutterSessions() {
    const QDBusConnection connection = QDBusConnection::connectToBus(
        QDBusConnection::SessionBus, QStringLiteral("quillet-gnome-clipboard"));
    return [connection](gnome::SignalRelay* relay) {
        return std::make_unique<gnome::MutterRemoteDesktop>(connection, relay);
    };
}

std::shared_ptr<gnome::RemoteDesktop> ClipboardGnome::current() {
    std::lock_guard lock(currentMutex_);
    return session_;
}

std::shared_ptr<gnome::RemoteDesktop> ClipboardGnome::session() {
    const std::lock_guard remaking(remakeMutex_);
    std::shared_ptr<gnome::RemoteDesktop> session = current();
    if (session && sync(*session) &&
        !state_.read([](const State& state) { return state.closed; })) {
        return session;
    }
    {
        const std::lock_guard lock(currentMutex_);
        session_.reset();
    }
    // Made anew: nothing of ours is on the clipboard any more.
    state_.change([](State& state) {
        state = State{};
        state.closed = false;
    });
    session = sessions_(relay_.get());
    if (!session->open() || !session->enableClipboard() || !sync(*session)) {
        state_.change([](State& state) { state.closed = true; });
        return nullptr;
    }
    const std::lock_guard lock(currentMutex_);
    session_ = session;
    return session;
}

bool ClipboardGnome::sync(gnome::RemoteDesktop& session) {
    if (!session.roundTrip()) {
        return false;
    }
    // The session's signals sent before the answer wait on the relay's thread.
    QMetaObject::invokeMethod(
        relay_.get(), [] {}, Qt::BlockingQueuedConnection);
    return true;
}

void ClipboardGnome::broken() {
    state_.change([](State& state) { state.closed = true; });
}

ClipboardRead ClipboardGnome::read() {
    if (cancelled_) {
        return clipboard::failedRead(Outcome::NoAnswer);
    }
    if (!session()) {
        return clipboard::failedRead(Outcome::NoAnswer);
    }
    std::optional<ClipboardContent> ours = state_.read([](const State& state) {
        return state.owned == state.offer ? state.putBack : std::nullopt;
    });
    if (ours) {
        return ClipboardRead{ClipboardRead::Status::Read, std::move(*ours), true};
    }
    return readOwner();
}

ClipboardRead ClipboardGnome::readOwner() {
    clipboard::ReadBudget budget(limits_, cancelled_);
    for (;;) {
        const std::shared_ptr<gnome::RemoteDesktop> session = this->session();
        if (!session) {
            return clipboard::failedRead(Outcome::NoAnswer);
        }
        const auto [types, generation, ours] = state_.read([](const State& state) {
            return std::tuple(state.offered, state.generation,
                              state.owned == state.offer && state.offer != 0);
        });
        // Our own line is at hand; what another program offers comes through the desktop.
        const Formats serving =
            ours ? state_.read([](const State& state) { return state.serving; }) : Formats{};
        std::vector<std::string> offered;
        for (const QString& type : types) {
            offered.push_back(type.toStdString());
        }
        if (ours) {
            offered.clear();
            for (const auto& [type, bytes] : serving) {
                offered.push_back(type);
            }
        }
        if (offered.empty()) {
            return {};
        }
        if (auto read = clipboard::readOffered(offered, budget, [&](std::size_t i) {
                return ours ? Fetched{Outcome::Done, serving[i].second}
                            : fetch(*session, generation, QString::fromStdString(offered[i]),
                                    budget);
            })) {
            return std::move(*read);
        }
        if (budget.timeUp()) {
            return clipboard::failedRead(Outcome::NoAnswer);
        }
    }
}

Fetched ClipboardGnome::fetch(gnome::RemoteDesktop& session, std::uint64_t generation,
                              const QString& type, clipboard::ReadBudget& budget) {
    std::optional<QDBusUnixFileDescriptor> pipe;
    while (!pipe) {
        const auto changed = [generation](const State& state) {
            return state.generation != generation || state.closed;
        };
        if (state_.read(changed)) {
            return {Outcome::Changed};
        }
        QString error;
        pipe = session.selectionRead(type, &error);
        if (!pipe && (!busy(error) || budget.nextWait() == 0)) {
            // Not one of the desktop's routine refusals: the session is suspect.
            if (!busy(error)) {
                broken();
            }
            return {Outcome::NoAnswer};
        }
        if (!pipe) {
            state_.waitFor(kReadRetry, changed);
        }
    }
    return clipboard::drainPipe(pipe->fileDescriptor(), budget);
}

std::uint64_t ClipboardGnome::offer(Formats formats) {
    QStringList types;
    for (const auto& [type, bytes] : formats) {
        types.append(QString::fromStdString(type));
    }
    // A session ended from outside is seen by the call failing: once more on a new one.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::shared_ptr<gnome::RemoteDesktop> session = this->session();
        if (!session) {
            continue;
        }
        const std::uint64_t id = state_.change([&](State& state) {
            state.serving = formats;
            state.putBack.reset();
            return ++state.offer;
        });
        if (!session->setSelection(types)) {
            broken();
            continue;
        }
        state_.waitFor(kOwnDeadline,
                       [id](const State& state) { return state.owned == id || state.closed; });
        return id;
    }
    return 0;
}

bool ClipboardGnome::writeLine(const QString& line) {
    if (cancelled_) {
        return false;
    }
    line_ = line;
    const QByteArray utf8 = line.toUtf8();
    Formats formats{{"text/plain;charset=utf-8", utf8}, {"text/plain", utf8}};
    // Clipboard histories that honour these marks skip the line.
    for (const HistoryMark& mark : kHistoryMarks) {
        formats.emplace_back(mark.format, QByteArray(mark.value));
    }
    const std::uint64_t id = offer(std::move(formats));
    state_.change([id](State& state) {
        state.lineOffer = id;
        state.lineLost = false;
    });
    return id != 0;
}

bool ClipboardGnome::restore(const ClipboardContent& content) {
    if (cancelled_) {
        return false;
    }
    const bool lineLost =
        session() && state_.read([](const State& state) { return state.lineLost; });
    if (lineLost && clipboard::theirsStays(readOwner(), line_)) {
        return true;
    }
    const Formats formats = clipboard::putBackFormats(content);
    if (formats.empty()) {
        // Mutter takes no empty offer: the line stays, as it would on a
        // clipboard nobody can empty.
        return true;
    }
    const std::uint64_t id = offer(formats);
    state_.change([&](State& state) {
        if (id != 0 && state.offer == id) {
            state.putBack = content;
            state.putBackOffer = id;
        }
    });
    return id != 0;
}

void ClipboardGnome::arm() {
    // Mutter's clipboard manager copies the text of every new owner as soon
    // as it is offered, before any key goes out: that copy, served by now, is
    // not a paste.
    if (const std::shared_ptr<gnome::RemoteDesktop> session = current()) {
        sync(*session);
    }
    state_.change([](State& state) { state.watch.arm(state.lineOffer); });
}

FetchResult ClipboardGnome::waitForFetch(std::chrono::milliseconds deadline) {
    return clipboard::awaitFetch(state_, deadline);
}

bool ClipboardGnome::keepAfterQuit() {
    const std::shared_ptr<gnome::RemoteDesktop> session = current();
    // Somebody may have copied a moment ago: the news comes before this answer.
    if (!session || !sync(*session)) {
        return true;
    }
    const std::optional<ClipboardContent> kept = state_.read([](const State& state) {
        return state.owned == state.putBackOffer && state.owned != 0 ? state.putBack : std::nullopt;
    });
    return !kept || startKeeper(*kept, "gnome");
}

int ClipboardGnome::keep(const ClipboardContent& content, const std::function<void()>& onServing) {
    // The bus needs an application object; its loop is not needed.
    int argc = 1;
    char name[] = "quillet";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);
    ClipboardGnome clipboard(mutterSessions());
    if (!clipboard.restore(content) ||
        !clipboard.state_.read([](const State& state) { return state.putBack.has_value(); })) {
        return 1;
    }
    onServing();
    // Until somebody copies, or the desktop is gone (the session ends with it).
    const auto over = [](const State& state) { return !state.putBack.has_value() || state.closed; };
    while (!clipboard.state_.waitFor(std::chrono::seconds(1), over)) {
        const std::shared_ptr<gnome::RemoteDesktop> session = clipboard.current();
        if (!session || !session->roundTrip()) {
            break;
        }
    }
    return 0;
}

void ClipboardGnome::onClosed() {
    state_.change([](State& state) {
        state.closed = true;
        state.putBack.reset();
        state.watch.close();
    });
}

void ClipboardGnome::onOwnerChanged(const QStringList& mimeTypes, bool ours) {
    state_.change([&](State& state) {
        if (ours) {
            state.owned = state.offer;
            return;
        }
        // Only an offer the desktop confirmed can be lost: news older than it
        // tells of an owner before it.
        const std::uint64_t lost = std::exchange(state.owned, 0);
        if (lost != 0) {
            state.lineLost = state.lineLost || lost == state.lineOffer;
            if (lost == state.putBackOffer) {
                state.putBack.reset();
            }
            state.watch.lost(lost);
        }
        state.offered = mimeTypes;
        ++state.generation;
    });
}

void ClipboardGnome::onTransfer(const QString& mimeType, uint serial) {
    const std::shared_ptr<gnome::RemoteDesktop> session = current();
    if (!session) {
        return;
    }
    const std::string type = mimeType.toStdString();
    const auto [bytes, offer] = state_.read([&](const State& state) {
        for (const auto& [format, data] : state.serving) {
            if (format == type) {
                return std::pair(std::optional<QByteArray>(data), state.offer);
            }
        }
        return std::pair(std::optional<QByteArray>(), state.offer);
    });
    const bool text = bytes && clipboard::isTextFormat(type);
    if (text) {
        state_.change([offer](State& state) { state.watch.began(offer); });
    }
    bool whole = false;
    if (bytes) {
        // Closed before the desktop hears that we are done.
        const std::optional<QDBusUnixFileDescriptor> pipe = session->selectionWrite(serial);
        whole = pipe && writeAll(pipe->fileDescriptor(), *bytes);
    }
    session->selectionWriteDone(serial, whole);
    if (text) {
        state_.change([offer, whole](State& state) { state.watch.ended(offer, whole); });
    }
}

}  // namespace quillet
