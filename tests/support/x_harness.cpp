#include "x_harness.h"

#include "core/keys.h"
#include "platform/x11/connection.h"
#include "platform/x11/selection_owner_x11.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QFile>
#include <QSettings>

// X11 headers after Qt's: their macros break Qt headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace quillet::harness {

using x11::own;

bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") && x11::openDisplay() != nullptr;
}

namespace {

// Tray icons are no bigger than this and sit no lower; windows are larger.
constexpr int kTrayBand = 48;

}  // namespace

struct XClient::Impl {
    x11::DisplayPtr display;  // Xlib, for XTest
    x11::XcbConnection xcb;   // for everything else: its errors are replies, not exits
    xcb_window_t root = XCB_NONE;
    xcb_window_t clipboardWindow = XCB_NONE;
    xcb_window_t requestor = XCB_NONE;
    std::optional<std::uint16_t> answeredAt;  // the sequence number of the last answers() request
    KeyCount keys;
    xcb_window_t requestorWindow = XCB_NONE;  // ours, when we ask for the clipboard
    xcb_atom_t pidAtom{}, nameAtom{}, utf8Atom{}, clipboardAtom{}, trayAtom{}, protocolsAtom{},
        deleteAtom{};

    xcb_connection_t* c() const { return xcb.get(); }

    ::KeyCode keycode(const std::string& key) const {
        const KeySym sym = XStringToKeysym(key.c_str());
        const ::KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display.get(), sym);
        if (code == 0) {
            throw std::runtime_error("no keycode for the key " + key);
        }
        return code;
    }

    QByteArray property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type) const {
        const auto reply = own(xcb_get_property_reply(
            c(), xcb_get_property(c(), 0, window, name, type, 0, 4096), nullptr));
        if (!reply || reply->type == XCB_NONE) {
            return {};
        }
        return {static_cast<const char*>(xcb_get_property_value(reply.get())),
                xcb_get_property_value_length(reply.get())};
    }
};

XClient::XClient(const QString& display) : impl_(std::make_unique<Impl>()) {
    const QByteArray name = display.toLocal8Bit();
    const char* server = display.isEmpty() ? nullptr : name.constData();
    impl_->display.reset(XOpenDisplay(server));
    int screen = 0;
    impl_->xcb.reset(xcb_connect(server, &screen));
    if (!impl_->display || xcb_connection_has_error(impl_->c()) != 0) {
        impl_->xcb.reset();
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(impl_->c()));
    for (int i = 0; i < screen && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    impl_->root = screens.data->root;
    const std::string tray = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    const auto atoms =
        x11::internAtoms(impl_->c(), {"_NET_WM_PID", "_NET_WM_NAME", "UTF8_STRING", "CLIPBOARD",
                                      tray.c_str(), "WM_PROTOCOLS", "WM_DELETE_WINDOW"});
    std::tie(impl_->pidAtom, impl_->nameAtom, impl_->utf8Atom, impl_->clipboardAtom,
             impl_->trayAtom, impl_->protocolsAtom, impl_->deleteAtom) =
        std::tie(atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6]);
}

XClient::~XClient() = default;

bool XClient::connected() const {
    return impl_->xcb != nullptr;
}

void XClient::down(const std::vector<std::string>& keys) {
    for (const auto& key : keys) {
        XTestFakeKeyEvent(impl_->display.get(), impl_->keycode(key), True, CurrentTime);
    }
    XSync(impl_->display.get(), False);
}

void XClient::up(const std::vector<std::string>& keys) {
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        XTestFakeKeyEvent(impl_->display.get(), impl_->keycode(*key), False, CurrentTime);
    }
    XSync(impl_->display.get(), False);
}

void XClient::pressAgain(const std::string& key) {
    XTestFakeKeyEvent(impl_->display.get(), impl_->keycode(key), False, CurrentTime);
    XTestFakeKeyEvent(impl_->display.get(), impl_->keycode(key), True, CurrentTime);
    XSync(impl_->display.get(), False);
}

void XClient::chord(const std::vector<std::string>& keys, Clock::duration hold) {
    down(keys);
    runFor(hold);
    up(keys);
}

void XClient::click(QPoint point) {
    Display* display = impl_->display.get();
    XTestFakeMotionEvent(display, -1, point.x(), point.y(), CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
}

std::vector<XWindow> XClient::windows(qint64 pid) {
    std::vector<XWindow> found;
    xcb_connection_t* c = impl_->c();
    std::vector<xcb_window_t> pending{impl_->root};
    while (!pending.empty()) {
        const xcb_window_t window = pending.back();
        pending.pop_back();
        const auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree) {
            continue;  // gone meanwhile
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        pending.insert(pending.end(), children,
                       children + xcb_query_tree_children_length(tree.get()));
        const QByteArray owner = impl_->property(window, impl_->pidAtom, XCB_ATOM_CARDINAL);
        if (owner.size() != 4 || *reinterpret_cast<const std::uint32_t*>(owner.data()) != pid) {
            continue;
        }
        const auto attributes =
            own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
        const auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
        const auto place = own(xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, window, impl_->root, 0, 0), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry || !place) {
            continue;
        }
        QByteArray name = impl_->property(window, impl_->nameAtom, impl_->utf8Atom);
        if (name.isEmpty()) {
            name = impl_->property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
        }
        found.push_back({window,
                         QRect(place->dst_x, place->dst_y, geometry->width, geometry->height),
                         QString::fromUtf8(name)});
    }
    return found;
}

namespace {

std::optional<XWindow> first(const std::vector<XWindow>& windows,
                             const std::function<bool(const XWindow&)>& pred) {
    const auto found = std::find_if(windows.begin(), windows.end(), pred);
    return found == windows.end() ? std::nullopt : std::optional(*found);
}

}  // namespace

std::optional<XWindow> XClient::windowNamed(qint64 pid, const QString& name) {
    return first(windows(pid), [&](const XWindow& w) { return w.name == name; });
}

std::optional<XWindow> XClient::waitForWindow(qint64 pid, const QString& name, bool focused,
                                              Clock::duration timeout) {
    std::optional<XWindow> found;
    const bool shown = waitUntil(
        [&] {
            found = windowNamed(pid, name);
            return found && (!focused || focusedWindow() == found->id);
        },
        timeout);
    return shown ? found : std::nullopt;
}

std::optional<XWindow> XClient::trayIcon(qint64 pid) {
    return first(windows(pid), [](const XWindow& w) {
        return w.geometry.width() <= kTrayBand && w.geometry.height() <= kTrayBand &&
               w.geometry.top() < kTrayBand;
    });
}

std::optional<XWindow> XClient::notice(qint64 pid) {
    return first(windows(pid), [](const XWindow& w) {
        return w.name == QStringLiteral("Quillet") && w.geometry.height() > kTrayBand;
    });
}

bool XClient::openTrayMenu(qint64 pid, const QString& title) {
    // The tray host may still be laying out its icons: the click goes where
    // the icon has stayed put, and again when no menu comes.
    std::optional<XWindow> icon;
    return waitUntil(
        [&] {
            const auto now = trayIcon(pid);
            const bool still = now && icon && now->geometry == icon->geometry;
            icon = now;
            if (!still) {
                runFor(200ms);
                return false;
            }
            click(icon->geometry.center());
            return waitUntil([&] { return windowNamed(pid, title) && keyboardGrabbed(); }, 3s);
        },
        20s);
}

bool XClient::closeNotice(qint64 pid, Clock::duration timeout) {
    std::optional<XWindow> shown;
    if (!waitUntil([&] { return (shown = notice(pid)).has_value(); }, timeout)) {
        return false;
    }
    click(shown->geometry.center());
    return waitUntil([&] { return !notice(pid); }, 10s);
}

void XClient::close(std::uint32_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = impl_->protocolsAtom;
    event.data.data32[0] = impl_->deleteAtom;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(impl_->c(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(impl_->c());
}

std::uint32_t XClient::focusedWindow() {
    const auto reply =
        own(xcb_get_input_focus_reply(impl_->c(), xcb_get_input_focus(impl_->c()), nullptr));
    return reply ? reply->focus : XCB_NONE;
}

bool XClient::focus(std::uint32_t window) {
    // Asked again until it holds: a window just shown may not be viewable yet.
    return waitUntil(
        [&] {
            if (focusedWindow() == window) {
                return true;
            }
            xcb_set_input_focus(impl_->c(), XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
            xcb_flush(impl_->c());
            return false;
        },
        5s);
}

std::uint32_t XClient::root() const {
    return impl_->root;
}

bool XClient::keyboardGrabbed() {
    xcb_connection_t* c = impl_->c();
    const auto reply =
        own(xcb_grab_keyboard_reply(c,
                                    xcb_grab_keyboard(c, 0, impl_->root, XCB_CURRENT_TIME,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                                    nullptr));
    if (reply && reply->status == XCB_GRAB_STATUS_SUCCESS) {
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        xcb_flush(c);
    }
    return reply && reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED;
}

bool XClient::answers(Clock::duration timeout) {
    xcb_connection_t* c = impl_->c();
    const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(c);
    xcb_flush(c);
    impl_->answeredAt = static_cast<std::uint16_t>(cookie.sequence);
    void* reply = nullptr;
    // Reading events reads the socket; a reply is only looked for in what was read.
    const bool answered = waitUntil(
        [&] {
            keys();
            return xcb_poll_for_reply(c, cookie.sequence, &reply, nullptr) != 0;
        },
        timeout);
    std::free(reply);
    return answered;
}

void XClient::watchKeys(std::uint32_t window) {
    xcb_connection_t* c = impl_->c();
    std::vector<xcb_window_t> pending{window};
    while (!pending.empty()) {
        const xcb_window_t next = pending.back();
        pending.pop_back();
        const std::uint32_t mask = XCB_EVENT_MASK_KEY_PRESS;
        xcb_change_window_attributes(c, next, XCB_CW_EVENT_MASK, &mask);
        if (const auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, next), nullptr))) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            pending.insert(pending.end(), children,
                           children + xcb_query_tree_children_length(tree.get()));
        }
    }
}

XClient::KeyCount XClient::keys() {
    // An event carries the number of the last request the server had done
    // for this client when it made the event.
    while (const auto event = own(xcb_poll_for_event(impl_->c()))) {
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
            ++impl_->keys.all;
            impl_->keys.afterAnswer += event->sequence == impl_->answeredAt ? 1 : 0;
        }
    }
    return impl_->keys;
}

std::vector<std::uint32_t> XClient::keyboardMapping() {
    xcb_connection_t* c = impl_->c();
    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto reply = own(xcb_get_keyboard_mapping_reply(
        c,
        xcb_get_keyboard_mapping(
            c, setup->min_keycode,
            static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1)),
        nullptr));
    if (!reply) {
        return {};
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    return {keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(reply.get())};
}

bool XClient::trayPresent() {
    const auto reply = own(xcb_get_selection_owner_reply(
        impl_->c(), xcb_get_selection_owner(impl_->c(), impl_->trayAtom), nullptr));
    return reply && reply->owner != XCB_NONE;
}

bool XClient::grabKey(std::uint16_t modifiers, const std::string& key) {
    xcb_connection_t* c = impl_->c();
    const auto error = own(
        xcb_request_check(c, xcb_grab_key_checked(c, 1, impl_->root, modifiers, impl_->keycode(key),
                                                  XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    return error == nullptr;
}

bool XClient::grabbedElsewhere(std::uint16_t modifiers, const std::string& key) {
    if (!grabKey(modifiers, key)) {
        return true;
    }
    xcb_ungrab_key(impl_->c(), impl_->keycode(key), impl_->root, modifiers);
    xcb_flush(impl_->c());
    return false;
}

std::uint32_t XClient::clipboardOwner() {
    const auto reply = own(xcb_get_selection_owner_reply(
        impl_->c(), xcb_get_selection_owner(impl_->c(), impl_->clipboardAtom), nullptr));
    return reply ? reply->owner : XCB_NONE;
}

bool XClient::takeClipboard() {
    xcb_connection_t* c = impl_->c();
    impl_->clipboardWindow = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, impl_->clipboardWindow, impl_->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, impl_->clipboardWindow, impl_->clipboardAtom, XCB_CURRENT_TIME);
    return clipboardOwner() == impl_->clipboardWindow;
}

bool XClient::clipboardRequested() {
    xcb_connection_t* c = impl_->c();
    while (const auto event = own(xcb_poll_for_event(c))) {
        if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
            impl_->requestor =
                reinterpret_cast<const xcb_selection_request_event_t*>(event.get())->requestor;
        }
    }
    return impl_->requestor != XCB_NONE &&
           own(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, impl_->requestor),
                                               nullptr)) != nullptr;
}

std::optional<QByteArray> XClient::convertClipboard(const std::string& target, std::uint32_t time) {
    xcb_connection_t* c = impl_->c();
    if (impl_->requestorWindow == XCB_NONE) {
        impl_->requestorWindow = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, impl_->requestorWindow, impl_->root, 0, 0, 1, 1,
                          0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    }
    const xcb_atom_t atom = x11::internAtoms(c, {target.c_str()})[0];
    xcb_convert_selection(c, impl_->requestorWindow, impl_->clipboardAtom, atom, atom, time);
    xcb_flush(c);
    for (const auto until = Clock::now() + 5s; Clock::now() < until;) {
        const auto event = own(xcb_poll_for_event(c));
        if (!event) {
            std::this_thread::sleep_for(1ms);
        } else if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
            if (reinterpret_cast<const xcb_selection_notify_event_t*>(event.get())->property ==
                XCB_NONE) {
                return std::nullopt;
            }
            return impl_->property(impl_->requestorWindow, atom, XCB_GET_PROPERTY_TYPE_ANY);
        }
    }
    return std::nullopt;
}

XClient& x() {
    static XClient client;
    return client;
}

bool copy(const QByteArray& data, const QString& mimeType) {
    const std::uint32_t before = x().clipboardOwner();
    QProcess xclip;
    xclip.setStandardOutputFile(QProcess::nullDevice());
    xclip.setStandardErrorFile(QProcess::nullDevice());
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-t"), mimeType, QStringLiteral("-i")});
    if (!xclip.waitForStarted(5000)) {
        return false;
    }
    xclip.write(data);
    xclip.closeWriteChannel();
    // Its parent exits once it has read everything; the child serves the copy.
    if (!waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 60s) ||
        xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0) {
        return false;
    }
    return waitUntil(
        [&] {
            const std::uint32_t owner = x().clipboardOwner();
            return owner != XCB_NONE && owner != before;
        },
        5s);
}

bool copy(const ClipboardContent& content) {
    // Another program's, on a connection of its own that the next copy closes.
    static std::unique_ptr<SelectionOwnerX11> owner;
    owner = std::make_unique<SelectionOwnerX11>();
    return owner->claim(selectionTargets(content)) != 0;
}

QByteArray clipboardData(const QString& mimeType) {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-o"), QStringLiteral("-t"), mimeType});
    // With the event loop running: this process may be the one serving it.
    QByteArray output;
    if (!waitUntil(
            [&] {
                output += xclip.readAllStandardOutput();
                return xclip.state() == QProcess::NotRunning;
            },
            10s)) {
        xclip.kill();
        xclip.waitForFinished(1000);
        return {};
    }
    return output + xclip.readAllStandardOutput();
}

Program::Program(Options options)
    : executable_(std::move(options.executable)),
      configHome_(options.configHome.isEmpty() ? ownConfig_.path() : options.configHome) {
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { readOutput(); });
    process_.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome_);
    env.insert(QStringLiteral("XDG_STATE_HOME"), configHome_ + QStringLiteral("/state"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir_.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    process_.setProcessEnvironment(env);
    process_.setProgram(isQuillet() ? QStringLiteral(QUILLET_BIN) : executable_);

    if (!isQuillet() || !options.storeShortcut || QFile::exists(settingsFile())) {
        return;
    }
    // Stored the way the program stores them, as on every start after the first.
    QDir().mkpath(QFileInfo(settingsFile()).path());
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QString::fromUtf16(kHotkeyCodeKey), kDefaultShortcut.keyCode);
    settings.setValue(QString::fromUtf16(kHotkeyModifiersKey),
                      static_cast<qulonglong>(kDefaultShortcut.modifiers));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        fail("cannot store its settings");
    }
    if (options.run) {
        QDir().mkpath(QFileInfo(stateFile()).path());
        QFile file(stateFile());
        if (!file.open(QIODevice::WriteOnly) || file.write(encodeAppState(*options.run).json) < 0) {
            fail("cannot store its run");
        }
    }
}

Program::~Program() {
    stop();
}

void Program::setEnvironment(const QString& name, const QString& value) {
    QProcessEnvironment env = process_.processEnvironment();
    env.insert(name, value);
    process_.setProcessEnvironment(env);
}

bool Program::fail(const std::string& message) {
    if (error_.empty()) {
        error_ = QFileInfo(process_.program()).fileName().toStdString() + ": " + message;
        if (!output().isEmpty()) {
            error_ += "\nit said:\n" + output_.toStdString();
        }
    }
    return false;
}

void Program::readOutput() {
    output_ += process_.readAllStandardOutput();
    if (!armedAt_ && output_.contains("Quillet is running")) {
        armedAt_ = Clock::now();
    }
}

const QByteArray& Program::output() {
    readOutput();
    return output_;
}

std::string Program::stacks() const {
    if (!running()) {
        return "(it is not running)";
    }
    QProcess gdb;
    gdb.setProcessChannelMode(QProcess::MergedChannels);
    gdb.start(QStringLiteral("gdb"),
              {QStringLiteral("-p"), QString::number(pid()), QStringLiteral("-batch"),
               QStringLiteral("-ex"), QStringLiteral("thread apply all bt")});
    if (!gdb.waitForFinished(60000)) {
        gdb.kill();
        gdb.waitForFinished(5000);
        return "(no stacks: gdb " + gdb.errorString().toStdString() + ")";
    }
    return "its stacks:\n" + gdb.readAll().toStdString();
}

bool Program::waitForOutput(const QByteArray& text, Clock::duration timeout) {
    return waitUntil([&] { return output().contains(text); }, timeout);
}

Program::CommandResult Program::command(const QStringList& arguments, Clock::duration deadline) {
    QProcess command;
    command.setProcessEnvironment(process_.processEnvironment());
    command.start(QStringLiteral(QUILLET_BIN), arguments);
    const bool ended = command.waitForFinished(
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline).count()));
    if (!ended) {
        command.kill();
        command.waitForFinished();
    }
    return {command.readAllStandardOutput(), command.readAllStandardError(),
            ended && command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1};
}

SessionBus::SessionBus() {
    // It starts none of the machine's services: a notification daemon
    // installed there would take the notices a test looks for.
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=" QUILLET_BUS_CONFIG), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    if (daemon_.waitForReadyRead(10000)) {
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
}

SessionBus::~SessionBus() {
    daemon_.kill();
    daemon_.waitForFinished(5000);
}

bool Program::launch() {
    if (!error_.empty()) {
        return false;
    }
    // A bus of its own unless the test gave one: never the user's (its
    // notices would go to the desktop), and never one shared with another
    // test's program (commands would reach the wrong one).
    if (!busless_ &&
        !process_.processEnvironment().contains(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"))) {
        ownBus_ = std::make_unique<SessionBus>();
        if (ownBus_->address().isEmpty()) {
            return fail("no session bus of its own");
        }
        setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), ownBus_->address());
    }
    output_.clear();
    armedAt_.reset();
    startedAt_ = Clock::now();
    process_.start();
    return process_.waitForStarted(5000) || fail("it did not start");
}

bool Program::start() {
    if (!launch()) {
        return false;
    }
    if (!waitUntil([&] { return !running() || !isQuillet() || armedAt_; }, 15s)) {
        return fail("it did not say it runs within 15 s");
    }
    if (!running()) {
        return fail("it ended at start-up");
    }
    return !isQuillet() || output().contains("Quillet is running. Press") ||
           fail("it runs without its shortcut");
}

bool Program::stop() {
    if (running()) {
        process_.terminate();
        if (!waitForExit(10s)) {
            const std::string hung = stacks();
            kill();
            return fail("it ignored SIGTERM for 10 s; " + hung);
        }
    }
    // The bare program has no handler: SIGTERM ends it by default.
    return !isQuillet() || exitCode() == 0 ||
           fail("it exited with status " + std::to_string(exitCode()));
}

void Program::kill() {
    process_.kill();
    process_.waitForFinished(5000);
}

bool Program::waitForExit(Clock::duration timeout) {
    return waitUntil([&] { return !running(); }, timeout);
}

int Program::exitCode() const {
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString Program::settingsFile() const {
    return configHome_ + QStringLiteral("/tarnwick/Quillet.conf");
}

QVariant Program::stored(const QString& key) const {
    return QSettings(settingsFile(), QSettings::IniFormat).value(key);
}

void Program::store(const QVariantMap& values) const {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    for (auto value = values.begin(); value != values.end(); ++value) {
        settings.setValue(value.key(), value.value());
    }
}

QString Program::stateFile() const {
    return configHome_ + QStringLiteral("/state/tarnwick/Quillet.json");
}

std::optional<AppState> Program::storedRun() const {
    QFile file(stateFile());
    return file.open(QIODevice::ReadOnly) ? decodeAppState(file.readAll()) : std::nullopt;
}

std::int64_t Program::storedIndex() const {
    const auto run = storedRun();
    return run ? run->currentIndex : -1;
}

bool Program::waitForIndex(std::int64_t index, Clock::duration timeout) const {
    return waitUntil([&] { return storedIndex() == index; }, timeout);
}

TargetWindow::TargetWindow(Home home, int formFields) {
    if (home == Home::ThisProcess) {
        field_ = std::make_unique<QPlainTextEdit>();
        field_->setWindowTitle(QStringLiteral("quillet-target"));
        field_->resize(480, 120);
        QObject::connect(field_.get(), &QPlainTextEdit::textChanged, [this] {
            text_ = field_->toPlainText();
            if (onChange) {
                onChange(text_, Clock::now());
            }
        });
        started_ = true;
        return;
    }
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { read(); });
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(QUILLET_TARGET_BIN),
                   formFields > 0
                       ? QStringList{QStringLiteral("--form"), QString::number(formFields)}
                       : QStringList());
    started_ =
        waitUntil([this] { return window_ != 0 || process_.state() == QProcess::NotRunning; },
                  10s) &&
        window_ != 0 && focus();
}

TargetWindow::~TargetWindow() {
    process_.kill();
    process_.waitForFinished(3000);
}

// One line per message: "window ID" once shown, then "text NANOSECONDS BASE64"
// for every text it holds, timed with the steady clock all processes share.
void TargetWindow::read() {
    pending_ += process_.readAllStandardOutput();
    for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
        const QList<QByteArray> fields = pending_.left(end).split(' ');
        pending_.remove(0, end + 1);
        if (fields[0] == "window" && fields.size() == 2) {
            window_ = fields[1].toUInt();
        } else if (fields[0] == "mark") {
            ++marks_;
        } else if (fields[0] == "text" && fields.size() == 3) {
            text_ = QString::fromUtf8(QByteArray::fromBase64(fields[2]));
            if (onChange) {
                onChange(text_, Clock::time_point(Clock::duration(fields[1].toLongLong())));
            }
        }
    }
}

bool TargetWindow::waitForText(const QString& expected, Clock::duration timeout) {
    return waitUntil([&] { return text_ == expected; }, timeout);
}

bool TargetWindow::focus() {
    if (!field_) {
        return x().focus(window_);
    }
    if (!field_->isVisible()) {
        field_->show();
        window_ = static_cast<std::uint32_t>(field_->winId());
    }
    // Qt hands the field its focus once its window is told it has X's.
    return x().focus(window_) && waitUntil([this] { return field_->hasFocus(); }, 5s);
}

bool TargetWindow::drain() {
    if (field_) {
        return true;  // this process handles its events in order anyway
    }
    const int before = marks_;
    x().chord({"F12"});
    return waitUntil([&] { return marks_ > before; }, 15s);
}

bool TargetWindow::clear() {
    const auto callback = std::exchange(onChange, {});
    if (field_) {
        field_->clear();
    } else {
        process_.write("clear\n");
    }
    const bool cleared = waitUntil([this] { return text_.isEmpty(); }, 5s);
    onChange = callback;
    return cleared;
}

}  // namespace quillet::harness
