#include "platform/clipboard_rules.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace quillet::clipboard {

namespace {

using Clock = std::chrono::steady_clock;
using Outcome = Fetched::Outcome;

bool failsTheRead(Outcome outcome) {
    return outcome == Outcome::NoAnswer || outcome == Outcome::TooLarge;
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool isUtf8TextFormat(std::string_view name) {
    return equalsIgnoringCase(name, "text/plain;charset=utf-8") || name == "UTF8_STRING" ||
           name == "text/plain";
}

bool isTextFormat(std::string_view name) {
    return equalsIgnoringCase(name.substr(0, 10), "text/plain") || name == "UTF8_STRING" ||
           name == "TEXT" || name == "STRING";
}

bool isKeptFormat(std::string_view name) {
    const bool mark = std::any_of(std::begin(kHistoryMarks), std::end(kHistoryMarks),
                                  [&](const HistoryMark& m) { return name == m.format; });
    if (mark || name == "UTF8_STRING") {
        return true;
    }
    return name.find('/') != std::string_view::npos && !name.starts_with("application/x-qt-image");
}

ReadBudget::ReadBudget(const ReadLimits& limits, const std::atomic<bool>& cancelled)
    : end_(Clock::now() + limits.deadline), left_(limits.maxBytes), cancelled_(cancelled) {}

bool ReadBudget::timeUp() const {
    return Clock::now() >= end_;
}

int ReadBudget::nextWait() const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now());
    if (cancelled_ || left.count() <= 0) {
        return 0;
    }
    return static_cast<int>(std::min<std::int64_t>(left.count(), 50));
}

ClipboardRead failedRead(Outcome outcome) {
    return ClipboardRead{outcome == Outcome::TooLarge ? ClipboardRead::Status::TooLarge
                                                      : ClipboardRead::Status::NoAnswer,
                         {}};
}

std::optional<ClipboardRead> readOffered(const std::vector<std::string>& offered,
                                         ReadBudget& budget,
                                         const std::function<Fetched(std::size_t)>& fetch) {
    ClipboardContent content;
    std::optional<QByteArray> utf8;
    for (const std::string_view wanted : kTextFormats) {
        const auto at = std::find_if(offered.begin(), offered.end(), [&](const std::string& name) {
            return equalsIgnoringCase(name, wanted);
        });
        if (at == offered.end()) {
            continue;
        }
        Fetched text = fetch(static_cast<std::size_t>(at - offered.begin()));
        if (text.outcome == Outcome::Changed) {
            return std::nullopt;
        }
        if (failsTheRead(text.outcome)) {
            return failedRead(text.outcome);
        }
        if (text.outcome == Outcome::Refused) {
            continue;
        }
        budget.spend(text.bytes.size());
        if (text.latin1.value_or(wanted == "STRING")) {
            content.text = QString::fromLatin1(text.bytes);
        } else {
            content.text = QString::fromUtf8(text.bytes);
            utf8 = std::move(text.bytes);
        }
        break;
    }

    for (std::size_t i = 0; i < offered.size(); ++i) {
        const std::string& name = offered[i];
        const QString format = QString::fromStdString(name);
        const bool seen = std::any_of(content.formats.begin(), content.formats.end(),
                                      [&](const auto& kept) { return kept.first == format; });
        if (seen || !isKeptFormat(name)) {
            continue;
        }
        if (utf8 && isUtf8TextFormat(name)) {
            content.formats.emplace_back(format, *utf8);
            continue;
        }
        Fetched data = fetch(i);
        if (data.outcome == Outcome::Changed) {
            return std::nullopt;
        }
        // The text is in: what did not come by the deadline is left out, and
        // so is everything after it, as the time is up.
        if (data.outcome == Outcome::NoAnswer && !budget.cancelled()) {
            return ClipboardRead{ClipboardRead::Status::Read, std::move(content), false, true};
        }
        if (failsTheRead(data.outcome)) {
            return failedRead(data.outcome);
        }
        if (data.outcome == Outcome::Done) {
            budget.spend(data.bytes.size());
            content.formats.emplace_back(format, std::move(data.bytes));
        }
    }
    return ClipboardRead{ClipboardRead::Status::Read, std::move(content)};
}

std::optional<QByteArray> utf8Text(const ClipboardContent& content) {
    for (const std::string_view name : kTextFormats) {
        if (!isUtf8TextFormat(name)) {
            continue;
        }
        const auto at = std::find_if(
            content.formats.begin(), content.formats.end(),
            [&](const auto& kept) { return equalsIgnoringCase(kept.first.toStdString(), name); });
        if (at != content.formats.end()) {
            return at->second;
        }
    }
    if (content.text.isEmpty()) {
        return std::nullopt;
    }
    return content.text.toUtf8();
}

std::vector<std::pair<std::string, QByteArray>> putBackFormats(const ClipboardContent& content) {
    std::vector<std::pair<std::string, QByteArray>> formats;
    bool hasText = false;
    for (const auto& [format, bytes] : content.formats) {
        formats.emplace_back(format.toStdString(), bytes);
        hasText = hasText || isUtf8TextFormat(formats.back().first);
    }
    // The text alone, as a read of an owner that offered only Latin-1 gives it.
    if (!hasText && !content.text.isEmpty()) {
        const QByteArray utf8 = content.text.toUtf8();
        formats.emplace_back("text/plain;charset=utf-8", utf8);
        formats.emplace_back("text/plain", utf8);
    }
    return formats;
}

bool theirsStays(const ClipboardRead& now, const QString& line) {
    // Too much to be the line. Without an answer a stalled manager that holds
    // the line cannot be told from a new copy: ours comes back.
    return now.status == ClipboardRead::Status::TooLarge ||
           (now.status == ClipboardRead::Status::Read && now.content.text != line);
}

bool sameData(const ClipboardContent& a, const ClipboardContent& b) {
    const auto same = [](const auto& x, const auto& y) {
        return x.constData() == y.constData() && x.size() == y.size();
    };
    return same(a.text, b.text) && std::equal(a.formats.begin(), a.formats.end(), b.formats.begin(),
                                              b.formats.end(), [&](const auto& x, const auto& y) {
                                                  return x.first == y.first &&
                                                         same(x.second, y.second);
                                              });
}

void FetchWatch::arm(std::uint64_t offer) {
    watched_ = offer;
    fetched_ = false;
    lost_ = false;
    inFlight_ = 0;
}

void FetchWatch::delivered(std::uint64_t offer) {
    fetched_ = fetched_ || (watched_ != 0 && offer == watched_);
}

void FetchWatch::began(std::uint64_t offer) {
    inFlight_ += watched_ != 0 && offer == watched_ ? 1 : 0;
}

void FetchWatch::ended(std::uint64_t offer, bool whole) {
    if (watched_ != 0 && offer == watched_) {
        inFlight_ = std::max(inFlight_ - 1, 0);
        fetched_ = fetched_ || whole;
    }
}

void FetchWatch::lost(std::uint64_t offer) {
    lost_ = lost_ || (watched_ != 0 && offer == watched_);
}

FetchResult FetchWatch::result() const {
    if (fetched_) {
        return FetchResult::Fetched;
    }
    // A transfer still under way may yet bring the line.
    return lost_ || closed_ || watched_ == 0 || inFlight_ > 0 ? FetchResult::Unknown
                                                              : FetchResult::NotFetched;
}

Fetched drainPipe(int fd, const ReadBudget& budget) {
    Fetched fetched{Fetched::Outcome::Done};
    std::array<char, 64 * 1024> chunk{};
    for (;;) {
        const int wait = budget.nextWait();
        if (wait == 0) {
            return {Fetched::Outcome::NoAnswer};
        }
        pollfd in{fd, POLLIN, 0};
        if (poll(&in, 1, wait) <= 0) {
            continue;
        }
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n == 0) {
            return fetched;
        }
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return {Fetched::Outcome::NoAnswer};
        }
        if (!budget.fits(fetched.bytes.size() + n)) {
            return {Fetched::Outcome::TooLarge};
        }
        fetched.bytes.append(chunk.data(), n);
    }
}

}  // namespace quillet::clipboard
