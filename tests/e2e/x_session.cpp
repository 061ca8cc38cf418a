#include "x_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <stdexcept>

namespace quillet::e2e {

bool haveDisplay() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        return false;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds deadline) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (pred()) {
            return true;
        }
        if (timer.elapsed() >= deadline.count()) {
            return pred();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
    }
}

TargetWindow::TargetWindow() : outPath_(dir_.filePath(QStringLiteral("text"))) {
    process_.setProgram(QStringLiteral(QUILLET_TARGET_BIN));
    process_.setArguments({QStringLiteral("--out"), outPath_});
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    process_.start();
    started_ = process_.waitForStarted(5000) &&
               waitUntil([this] { return QFile::exists(outPath_); }, 10s);
    if (started_) {
        focus();
    }
}

TargetWindow::~TargetWindow() {
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

QString TargetWindow::text() const {
    QFile file(outPath_);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

bool TargetWindow::waitForText(const QString& expected, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return text() == expected; }, deadline);
}

void TargetWindow::focus() const {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--pid"),
                   QString::number(process_.processId()), QStringLiteral("windowfocus"),
                   QStringLiteral("--sync")});
    xdotool.waitForFinished(10000);
}

struct KeyDriver::Impl {
    Display* display = nullptr;
};

KeyDriver::KeyDriver() : impl_(std::make_unique<Impl>()) {
    impl_->display = XOpenDisplay(nullptr);
    if (impl_->display == nullptr) {
        throw std::runtime_error("KeyDriver: no X display");
    }
}

KeyDriver::~KeyDriver() { XCloseDisplay(impl_->display); }

namespace {

KeyCode keycodeOf(Display* display, const std::string& key) {
    const KeySym sym = XStringToKeysym(key.c_str());
    if (sym == NoSymbol) {
        throw std::runtime_error("KeyDriver: unknown keysym " + key);
    }
    const KeyCode code = XKeysymToKeycode(display, sym);
    if (code == 0) {
        throw std::runtime_error("KeyDriver: no keycode for " + key);
    }
    return code;
}

}  // namespace

void KeyDriver::down(const std::string& key) {
    XTestFakeKeyEvent(impl_->display, keycodeOf(impl_->display, key), True, CurrentTime);
    XSync(impl_->display, False);
}

void KeyDriver::up(const std::string& key) {
    XTestFakeKeyEvent(impl_->display, keycodeOf(impl_->display, key), False, CurrentTime);
    XSync(impl_->display, False);
}

void KeyDriver::chord(const std::vector<std::string>& keys, std::chrono::milliseconds hold) {
    for (const auto& key : keys) {
        down(key);
    }
    QThread::msleep(static_cast<unsigned long>(hold.count()));
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        up(*it);
    }
}

QByteArray xclipRead(const QString& mimeType) {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-o"), QStringLiteral("-t"), mimeType});
    if (!xclip.waitForFinished(5000)) {
        xclip.kill();
        return {};
    }
    return xclip.readAllStandardOutput();
}

void xclipWrite(const QByteArray& data, const QString& mimeType) {
    // xclip reads its input, then forks a child that serves the selection
    // until another program takes it over; the parent's exit means "owned".
    QProcess xclip;
    xclip.setStandardOutputFile(QProcess::nullDevice());
    xclip.setStandardErrorFile(QProcess::nullDevice());
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-t"), mimeType, QStringLiteral("-i")});
    xclip.waitForStarted(5000);
    xclip.write(data);
    xclip.closeWriteChannel();
    xclip.waitForFinished(5000);
}

}  // namespace quillet::e2e
