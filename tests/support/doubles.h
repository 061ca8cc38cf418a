#pragma once

// In-memory doubles of the platform services, for tests without a display.

#include "platform/active_window.h"
#include "platform/alerts.h"
#include "platform/autostart.h"
#include "platform/clipboard.h"
#include "platform/commands.h"
#include "platform/global_hotkey.h"
#include "platform/main_queue.h"
#include "platform/notifications.h"
#include "platform/paste_keystroke.h"
#include "platform/state_file.h"
#include "platform/tray.h"
#include "platform/ui_languages.h"
#include "platform/url_opener.h"

#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace quillet {

// One lock over a double's state, which tests read while a worker writes it.
class Guarded {
protected:
    // A copy of the member, or what the function makes of the state.
    template <typename T>
    auto locked(const T& member) const {
        std::lock_guard lock(mutex_);
        if constexpr (std::is_invocable_v<const T&>) {
            return member();
        } else {
            return T(member);
        }
    }
    template <typename T, typename V>
    void assign(T& member, V&& value) {
        std::lock_guard lock(mutex_);
        member = std::forward<V>(value);
    }

    mutable std::mutex mutex_;
};

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

    // Each line is fetched `fetchesPerLine` times; then nobody asks.
    FetchResult waitForFetch(std::chrono::milliseconds /*deadline*/) override {
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

// Holds a shortcut per action, none shared, like the real ones; shortcuts in
// `taken` belong to another program and cannot be grabbed.
class FakeGlobalHotkey final : public GlobalHotkey {
public:
    void setHandler(std::function<void(ShortcutAction)> onPress) override {
        onPress_ = std::move(onPress);
    }

    bool grab(ShortcutAction action, Shortcut shortcut) override {
        release(action);
        ++grabs_;
        const bool another = std::any_of(held_.begin(), held_.end(),
                                         [&](const auto& held) { return held == shortcut; });
        if (!grabbable || another ||
            std::find(taken.begin(), taken.end(), shortcut) != taken.end()) {
            return false;
        }
        held_[index(action)] = shortcut;
        return true;
    }

    void release(ShortcutAction action) override { held_[index(action)].reset(); }
    void releaseAll() override { held_ = {}; }
    bool canGrab() const override { return grabbable; }

    // A press of the combination: whichever action holds it fires.
    void press(Shortcut shortcut) const {
        for (const ShortcutAction action : kShortcutActions) {
            if (held_[index(action)] == shortcut && onPress_) {
                onPress_(action);
            }
        }
    }
    void press() const {
        if (held()) {
            press(*held());
        }
    }

    const std::optional<Shortcut>& held(ShortcutAction action = ShortcutAction::PasteNext) const {
        return held_[index(action)];
    }
    int grabs() const { return grabs_; }

    std::vector<Shortcut> taken;
    bool grabbable = true;  // false: a desktop where the shortcut is the desktop's

private:
    static std::size_t index(ShortcutAction action) { return static_cast<std::size_t>(action); }

    std::function<void(ShortcutAction)> onPress_;
    std::array<std::optional<Shortcut>, kShortcutActions.size()> held_;
    int grabs_ = 0;
};

// Keeps the menu as rows; a test reads them and chooses one as a user would.
class FakeTray final : public Tray {
public:
    void show() override { shown_ = true; }
    void setToolTip(const QString& text) override { toolTip_ = text; }
    void setMenu(std::vector<MenuRow> rows) override { rows_ = std::move(rows); }
    bool isAvailable() const override { return true; }

    bool shown() const { return shown_; }
    const QString& toolTip() const { return toolTip_; }
    const std::vector<MenuRow>& rows() const { return rows_; }

    // The row with this title, at any depth.
    const MenuRow* row(const QString& title) const { return findIn(rows_, title); }
    // Runs the row's command; false when there is no such row or it does nothing.
    bool choose(const QString& title) {
        const MenuRow* found = row(title);
        if (found == nullptr || !found->enabled || !found->onChosen) {
            return false;
        }
        // A copy: the command may replace the menu it came from.
        const auto onChosen = found->onChosen;
        onChosen();
        return true;
    }

private:
    static const MenuRow* findIn(const std::vector<MenuRow>& rows, const QString& title) {
        for (const MenuRow& row : rows) {
            if (row.title == title) {
                return &row;
            }
            if (const MenuRow* child = findIn(row.children, title)) {
                return child;
            }
        }
        return nullptr;
    }

    bool shown_ = false;
    QString toolTip_;
    std::vector<MenuRow> rows_;
};

class FixedUiLanguages final : public UiLanguages {
public:
    explicit FixedUiLanguages(QStringList languages = {QStringLiteral("en-US")})
        : languages_(std::move(languages)) {}
    QStringList preferred() const override { return languages_; }
    void set(QStringList languages) { languages_ = std::move(languages); }

private:
    QStringList languages_;
};

// A main queue whose posted tasks wait until the test runs them; synchronous
// submissions run at once, as they would on an idle UI thread.
class ManualMainQueue final : public MainQueue, private Guarded {
public:
    void post(Task task) override {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(task));
    }

    bool runSync(Task task) override {
        std::lock_guard lock(syncMutex_);
        if (shutDown_) {
            return false;
        }
        task();
        return true;
    }

    // Runs the posted tasks (and any they post) in order; returns how many ran.
    int runPending() {
        int ran = 0;
        for (;;) {
            Task task;
            {
                std::lock_guard lock(mutex_);
                if (pending_.empty()) {
                    return ran;
                }
                task = std::move(pending_.front());
                pending_.pop_front();
            }
            task();
            ++ran;
        }
    }

    std::size_t pendingCount() const {
        return locked([&] { return pending_.size(); });
    }

    void shutDown() override {
        std::lock_guard lock(syncMutex_);
        shutDown_ = true;
    }

private:
    std::mutex syncMutex_;  // one synchronous task at a time, like a real main thread
    std::deque<Task> pending_;
    bool shutDown_ = false;
};

// Records the chords posted and the text typed; the test decides whether
// sending keys works.
class RecordingPasteKeystroke final : public PasteKeystroke, private Guarded {
public:
    bool available() override { return works_; }
    bool waitForKeysReleased(std::chrono::milliseconds /*deadline*/) override {
        ++waits_;
        return true;
    }
    bool postPasteChord(PasteMethod method) override {
        return works_ && locked([&] { return (methods_.push_back(method), true); });
    }
    bool typeText(const QString& text) override {
        return works_ && locked([&] { return (typed_.append(text), true); });
    }
    bool postFollowKey(FollowKey key) override {
        if (onFollowKey) {
            onFollowKey();
        }
        std::lock_guard lock(mutex_);
        followKeys_.push_back(key);
        return works_;
    }

    // Runs as a follow key is posted, before it is recorded.
    std::function<void()> onFollowKey;
    std::vector<FollowKey> followKeys() const { return locked(followKeys_); }

    void setWorks(bool works) { works_ = works; }
    int chords() const {
        return locked([&] { return static_cast<int>(methods_.size()); });
    }
    QStringList typed() const { return locked(typed_); }
    int waits() const { return waits_; }

private:
    std::atomic<bool> works_ = true;
    std::atomic<int> waits_ = 0;
    std::vector<PasteMethod> methods_;
    std::vector<FollowKey> followKeys_;
    QStringList typed_;
};

// A state file in memory that counts whole writes and in-place overwrites.
// While not writable, both fail and change nothing; while refused, every call
// fails and says why.
class InMemoryStateFile final : public StateFile, private Guarded {
public:
    std::optional<QByteArray> read() override {
        std::lock_guard lock(mutex_);
        return refusal_ == StateRefusal::None ? contents_ : std::nullopt;
    }
    bool write(QByteArrayView contents) override {
        std::lock_guard lock(mutex_);
        if (!writable_ || refusal_ != StateRefusal::None) {
            return false;
        }
        contents_ = contents.toByteArray();
        ++writes_;
        return true;
    }
    bool overwrite(qint64 offset, QByteArrayView bytes) override {
        std::lock_guard lock(mutex_);
        if (!writable_ || refusal_ != StateRefusal::None || !contents_ ||
            offset + bytes.size() > contents_->size()) {
            return false;
        }
        contents_->replace(offset, bytes.size(), bytes.toByteArray());
        ++overwrites_;
        return true;
    }

    void setContents(std::optional<QByteArray> contents) { assign(contents_, std::move(contents)); }
    void setWritable(bool writable) { assign(writable_, writable); }
    StateRefusal refusal() const override { return locked(refusal_); }
    void setRefusal(StateRefusal refusal) { assign(refusal_, refusal); }
    int writes() const { return locked(writes_); }
    int overwrites() const { return locked(overwrites_); }

private:
    std::optional<QByteArray> contents_;
    bool writable_ = true;
    StateRefusal refusal_ = StateRefusal::None;
    int writes_ = 0;
    int overwrites_ = 0;
};

// The focused application is whatever the test says.
class FixedActiveWindow final : public ActiveWindow, private Guarded {
public:
    QString appId() override { return locked(appId_); }
    void set(const QString& appId) { assign(appId_, appId); }

private:
    QString appId_;
};

// Records the notices shown, as "title: text [button]".
class RecordingNotifications final : public Notifications {
public:
    void show(const QString& title, const QString& text) override {
        shown_.append(title + QStringLiteral(": ") + text);
    }
    const QStringList& shown() const { return shown_; }

private:
    QStringList shown_;
};

// Records every alert shown and answers with scripted button indexes (the
// first button when none is scripted).
class ScriptedAlerts final : public Alerts {
public:
    int exec(const AlertSpec& alert) override {
        shown_.push_back(alert);
        if (responses_.empty()) {
            return 0;
        }
        const int response = responses_.front();
        responses_.pop_front();
        return response;
    }

    void answer(int response) { responses_.push_back(response); }
    const std::vector<AlertSpec>& shown() const { return shown_; }

private:
    std::vector<AlertSpec> shown_;
    std::deque<int> responses_;
};

// Commands another process sends, as the test sends them.
class FakeCommands final : public Commands, private Guarded {
public:
    void setHandler(std::function<QString(Command)> onCommand) override {
        onCommand_ = std::move(onCommand);
    }
    void setStatusHandler(
        std::function<void(std::function<void(const QString&)> answer)> onStatus) override {
        onStatus_ = std::move(onStatus);
    }
    QString listen() override {
        listening_ = problem.isEmpty();
        return problem;
    }
    // Why the command was refused; "" when it was taken.
    QString send(Command command) const {
        return listening_ && onCommand_ ? onCommand_(command) : QString();
    }
    // Asks where the run stands; answers land in answers, from any thread.
    void askStatus() {
        if (listening_ && onStatus_) {
            onStatus_([this](const QString& status) {
                const std::lock_guard lock(mutex_);
                answers_.append(status);
            });
        }
    }
    QStringList answers() const { return locked(answers_); }

    QString problem;  // why listen() fails; "" when it works

private:
    std::function<QString(Command)> onCommand_;
    std::function<void(std::function<void(const QString&)>)> onStatus_;
    QStringList answers_;
    bool listening_ = false;
};

// Records the links it is asked to open and opens none.
class RecordingUrlOpener final : public UrlOpener {
public:
    bool open(const QUrl& url) override {
        opened_.push_back(url);
        return true;
    }
    const std::vector<QUrl>& opened() const { return opened_; }

private:
    std::vector<QUrl> opened_;
};

// Start at login as a flag; while `problem` is set, changing it fails for that reason.
class FakeAutostart final : public Autostart {
public:
    bool enabled() const override { return enabled_; }
    QString setEnabled(bool enabled) override {
        if (problem.isEmpty()) {
            enabled_ = enabled;
        }
        return problem;
    }

    QString problem;

private:
    bool enabled_ = false;
};

}  // namespace quillet
