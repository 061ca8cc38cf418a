#include "wayland/windows.h"

#include "wayland/desktop.h"
#include "wayland/session.h"

#include <QFile>

namespace quillet::wlharness {

namespace {

bool sameApp(const QString& a, const QString& b) {
    // X11 classes go by the application name with a capital first letter.
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

void endProcess(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished();
    }
}

}  // namespace

TargetWindow::TargetWindow(Desktop& desktop, const QString& appId, Paste paste, Shell shell,
                           int formFields)
    : desktop_(desktop), appId_(appId) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"),
               shell == Shell::Xwayland ? QStringLiteral("xcb") : QStringLiteral("wayland"));
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("--out"), dir_.filePath(QStringLiteral("text")),
                          QStringLiteral("--app-id"), appId_};
    if (paste != Paste::ControlV) {
        arguments << QStringLiteral("--paste")
                  << (paste == Paste::Terminal ? QStringLiteral("control-shift-v")
                                               : QStringLiteral("shift-insert"));
    }
    if (formFields > 0) {
        arguments << QStringLiteral("--form") << QString::number(formFields);
    }
    process_.start(QStringLiteral(QUILLET_WL_TARGET_BIN), arguments);
    // sway gives a new window the focus.
    started_ = process_.waitForStarted() && waitUntil([&] { return hasKeyboard(0); }, 10s);
}

bool TargetWindow::hasKeyboard(qsizetype focusedBefore) {
    output_ += process_.readAllStandardOutput();
    return output_.count("focused\n") > focusedBefore && sameApp(desktop_.activeAppId(), appId_);
}

TargetWindow::~TargetWindow() {
    endProcess(process_);
}

QString TargetWindow::text() const {
    QFile file(dir_.filePath(QStringLiteral("text")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool TargetWindow::waitForText(const QString& expected, Clock::duration timeout) const {
    return waitUntil([&] { return text() == expected; }, timeout);
}

bool TargetWindow::focus() {
    if (sameApp(desktop_.activeAppId(), appId_)) {
        return true;
    }
    output_ += process_.readAllStandardOutput();
    const qsizetype focusedBefore = output_.count("focused\n");
    sway(QStringLiteral("[app_id=\"%1\"] focus").arg(appId_));
    return waitUntil([&] { return hasKeyboard(focusedBefore); }, 5s);
}

Clock::time_point TargetWindow::changedAt() {
    // The window's own note of the moment, from its last "changed NS" line.
    output_ += process_.readAllStandardOutput();
    const auto start = output_.lastIndexOf("changed ");
    const auto end = output_.indexOf('\n', start);
    if (start < 0 || end < 0) {
        return {};
    }
    const long long ns = output_.mid(start + 8, end - start - 8).toLongLong();
    return Clock::time_point(std::chrono::nanoseconds(ns));
}

AppWindow::AppWindow(Desktop& desktop, const QString& appId, QStringList command,
                     const QStringList& environment)
    : desktop_(desktop), appId_(appId) {
    process_.setProcessEnvironment(environmentWith(environment));
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.setStandardErrorFile(QProcess::nullDevice());
    const QString file = dir_.filePath(QStringLiteral("file"));
    QFile(file).open(QIODevice::WriteOnly);  // there to be opened
    command.replaceInStrings(QStringLiteral("%file"), file);
    process_.start(command.takeFirst(), command);
    started_ = process_.waitForStarted() &&
               waitUntil([&] { return sameApp(desktop_.activeAppId(), appId_); }, 15s);
}

AppWindow::~AppWindow() {
    endProcess(process_);
}

QByteArray AppWindow::file() const {
    QFile file(dir_.filePath(QStringLiteral("file")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace quillet::wlharness
