#include "wayland_harness.h"

#include "platform/wayland/active_window_wayland.h"
#include "platform/wayland/clipboard_wayland.h"
#include "platform/wayland/owned.h"
#include "platform/wayland/protocols/virtual-keyboard-unstable-v1.h"
#include "platform/wayland/session.h"
#include "platform/wayland/xkb.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace quillet::wlharness {

bool haveCompositor() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || qEnvironmentVariableIsEmpty("SWAYSOCK")) {
        return false;
    }
    const Ran outputs = runCommand(QStringLiteral("swaymsg"),
                                   {QStringLiteral("-t"), QStringLiteral("get_outputs")});
    const QJsonArray list = QJsonDocument::fromJson(outputs.output).array();
    return outputs.exitCode == 0 && !list.isEmpty() &&
           std::all_of(list.begin(), list.end(), [](const QJsonValue& output) {
               return output[QStringLiteral("name")].toString().startsWith(u"HEADLESS-");
           });
}

bool sway(const QString& command) {
    return runCommand(QStringLiteral("swaymsg"), {command}).exitCode == 0;
}

namespace {

// Ours with these "NAME=value" entries besides.
QProcessEnvironment environmentWith(
    const QStringList& entries,
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
    for (const QString& entry : entries) {
        const auto equals = entry.indexOf(u'=');
        env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    return env;
}

}  // namespace

Ran runCommand(const QString& program, const QStringList& arguments,
               const QStringList& environment) {
    QProcess process;
    process.setProcessEnvironment(environmentWith(environment));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(15000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return {-1, process.readAll()};
    }
    return {process.exitCode(), process.readAll()};
}

PasteNextBinding::PasteNextBinding() {
    bound_ = sway(QStringLiteral("bindsym --no-warn --no-repeat %1 exec %2 --paste-next")
                      .arg(QLatin1String(kBinding), QStringLiteral(QUILLET_BIN)));
}

PasteNextBinding::~PasteNextBinding() {
    sway(QStringLiteral("unbindsym %1").arg(QLatin1String(kBinding)));
}

namespace {

std::uint32_t nowMs() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

}  // namespace

struct KeyDriver::Impl {
    wayland::Owned<wl_display, wl_display_disconnect> display;
    wayland::Owned<wl_seat, wl_seat_destroy> seat;
    wayland::Owned<zwp_virtual_keyboard_manager_v1, zwp_virtual_keyboard_manager_v1_destroy>
        manager;
    wayland::Owned<zwp_virtual_keyboard_v1, zwp_virtual_keyboard_v1_destroy> keyboard;
    xkb::ContextPtr context = xkb::newContext();
    xkb::KeymapPtr keymap;
    xkb::StatePtr state;

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat) {
            self->seat.reset(
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1)));
        } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            self->manager.reset(static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1)));
        }
    }
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

    void key(xkb_keycode_t code, bool down) {
        zwp_virtual_keyboard_v1_key(
            keyboard.get(), nowMs(), code - 8,
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        xkb_state_update_key(state.get(), code, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        zwp_virtual_keyboard_v1_modifiers(
            keyboard.get(), xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_DEPRESSED),
            xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_LATCHED),
            xkb_state_serialize_mods(state.get(), XKB_STATE_MODS_LOCKED),
            xkb_state_serialize_layout(state.get(), XKB_STATE_LAYOUT_EFFECTIVE));
    }
};

KeyDriver::KeyDriver(const std::string& layout, const std::string& variant)
    : impl_(std::make_unique<Impl>()) {
    impl_->display.reset(wl_display_connect(nullptr));
    if (!impl_->display) {
        return;
    }
    static constexpr wl_registry_listener listener{&Impl::onGlobal, &Impl::onGlobalRemove};
    wl_registry* registry = wl_display_get_registry(impl_->display.get());
    wl_registry_add_listener(registry, &listener, impl_.get());
    wl_display_roundtrip(impl_->display.get());
    wl_registry_destroy(registry);

    const xkb_rule_names names{nullptr, nullptr, layout.c_str(),
                               variant.empty() ? nullptr : variant.c_str(), nullptr};
    impl_->keymap.reset(
        xkb_keymap_new_from_names(impl_->context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!impl_->seat || !impl_->manager || !impl_->keymap) {
        return;
    }
    impl_->state.reset(xkb_state_new(impl_->keymap.get()));
    const std::unique_ptr<char, decltype(&std::free)> text(
        xkb_keymap_get_as_string(impl_->keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), &std::free);
    const std::size_t size = std::strlen(text.get()) + 1;
    const wayland::UniqueFd file(memfd_create("keys", MFD_CLOEXEC));
    if (ftruncate(file.get(), static_cast<off_t>(size)) != 0 ||
        pwrite(file.get(), text.get(), size, 0) != static_cast<ssize_t>(size)) {
        return;
    }
    impl_->keyboard.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        impl_->manager.get(), impl_->seat.get()));
    zwp_virtual_keyboard_v1_keymap(impl_->keyboard.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1,
                                   file.get(), static_cast<std::uint32_t>(size));
    wl_display_roundtrip(impl_->display.get());
}

KeyDriver::~KeyDriver() {
    if (impl_->display) {
        impl_->keyboard.reset();
        wl_display_roundtrip(impl_->display.get());
    }
}

bool KeyDriver::ready() const {
    return impl_->keyboard && wl_display_get_error(impl_->display.get()) == 0;
}

KeyDriver::Keystroke KeyDriver::chord(const std::vector<std::string>& keys, Clock::duration hold) {
    std::vector<xkb_keycode_t> codes;
    for (const std::string& name : keys) {
        const xkb_keysym_t keysym = xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS);
        if (const auto place = xkb::findKey(impl_->keymap.get(), keysym)) {
            codes.push_back(place->code);
        }
    }
    const auto pressed = Clock::now();
    for (const xkb_keycode_t code : codes) {
        impl_->key(code, true);
    }
    wl_display_flush(impl_->display.get());
    std::this_thread::sleep_for(hold);  // the user's finger on the keys
    const auto released = Clock::now();
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        impl_->key(*it, false);
    }
    wl_display_roundtrip(impl_->display.get());
    return {pressed, released};
}

Desktop::Desktop() : session_(wayland::Session::connect()) {
    if (session_) {
        clipboard_ = std::make_unique<ClipboardWayland>(session_);
        activeWindow_ = std::make_unique<ActiveWindowWayland>(session_);
    }
}

Desktop::~Desktop() = default;

bool Desktop::copy(const ClipboardContent& content) {
    return clipboard_ && clipboard_->restore(content);
}

QByteArray Desktop::paste(const QString& type) {
    const Ran pasted = runCommand(QStringLiteral("wl-paste"),
                                  {QStringLiteral("--no-newline"), QStringLiteral("--type"), type});
    return pasted.exitCode == 0 ? pasted.output : QByteArray();
}

QString Desktop::activeAppId() {
    return activeWindow_ ? activeWindow_->appId() : QString();
}

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

QuilletProcess::QuilletProcess(const QStringList& settings, const QStringList& environment) {
    QDir(config_.path()).mkpath(QStringLiteral("tarnwick"));
    QFile file(settingsFile());
    if (file.open(QIODevice::WriteOnly)) {
        file.write("[General]\n" + settings.join(u'\n').toUtf8() + '\n');
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config_.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), config_.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), config_.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), config_.filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process_.setProcessEnvironment(environmentWith(environment, env));
}

QuilletProcess::~QuilletProcess() {
    stop();
}

bool QuilletProcess::start() {
    process_.start(QStringLiteral(QUILLET_BIN), {});
    return process_.waitForStarted() &&
           waitUntil([&] { return standardError().contains("Quillet is running"); }, 15s);
}

int QuilletProcess::stop() {
    if (process_.state() == QProcess::NotRunning) {
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    process_.terminate();
    if (!process_.waitForFinished(10000)) {
        process_.kill();
        process_.waitForFinished();
        return -1;
    }
    standardError();
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QByteArray QuilletProcess::standardError() {
    errors_ += process_.readAllStandardError();
    return errors_;
}

QString QuilletProcess::settingsFile() const {
    return config_.filePath(QStringLiteral("tarnwick/Quillet.conf"));
}

QString QuilletProcess::stateFile() const {
    return config_.filePath(QStringLiteral("state/tarnwick/Quillet.json"));
}

}  // namespace quillet::wlharness
