#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillet::wayland {

class Session;

using Formats = std::vector<std::pair<std::string, QByteArray>>;

// The clipboard through a data-control protocol: ext-data-control-v1 where
// the compositor offers it, else wlr-data-control-unstable-v1. Neither needs
// a focused surface. Loop thread only.
class SelectionChannel {
public:
    struct Selection {
        std::uint64_t generation = 0;        // changes with every new selection
        std::vector<std::string> mimeTypes;  // empty: nothing on the clipboard
    };
    // What happens to the sources we offered, by the id offer() gave them.
    struct Events {
        // A reader asked for one of the source's types: its data goes out,
        // and has gone out whole or was given up.
        std::function<void(std::uint64_t source, const std::string& type)> sending;
        std::function<void(std::uint64_t source, const std::string& type, bool whole)> sent;
        std::function<void(std::uint64_t source)> cancelled;  // another program took over
    };

    virtual ~SelectionChannel() = default;

    virtual Selection selection() const = 0;
    // Asks the owner to write the data of one type into fd; false, with
    // nothing asked, when the selection is no longer that generation.
    virtual bool receive(std::uint64_t generation, const std::string& mimeType, int fd) = 0;
    // Puts these formats on the clipboard, served from memory; returns the
    // source's id. Empty formats clear the clipboard and return 0.
    virtual std::uint64_t offer(Formats formats) = 0;
    // False once the compositor ended the device (its seat went away).
    virtual bool usable() const = 0;
};

// Null when the compositor offers neither protocol or has no seat.
std::unique_ptr<SelectionChannel> openSelectionChannel(Session& session,
                                                       SelectionChannel::Events events);
bool dataControlOffered(const Session& session);

}  // namespace quillet::wayland
