#pragma once

#include "core/handoff.h"
#include "platform/clipboard_rules.h"
#include "platform/gnome/remote_desktop.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillet {

// The clipboard on GNOME through a remote-desktop session that is never
// started: it may use the clipboard, shows no indicator, and ends with its
// bus connection. The worker reads and offers with blocking calls; a thread
// of its own (gnome-clipboard) hears the session's signals and serves what
// we offer, so neither the UI thread nor the worker has to be free for it.
// A session ended from outside is made anew at the next use.
class ClipboardGnome final : public Clipboard {
public:
    using Limits = clipboard::ReadLimits;

    explicit ClipboardGnome(gnome::RemoteDesktopFactory sessions, Limits limits = {});
    ~ClipboardGnome() override;
    ClipboardGnome(const ClipboardGnome&) = delete;
    ClipboardGnome& operator=(const ClipboardGnome&) = delete;

    // Sessions of mutter's own API on a connection of their own.
    static gnome::RemoteDesktopFactory mutterSessions();

    ClipboardRead read() override;
    void cancelReads() override { cancelled_ = true; }
    bool quitting() const override { return cancelled_; }
    bool writeLine(const QString& line) override;
    bool restore(const ClipboardContent& content) override;

    void arm() override;
    FetchResult waitForFetch(std::chrono::milliseconds deadline) override;
    bool keepAfterQuit() override;

    // The keeper's part: serves the content until another program copies or
    // the session ends. onServing runs once the clipboard is ours; the exit status.
    static int keep(const ClipboardContent& content, const std::function<void()>& onServing);

private:
    using Formats = std::vector<std::pair<std::string, QByteArray>>;

    struct State {
        bool closed = true;            // no session, or it ended
        QStringList offered;           // what the owner offers, when it is not us
        std::uint64_t generation = 0;  // counts the owners
        Formats serving;               // what we offer
        std::uint64_t offer = 0;       // the id of our latest offer
        std::uint64_t owned = 0;       // the offer the desktop confirmed as the owner
        std::uint64_t lineOffer = 0;   // what writeLine offered
        bool lineLost = false;         // somebody else took the clipboard since
        clipboard::FetchWatch watch;
        // What we put back, for as long as we still own it.
        std::optional<ClipboardContent> putBack;
        std::uint64_t putBackOffer = 0;
    };

    // Paste worker. The session, with whatever it heard before this call
    // taken in; made anew where it ended.
    std::shared_ptr<gnome::RemoteDesktop> session();
    std::shared_ptr<gnome::RemoteDesktop> current();
    bool sync(gnome::RemoteDesktop& session);
    std::uint64_t offer(Formats formats);
    ClipboardRead readOwner();
    clipboard::Fetched fetch(gnome::RemoteDesktop& session, std::uint64_t generation,
                             const QString& type, clipboard::ReadBudget& budget);
    void broken();

    // Signal thread.
    void onClosed();
    void onOwnerChanged(const QStringList& mimeTypes, bool ours);
    void onTransfer(const QString& mimeType, uint serial);

    gnome::RemoteDesktopFactory sessions_;
    const Limits limits_;
    QThread signals_;
    std::unique_ptr<gnome::SignalRelay> relay_;  // lives on signals_
    std::mutex remakeMutex_;                     // one caller makes a session at a time
    std::mutex currentMutex_;                    // held only to take or swap the pointer
    std::shared_ptr<gnome::RemoteDesktop> session_;
    std::atomic<bool> cancelled_{false};
    QString line_;  // the paste worker's: the line last written
    Handoff<State> state_;
};

}  // namespace quillet
