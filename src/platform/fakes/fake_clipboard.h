#pragma once

#include "platform/clipboard.h"

#include <QStringList>

#include <mutex>
#include <optional>

namespace quillet {

// A clipboard in memory that records the lines written to it, and a fetch
// watch whose answer the test chooses.
class FakeClipboard final : public Clipboard {
public:
    ClipboardRead read() override {
        std::lock_guard lock(mutex_);
        if (readFailure_) {
            return ClipboardRead{*readFailure_, {}};
        }
        return ClipboardRead{ClipboardRead::Status::Read, content_};
    }

    void cancelReads() override { setReadFailure(ClipboardRead::Status::NoAnswer); }

    void writeLine(const QString& line) override {
        std::lock_guard lock(mutex_);
        content_ = ClipboardContent{line, {{QStringLiteral("text/plain"), line.toUtf8()}}};
        writtenLines_.append(line);
    }

    void restore(const ClipboardContent& content) override {
        std::lock_guard lock(mutex_);
        content_ = content;
        ++restores_;
    }

    void arm() override {
        std::lock_guard lock(mutex_);
        ++arms_;
    }

    FetchResult waitForFetch(std::chrono::milliseconds /*deadline*/) override {
        std::lock_guard lock(mutex_);
        return fetchResult_;
    }

    // What another program copied.
    void copy(const QString& text) {
        std::lock_guard lock(mutex_);
        content_ = ClipboardContent{text, {{QStringLiteral("text/plain"), text.toUtf8()}}};
    }
    void setContent(const ClipboardContent& content) {
        std::lock_guard lock(mutex_);
        content_ = content;
    }
    // Reads fail this way until cleared with nullopt.
    void setReadFailure(std::optional<ClipboardRead::Status> failure) {
        std::lock_guard lock(mutex_);
        readFailure_ = failure;
    }
    // What the clipboard holds, without counting as a read.
    ClipboardContent content() const {
        std::lock_guard lock(mutex_);
        return content_;
    }
    void setFetchResult(FetchResult result) {
        std::lock_guard lock(mutex_);
        fetchResult_ = result;
    }
    QStringList writtenLines() const {
        std::lock_guard lock(mutex_);
        return writtenLines_;
    }
    int restoreCount() const {
        std::lock_guard lock(mutex_);
        return restores_;
    }
    int armCount() const {
        std::lock_guard lock(mutex_);
        return arms_;
    }

private:
    mutable std::mutex mutex_;
    ClipboardContent content_;
    std::optional<ClipboardRead::Status> readFailure_;
    QStringList writtenLines_;
    FetchResult fetchResult_ = FetchResult::Fetched;
    int restores_ = 0;
    int arms_ = 0;
};

}  // namespace quillet
