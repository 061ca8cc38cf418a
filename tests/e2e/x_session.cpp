#include "x_session.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xcb.h>

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
    started_ =
        process_.waitForStarted(5000) && waitUntil([this] { return QFile::exists(outPath_); }, 10s);
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

KeyDriver::~KeyDriver() {
    XCloseDisplay(impl_->display);
}

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

QuilletProcess::QuilletProcess(const QString& configHome, Launch launch)
    : configHome_(configHome.isEmpty() ? ownConfig_.path() : configHome) {
    if (launch == Launch::Later && !QFile::exists(settingsFile())) {
        // A shortcut is stored: no first-run dialog takes the shortcut away.
        QDir().mkpath(configHome_ + QStringLiteral("/tarnwick"));
        QFile file(settingsFile());
        if (file.open(QIODevice::WriteOnly)) {
            file.write("[General]\nhotkeyCode=9\nhotkeyModifiers=1835008\n");
        }
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome_);
    process_.setProcessEnvironment(env);
    process_.setProgram(QStringLiteral(QUILLET_BIN));
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.setReadChannel(QProcess::StandardOutput);
}

QuilletProcess::~QuilletProcess() {
    if (process_.state() != QProcess::NotRunning) {
        stop();
    }
}

bool QuilletProcess::start() {
    process_.start();
    if (!process_.waitForStarted(5000)) {
        return false;
    }
    // The program says on standard error when its shortcut is armed.
    process_.setReadChannel(QProcess::StandardError);
    const bool ready = waitUntil(
        [this] {
            errors_ += process_.readAllStandardError();
            return errors_.contains("Quillet is running");
        },
        10s);
    process_.setReadChannel(QProcess::StandardOutput);
    return ready;
}

int QuilletProcess::stop() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished(3000);
        return -1;
    }
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString QuilletProcess::settingsFile() const {
    return configHome_ + QStringLiteral("/tarnwick/Quillet.conf");
}

QByteArray QuilletProcess::standardOutput() {
    output_ += process_.readAllStandardOutput();
    return output_;
}

QByteArray QuilletProcess::standardError() {
    errors_ += process_.readAllStandardError();
    return errors_;
}

bool comboGrabbedElsewhere(std::uint16_t modifiers, const std::string& key) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const ::KeyCode code = XKeysymToKeycode(display, XStringToKeysym(key.c_str()));
    XCloseDisplay(display);

    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_generic_error_t* error = xcb_request_check(
        connection, xcb_grab_key_checked(connection, 1, root, modifiers, code, XCB_GRAB_MODE_ASYNC,
                                         XCB_GRAB_MODE_ASYNC));
    const bool taken = error != nullptr;
    free(error);
    // Our own grab, if it was granted, ends with the connection.
    xcb_disconnect(connection);
    return taken;
}

struct OtherClientGrab::Impl {
    xcb_connection_t* connection = nullptr;
};

OtherClientGrab::OtherClientGrab(std::uint16_t modifiers, const std::string& key)
    : impl_(std::make_unique<Impl>()) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return;
    }
    const ::KeyCode code = XKeysymToKeycode(display, XStringToKeysym(key.c_str()));
    XCloseDisplay(display);
    impl_->connection = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(impl_->connection)).data->root;
    xcb_generic_error_t* error = xcb_request_check(
        impl_->connection, xcb_grab_key_checked(impl_->connection, 1, root, modifiers, code,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    held_ = error == nullptr;
    free(error);
}

OtherClientGrab::~OtherClientGrab() {
    if (impl_->connection != nullptr) {
        xcb_disconnect(impl_->connection);
    }
}

void focusNothing() {
    Display* display = XOpenDisplay(nullptr);
    if (display != nullptr) {
        XSetInputFocus(display, None, RevertToNone, CurrentTime);
        XSync(display, False);
        XCloseDisplay(display);
    }
}

QByteArray xclipRead(const QString& mimeType) {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-o"), QStringLiteral("-t"), mimeType});
    // Keeps our own event loop going: this process may be the one serving it.
    QByteArray output;
    const bool finished = waitUntil(
        [&] {
            output += xclip.readAllStandardOutput();
            return xclip.state() == QProcess::NotRunning;
        },
        5s);
    if (!finished) {
        xclip.kill();
        xclip.waitForFinished(1000);
        return {};
    }
    return output + xclip.readAllStandardOutput();
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
    waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 5s);
}

}  // namespace quillet::e2e
