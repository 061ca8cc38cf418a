#include "gnome_desktop.h"

#include "wayland_harness.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace quillet::gnometest {

namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kSession = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");

QDBusMessage call(const QString& path, const QString& iface, const QString& method,
                  const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, iface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 10000);
}

bool ok(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace

RemoteDesktop::RemoteDesktop() {
    const QDBusMessage created = call(QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), kService,
                                      QStringLiteral("CreateSession"));
    if (!ok(created)) {
        return;
    }
    path_ = created.arguments().value(0).value<QDBusObjectPath>().path();
    QDBusConnection::sessionBus().connect(kService, path_, kSession,
                                          QStringLiteral("SelectionTransfer"), this,
                                          SLOT(serve(QString, uint)));
    ready_ = ok(call(path_, kSession, QStringLiteral("Start"))) &&
             ok(call(path_, kSession, QStringLiteral("EnableClipboard"), {QVariantMap()}));
}

RemoteDesktop::~RemoteDesktop() {
    if (!path_.isEmpty()) {
        call(path_, kSession, QStringLiteral("Stop"));
    }
}

bool RemoteDesktop::keysym(std::uint32_t keysym, bool down) {
    return ok(call(path_, kSession, QStringLiteral("NotifyKeyboardKeysym"),
                   {QVariant::fromValue(uint{keysym}), down}));
}

bool RemoteDesktop::keycode(int evdev, bool down) {
    return ok(call(path_, kSession, QStringLiteral("NotifyKeyboardKeycode"),
                   {QVariant::fromValue(uint(evdev)), down}));
}

void RemoteDesktop::chord(const std::vector<std::uint32_t>& keysyms,
                          Clock::duration modifiersHeld) {
    for (const std::uint32_t key : keysyms) {
        keysym(key, true);
    }
    keysym(keysyms.back(), false);
    harness::runFor(modifiersHeld);
    for (auto key = keysyms.rbegin() + 1; key != keysyms.rend(); ++key) {
        keysym(*key, false);
    }
}

bool RemoteDesktop::copy(const ClipboardContent& content) {
    offered_ = content;
    QStringList types;
    for (const auto& format : content.formats) {
        types << format.first;
    }
    return ok(call(path_, kSession, QStringLiteral("SetSelection"),
                   {QVariantMap{{QStringLiteral("mime-types"), types}}}));
}

void RemoteDesktop::serve(const QString& type, uint serial) {
    const auto format = std::find_if(offered_.formats.begin(), offered_.formats.end(),
                                     [&](const auto& entry) { return entry.first == type; });
    bool written = false;
    if (format != offered_.formats.end()) {
        const QDBusMessage reply =
            call(path_, kSession, QStringLiteral("SelectionWrite"), {QVariant::fromValue(serial)});
        const auto fd = reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
        QFile pipe;
        if (ok(reply) &&
            pipe.open(fd.fileDescriptor(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            // mutter hands it out non-blocking.
            ::fcntl(fd.fileDescriptor(), F_SETFL,
                    ::fcntl(fd.fileDescriptor(), F_GETFL) & ~O_NONBLOCK);
            written = pipe.write(format->second) == format->second.size() && pipe.flush();
        }
    }
    call(path_, kSession, QStringLiteral("SelectionWriteDone"),
         {QVariant::fromValue(serial), written});
}

QByteArray RemoteDesktop::paste(const QString& type) {
    QDBusMessage reply;
    // One read at a time per session, and mutter may count the last one a
    // moment after its end ("LimitsExceeded").
    waitUntil(
        [&] {
            reply = call(path_, kSession, QStringLiteral("SelectionRead"), {type});
            return ok(reply) || !reply.errorName().contains(u"LimitsExceeded");
        },
        5s);
    const QDBusUnixFileDescriptor pipe =
        reply.arguments().value(0).value<QDBusUnixFileDescriptor>();
    if (!ok(reply) || !pipe.isValid()) {
        return {};
    }
    QByteArray bytes;
    const auto deadline = Clock::now() + 10s;
    pollfd wait{pipe.fileDescriptor(), POLLIN, 0};
    char chunk[65536];
    while (Clock::now() < deadline && ::poll(&wait, 1, 100) >= 0) {
        const ssize_t n = ::read(wait.fd, chunk, sizeof chunk);
        if (n == 0) {
            return bytes;
        }
        if (n > 0) {
            bytes.append(chunk, n);
        }
    }
    return bytes + "<timed out>";
}

bool start(wlharness::QuilletProcess& quillet) {
    // dconf's readers look in $XDG_CONFIG_HOME, which the program has of its own.
    const QDir config(QFileInfo(quillet.settingsFile()).dir().filePath(QStringLiteral("..")));
    QFile::link(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/dconf"),
                config.filePath(QStringLiteral("dconf")));
    // The user agreed to the keybinding before: the program writes it at
    // start, for the shortcut it has, and asks nothing.
    if (QFile settings(quillet.settingsFile());
        !settings.open(QIODevice::Append) ||
        settings.write("hotkeyCode=9\nhotkeyModifiers=1835008\ndesktopShortcutsAllowed=true\n") <=
            0) {
        return false;
    }
    return quillet.start();
}

GtkWindow::GtkWindow(RemoteDesktop& keys, int gtkVersion) : keys_(keys) {
    process_.setProcessChannelMode(QProcess::ForwardedChannels);
    process_.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(QUILLET_GNOME_TARGET),
                                                        QString::number(gtkVersion), dir_.path()});
    started_ = process_.waitForStarted() &&
               waitUntil([&] { return file(QStringLiteral("focus")) == "1"; }, 20s);
}

GtkWindow::~GtkWindow() {
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished();
    }
}

QByteArray GtkWindow::file(const QString& name) const {
    QFile f(dir_.filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString GtkWindow::text() const {
    return QString::fromUtf8(file(QStringLiteral("text")));
}

bool GtkWindow::waitForText(const QString& expected, Clock::duration timeout) const {
    return waitUntil([&] { return text() == expected; }, timeout);
}

void GtkWindow::clear() {
    keys_.chord({XKB_KEY_F7});
    waitForText({});
}

std::vector<std::pair<QString, QByteArray>> GtkWindow::readClipboard() {
    const QString done = dir_.filePath(QStringLiteral("clipboard/done"));
    QFile::remove(done);
    keys_.chord({XKB_KEY_F5});
    if (!waitUntil([&] { return QFile::exists(done); }, 20s)) {
        return {};
    }
    std::vector<std::pair<QString, QByteArray>> formats;
    const QString types = QString::fromUtf8(file(QStringLiteral("clipboard/types")));
    for (const QString& type : types.split(u'\n', Qt::SkipEmptyParts)) {
        formats.emplace_back(type, file(QStringLiteral("clipboard/") +
                                        QString::fromLatin1(QUrl::toPercentEncoding(type))));
    }
    return formats;
}

}  // namespace quillet::gnometest
