#pragma once

#include "wait.h"

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

class QPlainTextEdit;

namespace quillet::harness {

// A text field that receives the pastes and reports each text it holds
// with the moment it changed.
class TargetWindow {
public:
    // In a process of its own, or in this one (which must run a
    // QApplication), where the benchmarks keep it so as to add no process
    // beside the one they measure; there it shows at the first focus().
    enum class Home { OwnProcess, ThisProcess };

    // Starts it; in a process of its own it is then shown and focused. With
    // form fields, a form of that many whose text is the rows sent ("a|b\n").
    explicit TargetWindow(Home home = Home::OwnProcess, int formFields = 0);
    ~TargetWindow();
    TargetWindow(const TargetWindow&) = delete;
    TargetWindow& operator=(const TargetWindow&) = delete;

    bool started() const { return started_; }
    const QString& text() const { return text_; }
    bool waitForText(const QString& expected, Clock::duration timeout = 5s);
    bool focus();
    std::uint32_t window() const { return window_; }
    qint64 pid() const { return process_.processId(); }
    // Empties the field, without a call of onChange.
    bool clear();
    // Waits until the field (in its own process) has handled every key sent
    // before: a paste from an owner that died holds it for seconds.
    bool drain();

    // Called for each new text with the moment the field changed.
    std::function<void(const QString& text, Clock::time_point at)> onChange;

private:
    void read();

    std::unique_ptr<QPlainTextEdit> field_;  // in this process
    QProcess process_;                       // or in that one
    QByteArray pending_;
    QString text_;
    int marks_ = 0;
    std::uint32_t window_ = 0;
    bool started_ = false;
};

}  // namespace quillet::harness
