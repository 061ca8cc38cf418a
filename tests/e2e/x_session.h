#pragma once

// Support for tests against a real X server: the target window, a key
// driver of our own on XTest, and waiting on conditions with deadlines.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillet::e2e {

using namespace std::chrono_literals;

// Whether $DISPLAY names a server we can open.
bool haveDisplay();

#define QUILLET_REQUIRE_DISPLAY()                             \
    do {                                                      \
        if (!::quillet::e2e::haveDisplay()) {                 \
            GTEST_SKIP() << "needs an X display ($DISPLAY)";  \
        }                                                     \
    } while (false)

// Polls pred (processing Qt events in between) until it holds or the
// deadline passes; returns its last answer.
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline);

// The window that receives pastes, in a process of its own.
class TargetWindow {
public:
    TargetWindow();
    ~TargetWindow();
    TargetWindow(const TargetWindow&) = delete;
    TargetWindow& operator=(const TargetWindow&) = delete;

    bool started() const { return started_; }
    QString text() const;
    // Waits until the window's text equals expected.
    bool waitForText(const QString& expected, std::chrono::milliseconds deadline = 5s) const;
    // Gives it the keyboard focus again (xdotool windowfocus).
    void focus() const;

private:
    QTemporaryDir dir_;
    QString outPath_;
    QProcess process_;
    bool started_ = false;
};

// Presses keys on the X server with XTest, like a user would.
class KeyDriver {
public:
    KeyDriver();
    ~KeyDriver();
    KeyDriver(const KeyDriver&) = delete;
    KeyDriver& operator=(const KeyDriver&) = delete;

    // Keysym names as X knows them: "Control_L", "Alt_L", "Super_L", "v", "Num_Lock".
    // Presses them in order, holds them for `hold`, releases them in reverse.
    void chord(const std::vector<std::string>& keys, std::chrono::milliseconds hold = 30ms);
    void down(const std::string& key);
    void up(const std::string& key);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Reads and writes the CLIPBOARD selection through xclip, as another program.
QByteArray xclipRead(const QString& mimeType = QStringLiteral("UTF8_STRING"));
void xclipWrite(const QByteArray& data, const QString& mimeType = QStringLiteral("UTF8_STRING"));

}  // namespace quillet::e2e
