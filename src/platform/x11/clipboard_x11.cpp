#include "platform/x11/clipboard_x11.h"

#include "platform/clipboard_keeper.h"

#include <algorithm>

namespace quillet {

namespace {

// Whether both hold the very same data, shared rather than merely equal: a
// copy read once and put back after press after press.
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

}  // namespace

ClipboardX11::ClipboardX11() : ClipboardX11(SelectionOwnerX11::Limits{}) {}

ClipboardX11::ClipboardX11(SelectionOwnerX11::Limits limits) : owner_(limits) {}

ClipboardX11::~ClipboardX11() = default;

ClipboardRead ClipboardX11::read() {
    std::optional<ClipboardContent> ours;
    std::uint64_t claim = 0;
    {
        std::lock_guard lock(mutex_);
        ours = putBack_;
        claim = putBackClaim_;
    }
    // Another program may have copied a moment ago, before the news reached
    // our owner's thread: the server knows.
    if (ours && owner_.holds(claim)) {
        return ClipboardRead{ClipboardRead::Status::Read, std::move(*ours), true};
    }
    return reader_.read();
}

void ClipboardX11::cancelReads() {
    cancelled_ = true;
    reader_.cancel();
}

bool ClipboardX11::writeLine(const QString& line) {
    if (cancelled_) {
        return false;
    }
    line_ = line;
    const QByteArray utf8 = line.toUtf8();
    ClipboardContent content{
        line,
        {{QStringLiteral("text/plain;charset=utf-8"), utf8}, {QStringLiteral("text/plain"), utf8}}};
    for (const HistoryMark& mark : kHistoryMarks) {
        content.formats.emplace_back(QString::fromLatin1(mark.format), QByteArray(mark.value));
    }
    // A line the clipboard never took must not be pasted: the chord would
    // paste whatever is there instead.
    lineClaim_ = owner_.claim(selectionTargets(content));
    return lineClaim_ != 0;
}

bool ClipboardX11::restore(const ClipboardContent& content) {
    if (cancelled_) {
        return false;
    }
    // Somebody copied after the line went out: that copy is the user's
    // newest and stays. A clipboard manager that took the line over holds
    // the line itself, and the old copy comes back as usual.
    if (!owner_.holds(lineClaim_)) {
        const ClipboardRead now = reader_.read();
        if (now.status == ClipboardRead::Status::Read && now.content.text != line_) {
            std::lock_guard lock(mutex_);
            putBack_.reset();
            return true;
        }
    }
    std::lock_guard lock(mutex_);
    if (!putBack_ || !sameData(*putBack_, content)) {
        putBackTargets_ = selectionTargets(content);
    }
    putBackClaim_ = owner_.claim(putBackTargets_);
    putBack_.reset();
    if (putBackClaim_ == 0) {
        return false;
    }
    putBack_ = content;
    return true;
}

void ClipboardX11::arm() {
    owner_.watch(lineClaim_);
}

FetchResult ClipboardX11::waitForFetch(std::chrono::milliseconds deadline) {
    return owner_.waitForTransfer(deadline);
}

bool ClipboardX11::keepAfterQuit() {
    std::lock_guard lock(mutex_);
    if (!putBack_ || !owner_.holds(putBackClaim_)) {
        return true;
    }
    return startKeeper(*putBack_, "x11");
}

int ClipboardX11::keep(const ClipboardContent& content, const std::function<void()>& onServing) {
    SelectionOwnerX11 owner;
    if (owner.claim(selectionTargets(content)) == 0) {
        return 1;
    }
    onServing();
    owner.waitUntilReplaced();
    return 0;
}

}  // namespace quillet
