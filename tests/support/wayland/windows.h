#pragma once

// Windows of other programs on the compositor, which the program pastes into.

#include "wait.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>

namespace quillet::wlharness {

class Desktop;

using harness::Clock;
using namespace std::chrono_literals;

// A Qt text field in a process of its own, under this app id (the class of
// an X11 window); it mirrors its text to a file after every change. A
// terminal pastes with Control+Shift+V only, Emacs with Shift+Insert only.
// With form fields it is a form of that many, whose text is the rows sent
// ("a|b\n").
class TargetWindow {
public:
    enum class Paste { ControlV, Terminal, ShiftInsert };
    enum class Shell { Wayland, Xwayland };
    explicit TargetWindow(Desktop& desktop, const QString& appId = QStringLiteral("quillet-target"),
                          Paste paste = Paste::ControlV, Shell shell = Shell::Wayland,
                          int formFields = 0);
    ~TargetWindow();
    TargetWindow(const TargetWindow&) = delete;
    TargetWindow& operator=(const TargetWindow&) = delete;

    bool started() const { return started_; }  // and shown and focused
    QString text() const;
    bool waitForText(const QString& expected, Clock::duration timeout = 5s) const;
    // Gives it (a Wayland window) the focus and waits until the compositor
    // says it has it.
    bool focus();
    // When the text last changed, as the window saw it.
    Clock::time_point changedAt();

private:
    // Focused by the compositor, and the window says it got the keyboard
    // more often than before.
    bool hasKeyboard(qsizetype focusedBefore);

    Desktop& desktop_;
    QString appId_;
    QTemporaryDir dir_;
    QProcess process_;
    QByteArray output_;
    bool started_ = false;
};

// Another program's window, started with this command ("%file" in it
// becomes a file of the window's, which it writes what it gets to), that
// the compositor lists under this app id.
class AppWindow {
public:
    AppWindow(Desktop& desktop, const QString& appId, QStringList command,
              const QStringList& environment = {});
    ~AppWindow();
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    bool started() const { return started_; }  // and shown and focused
    QByteArray file() const;

private:
    Desktop& desktop_;
    QString appId_;
    QTemporaryDir dir_;
    QProcess process_;
    bool started_ = false;
};

}  // namespace quillet::wlharness
