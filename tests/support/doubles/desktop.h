#pragma once

// Doubles of the desktop's small services: the focused window, alerts,
// start at login, notices, the system languages and the link opener.

#include "doubles/guarded.h"
#include "platform/active_window.h"
#include "platform/alerts.h"
#include "platform/autostart.h"
#include "platform/notifications.h"
#include "platform/ui_languages.h"
#include "platform/url_opener.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <utility>
#include <vector>

namespace quillet {

// The focused application is whatever the test says.
class FixedActiveWindow final : public ActiveWindow, private Guarded {
public:
    QString appId() override { return locked(appId_); }
    void set(const QString& appId) { assign(appId_, appId); }

private:
    QString appId_;
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

class FixedUiLanguages final : public UiLanguages {
public:
    explicit FixedUiLanguages(QStringList languages = {QStringLiteral("en-US")})
        : languages_(std::move(languages)) {}
    QStringList preferred() const override { return languages_; }
    void set(QStringList languages) { languages_ = std::move(languages); }

private:
    QStringList languages_;
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

}  // namespace quillet
