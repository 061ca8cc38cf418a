#include "x_session.h"

#include "app/localized_strings.h"
#include "hotkey/capture_dialog.h"
#include "platform/fakes/fixed_ui_languages.h"
#include "platform/fakes/in_memory_settings_store.h"
#include "platform/fakes/recording_settings_delegate.h"
#include "platform/key_translator_x11.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMap>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
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
    std::optional<XWindow> window;
    const auto mapped = [&] {
        window = findWindow(process_.processId(), [](const XWindow&) { return true; });
        return window.has_value();
    };
    if (waitUntil(mapped, 5s)) {
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window->id});
    }
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

QVariant QuilletProcess::stored(const QString& key) const {
    return QSettings(settingsFile(), QSettings::IniFormat).value(key);
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

QByteArray xdotool(const QStringList& args, const QString& display) {
    QProcess process;
    if (!display.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        process.setProcessEnvironment(env);
    }
    process.start(QStringLiteral("xdotool"), args);
    process.waitForFinished(10000);
    return process.readAllStandardOutput();
}

std::optional<XWindow> findWindow(qint64 pid, const std::function<bool(const XWindow&)>& pred,
                                  const QString& display) {
    const QByteArray ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                    QStringLiteral("--pid"), QString::number(pid)},
                                   display);
    for (const QByteArray& id : ids.split('\n')) {
        if (id.isEmpty()) {
            continue;
        }
        // "X=..", "Y=..", "WIDTH=..", "HEIGHT=.." lines, then the title.
        const QList<QByteArray> lines =
            xdotool(
                {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"),
                 QString::fromLatin1(id), QStringLiteral("getwindowname"), QString::fromLatin1(id)},
                display)
                .trimmed()
                .split('\n');
        QMap<QByteArray, int> field;
        for (const QByteArray& line : lines) {
            const qsizetype eq = line.indexOf('=');
            field[line.left(eq)] = line.mid(eq + 1).toInt();
        }
        const XWindow window{
            QString::fromLatin1(id),
            QRect(field[QByteArrayLiteral("X")], field[QByteArrayLiteral("Y")],
                  field[QByteArrayLiteral("WIDTH")], field[QByteArrayLiteral("HEIGHT")]),
            QString::fromUtf8(lines.last())};
        if (pred(window)) {
            return window;
        }
    }
    return std::nullopt;
}

std::optional<XWindow> windowNamed(qint64 pid, const QString& name) {
    return findWindow(pid, [&name](const XWindow& w) { return w.name == name; });
}

namespace {

// Tray icons are no bigger than this and sit no lower; windows are larger.
constexpr int kTrayBand = 48;

}  // namespace

std::optional<XWindow> trayIcon(qint64 pid, const QString& display) {
    return findWindow(
        pid,
        [](const XWindow& w) {
            return w.geometry.width() <= kTrayBand && w.geometry.height() <= kTrayBand &&
                   w.geometry.top() < kTrayBand;
        },
        display);
}

std::optional<XWindow> notice(qint64 pid) {
    return findWindow(pid, [](const XWindow& w) {
        return w.name == QStringLiteral("Quillet") && w.geometry.height() > kTrayBand;
    });
}

testing::AssertionResult openTrayMenu(qint64 pid, const QString& title) {
    std::optional<XWindow> icon;
    if (!waitUntil([&] { return (icon = trayIcon(pid)).has_value(); }, 10s)) {
        return testing::AssertionFailure() << "the icon never docked";
    }
    clickAt(icon->geometry.center());
    if (!waitUntil([&] { return windowNamed(pid, title).has_value(); }, 10s)) {
        return testing::AssertionFailure() << "no menu titled " << title.toStdString();
    }
    if (!waitUntil(keyboardGrabbed, 5s)) {
        return testing::AssertionFailure() << "the menu did not take the keyboard";
    }
    return testing::AssertionSuccess();
}

bool keyboardGrabbed() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return false;
    }
    const int status = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                     GrabModeAsync, CurrentTime);
    if (status == GrabSuccess) {
        XUngrabKeyboard(display, CurrentTime);
    }
    XCloseDisplay(display);
    return status == AlreadyGrabbed;
}

QString focusedWindow() {
    return QString::fromLatin1(xdotool({QStringLiteral("getwindowfocus")}).trimmed());
}

void clickAt(QPoint point) {
    xdotool({QStringLiteral("mousemove"), QString::number(point.x()), QString::number(point.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

QImage windowImage(const XWindow& window) {
    return QGuiApplication::primaryScreen()->grabWindow(window.id.toULongLong()).toImage();
}

testing::AssertionResult closeNotice(qint64 pid, KeyDriver& keys, const TargetWindow& target,
                                     std::chrono::milliseconds deadline) {
    std::optional<XWindow> shown;
    if (!waitUntil([&] { return (shown = notice(pid)).has_value(); }, deadline)) {
        return testing::AssertionFailure() << "no notice";
    }
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), shown->id});
    keys.chord({"Return"});
    if (!waitUntil([&] { return !notice(pid); }, 10s)) {
        return testing::AssertionFailure() << "the notice stayed";
    }
    target.focus();
    return testing::AssertionSuccess();
}

CaptureDialogButtons captureDialogButtons() {
    InMemorySettingsStore settings;
    settings.setString(QStringLiteral("appLanguage"), QStringLiteral("en"));
    const FixedUiLanguages languages;
    const LocalizedStrings strings(settings, languages);
    RecordingSettingsDelegate delegate(settings);
    KeyTranslatorX11 translator;
    CaptureDialogButtons here;
    QTimer::singleShot(0, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog == nullptr ||
                dialog->objectName() != QLatin1StringView(kCaptureDialogName)) {
                continue;
            }
            const auto fromCorner = [dialog](const char* name) {
                const auto* button = dialog->findChild<QPushButton*>(QLatin1StringView(name));
                return dialog->rect().bottomRight() -
                       button->mapTo(dialog, button->rect().center());
            };
            here.confirm = fromCorner(kConfirmButtonName);
            here.cancel = fromCorner(kCancelButtonName);
            dialog->reject();
        }
    });
    showHotkeySettingsAlert(delegate, strings, settings, translator);
    return here;
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

struct SilentClipboardOwner::Impl {
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection{
        xcb_connect(nullptr, nullptr), &xcb_disconnect};
    xcb_window_t requestor = XCB_NONE;
};

SilentClipboardOwner::SilentClipboardOwner() : impl_(std::make_unique<Impl>()) {
    xcb_connection_t* c = impl_->connection.get();
    if (xcb_connection_has_error(c) != 0) {
        return;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const char name[] = "CLIPBOARD";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr),
        &std::free);
    if (!atom) {
        return;
    }
    xcb_set_selection_owner(c, window, atom->atom, XCB_CURRENT_TIME);
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr),
        &std::free);
    owning_ = owner && owner->owner == window;
}

SilentClipboardOwner::~SilentClipboardOwner() = default;

bool SilentClipboardOwner::requestPending() {
    xcb_connection_t* c = impl_->connection.get();
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        if ((event->response_type & 0x7F) == XCB_SELECTION_REQUEST) {
            impl_->requestor = reinterpret_cast<xcb_selection_request_event_t*>(event)->requestor;
        }
        std::free(event);
    }
    if (impl_->requestor == XCB_NONE) {
        return false;
    }
    const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, impl_->requestor), nullptr),
        &std::free);
    return attributes != nullptr;
}

}  // namespace quillet::e2e
