#pragma once

#include "platform/clipboard.h"
#include "platform/main_queue.h"
#include "platform/x11/selection_reader_x11.h"

#include <QAbstractNativeEventFilter>

#include <memory>

#include <condition_variable>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>

struct xcb_connection_t;

class QEventLoop;
class QMimeData;

namespace quillet {

// Writes go through QClipboard on the UI thread; reads through a connection
// of their own, or from memory while we still own what we put back. Whether a
// line was fetched is seen in the selection requests other X clients send us.
class ClipboardX11 final : public Clipboard, private QAbstractNativeEventFilter {
public:
    // Needs a QGuiApplication; on a non-X11 platform the watch answers Unknown.
    // Writes hop to the UI thread through mainQueue.
    explicit ClipboardX11(MainQueue& mainQueue);
    ~ClipboardX11() override;
    ClipboardX11(const ClipboardX11&) = delete;
    ClipboardX11& operator=(const ClipboardX11&) = delete;

    ClipboardRead read() override;
    void cancelReads() override { reader_.cancel(); }
    bool writeLine(const QString& line) override;
    bool restore(const ClipboardContent& content) override;

    // Other clients hear of the new owner through the server, and a
    // clipboard manager may grab it back in between: give them a moment.
    std::chrono::milliseconds settleTime() const override { return std::chrono::milliseconds{50}; }
    void arm() override;
    FetchResult waitForFetch(std::chrono::milliseconds deadline) override;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    // UI thread: hands Qt the content until the server says the clipboard
    // is ours; false when it never did.
    bool claim(const std::function<std::unique_ptr<QMimeData>()>& content);
    void keepPutBack(const ClipboardContent& content);
    // Asks the server, from any thread, whether one of Qt's windows owns the clipboard.
    bool ownsClipboard() const;
    void refreshServerTime();

    MainQueue& mainQueue_;
    xcb_connection_t* connection_ = nullptr;  // Qt's; xcb may be used from any thread
    std::uint32_t clipboardAtom_ = 0;
    std::uint32_t targetsAtom_ = 0;
    std::uint32_t timestampAtom_ = 0;
    std::uint32_t clockAtom_ = 0;
    QEventLoop* clockWait_ = nullptr;  // UI thread only
    SelectionReaderX11 reader_;        // the paste worker's
    QString line_;                     // the paste worker's: the line last written

    std::mutex mutex_;
    std::condition_variable changed_;
    bool watching_ = false;
    bool fetched_ = false;
    bool lostOwnership_ = false;
    // What we put back, for as long as the clipboard is still ours: reading
    // it through the server would have our UI thread serve it to ourselves.
    std::optional<ClipboardContent> putBack_;
};

}  // namespace quillet
