#pragma once

#include "platform/clipboard.h"

#include <QByteArray>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillet {

// One form in which the clipboard is offered: the X target a program asks
// for, the type its data goes out as, and whether it is the text itself.
struct SelectionTarget {
    std::string name;
    std::string type;
    QByteArray bytes;
    bool text = false;
};
using SelectionTargets = std::vector<SelectionTarget>;

// Every format byte for byte, and the text under the names X programs ask
// for it by besides (STRING only where it fits in Latin-1).
SelectionTargets selectionTargets(const ClipboardContent& content);

// The CLIPBOARD selection served by this program on an xcb connection and
// thread of its own, so that no other thread is ever needed to answer.
// Each claim is kept for a while: a request is answered with what the
// clipboard held at the time the request names, so a target that asks late
// with the time of its key press still gets the line, and a transfer once
// begun goes on with the data it began with. Long data goes in pieces
// (INCR). A line whose deadline passed unfetched is refused from then on.
class SelectionOwnerX11 {
public:
    struct Limits {
        // Longer data goes in pieces of this size.
        std::size_t piece = 256 * 1024;
        // Longest a requestor may take to ask for the next piece.
        std::chrono::milliseconds quiet{5000};
    };

    SelectionOwnerX11();
    explicit SelectionOwnerX11(Limits limits);
    ~SelectionOwnerX11();
    SelectionOwnerX11(const SelectionOwnerX11&) = delete;
    SelectionOwnerX11& operator=(const SelectionOwnerX11&) = delete;

    // Any thread. Takes the clipboard for these targets with a fresh server
    // time; the claim's id, 0 when the server did not give it to us.
    std::uint64_t claim(SelectionTargets targets);
    // Any thread: whether the clipboard is ours with this claim, as the
    // server says now.
    bool holds(std::uint64_t claim);

    // Counts the text of this claim reaching a requestor from now on.
    void watch(std::uint64_t claim);
    // Until the watched claim's text has reached a requestor whole (a begun
    // transfer may finish past the deadline), another client took the
    // clipboard, or the deadline passed. Unfetched, the claim is refused to
    // every later request.
    FetchResult waitForTransfer(std::chrono::milliseconds deadline);

    // Until another client holds the clipboard and every transfer begun
    // before is over, or the connection ended.
    void waitUntilReplaced();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillet
