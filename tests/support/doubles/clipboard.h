#pragma once

#include "doubles/guarded.h"
#include "platform/clipboard.h"

#include <QStringList>

#include <chrono>
#include <mutex>
#include <optional>

namespace quillet {

// A clipboard in memory that records the lines written to it, and a fetch
// watch whose answer the test chooses. After `writesAllowed` writes it
// refuses more, as the real one does once the program is quitting; with
// `refuseLines` or `refuseRestores` it cannot take the clipboard.
class FakeClipboard final : public Clipboard, private Guarded {
public:
    ClipboardRead read() override {
        std::lock_guard lock(mutex_);
        if (readFailure_) {
            return ClipboardRead{*readFailure_, {}};
        }
        return ClipboardRead{ClipboardRead::Status::Read, content_, false, partialReads};
    }

    void cancelReads() override { setReadFailure(ClipboardRead::Status::NoAnswer); }

    bool writeLine(const QString& line) override {
        std::lock_guard lock(mutex_);
        if (writesAllowed == 0 || refuseLines) {
            return false;
        }
        writesAllowed -= writesAllowed > 0 ? 1 : 0;
        content_ = ClipboardContent{line, {{QStringLiteral("text/plain"), line.toUtf8()}}};
        writtenLines_.append(line);
        waitsForFetch_ = 0;
        return true;
    }

    bool restore(const ClipboardContent& content) override {
        std::lock_guard lock(mutex_);
        if (writesAllowed == 0 || refuseRestores) {
            return false;
        }
        writesAllowed -= writesAllowed > 0 ? 1 : 0;
        content_ = content;
        ++restores_;
        return true;
    }

    bool quitting() const override {
        return locked([&] { return writesAllowed == 0; });
    }

    std::chrono::milliseconds settleTime() const override { return settle; }
    void arm() override {
        std::lock_guard lock(mutex_);
        ++arms_;
    }

    std::function<void()> onWaitForFetch;  // the paste worker, before each wait

    // Each line is fetched `fetchesPerLine` times; then nobody asks.
    FetchResult waitForFetch(std::chrono::milliseconds /*deadline*/) override {
        if (onWaitForFetch) {
            onWaitForFetch();
        }
        std::lock_guard lock(mutex_);
        ++waitsForFetch_;
        return waitsForFetch_ <= fetchesPerLine ? fetchResult_ : FetchResult::NotFetched;
    }

    // What another program copied.
    void copy(const QString& text) {
        std::lock_guard lock(mutex_);
        content_ = ClipboardContent{text, {{QStringLiteral("text/plain"), text.toUtf8()}}};
    }
    void setContent(const ClipboardContent& content) { assign(content_, content); }
    // Reads fail this way until cleared with nullopt.
    void setReadFailure(std::optional<ClipboardRead::Status> failure) {
        assign(readFailure_, failure);
    }
    // What the clipboard holds, without counting as a read.
    ClipboardContent content() const { return locked(content_); }
    void setFetchResult(FetchResult result) { assign(fetchResult_, result); }
    QStringList writtenLines() const { return locked(writtenLines_); }
    int restoreCount() const { return locked(restores_); }
    int armCount() const { return locked(arms_); }

private:
    ClipboardContent content_;
    std::optional<ClipboardRead::Status> readFailure_;
    QStringList writtenLines_;
    FetchResult fetchResult_ = FetchResult::Fetched;
    int restores_ = 0;
    int arms_ = 0;
    int waitsForFetch_ = 0;

public:
    int writesAllowed = -1;  // negative: no limit
    bool refuseLines = false;
    bool refuseRestores = false;
    bool partialReads = false;  // reads come without some formats
    std::chrono::milliseconds settle{0};
    int fetchesPerLine = 1;
};

}  // namespace quillet
