#include "platform/x11/clipboard_x11.h"

#include "platform/clipboard_keeper.h"
#include "platform/clipboard_rules.h"

namespace quillet {

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
    if (!owner_.holds(lineClaim_) && clipboard::theirsStays(reader_.read(), line_)) {
        std::lock_guard lock(mutex_);
        putBack_.reset();
        return true;
    }
    std::lock_guard lock(mutex_);
    if (!putBack_ || !clipboard::sameData(*putBack_, content)) {
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
    // An empty clipboard put back stays empty without us.
    if (!putBack_ || putBackTargets_.empty() || !owner_.holds(putBackClaim_)) {
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
