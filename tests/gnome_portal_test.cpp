// The GNOME backend over the RemoteDesktop portal's clipboard (GNOME 45 and
// later), against a portal of the test's own on a private bus.

#include "platform/gnome/clipboard_gnome.h"
#include "platform/gnome/paste_keystroke_gnome.h"
#include "platform/gnome/portal_remote_desktop.h"
#include "platform/portal/portal_request.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>

#include <gtest/gtest.h>

#include "wait.h"

#include <future>
#include <map>
#include <set>

#include <unistd.h>
#include <xkbcommon/xkbcommon-keysyms.h>

namespace quillet {
namespace {

using harness::waitUntil;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

const QString kClipboardInterface = u"org.freedesktop.portal.Clipboard"_s;

// The portal as GNOME 45 has it: grants every request, starts sessions with
// the keyboard and, when asked before the start, the clipboard. Another
// program's copy is `theirs`; what the session offers is read back through
// SelectionWrite as a pasting program would.
class FakePortal final : public QDBusVirtualObject {
public:
    explicit FakePortal(QDBusConnection connection) : connection_(std::move(connection)) {
        connection_.registerVirtualObject(portal::path(), this, QDBusConnection::SubPath);
        connection_.registerService(portal::service());
    }

    QString introspect(const QString& /*path*/) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        const QVariantList arguments = message.arguments();
        const QString session = arguments.value(0).value<QDBusObjectPath>().path();
        QDBusMessage reply = message.createReply();
        if (member == u"Get") {
            const uint version = arguments.value(0).toString() == kClipboardInterface ? 1 : 2;
            reply = message.createReply(QVariant::fromValue(QDBusVariant(version)));
        } else if (member == u"RequestClipboard") {
            clipboardAsked = session == session_;
        } else if (member == u"NotifyKeyboardKeysym") {
            keysyms.push_back({arguments.value(2).toUInt(), arguments.value(3).toUInt() == 1});
        } else if (member == u"SetSelection") {
            ours = qdbus_cast<QVariantMap>(arguments.value(1))[u"mime_types"_s].toStringList();
            ownerChanged(ours, true);
        } else if (member == u"SelectionRead") {
            // Mutter takes one read at a time: the first one of each type is refused.
            const QString type = arguments.value(1).toString();
            if (refused_.insert(type).second) {
                reply = message.createErrorReply(u"org.freedesktop.DBus.Error.LimitsExceeded"_s,
                                                 u"Tried to read in parallel"_s);
            } else {
                reply = message.createReply(QVariant::fromValue(pipeWith(theirs[type])));
            }
        } else if (member == u"SelectionWrite") {
            int ends[2];
            EXPECT_EQ(pipe(ends), 0);
            written_[arguments.value(1).toUInt()] = ends[0];
            QDBusUnixFileDescriptor end(ends[1]);
            ::close(ends[1]);
            reply = message.createReply(QVariant::fromValue(end));
        } else if (member == u"SelectionWriteDone") {
            const int fd = written_[arguments.value(1).toUInt()];
            QByteArray data;
            char chunk[4096];
            for (ssize_t n = 0; arguments.value(2).toBool() && (n = ::read(fd, chunk, 4096)) > 0;) {
                data.append(chunk, n);
            }
            ::close(fd);
            fetched[arguments.value(1).toUInt()] = data;
        } else if (member == u"CreateSession" || member == u"SelectDevices" || member == u"Start") {
            return request(message, connection);
        }
        connection.send(reply);
        return true;
    }

    // Another program copies.
    void copy(std::map<QString, QByteArray> formats) {
        theirs = std::move(formats);
        QStringList types;
        for (const auto& [type, bytes] : theirs) {
            types << type;
        }
        ownerChanged(types, false);
    }
    // A program pastes: asks for a type of what the session offers.
    void paste(const QString& type, uint serial) {
        QDBusMessage transfer =
            QDBusMessage::createSignal(portal::path(), kClipboardInterface, u"SelectionTransfer"_s);
        transfer << QVariant::fromValue(QDBusObjectPath(session_)) << type << serial;
        connection_.send(transfer);
    }
    void close() {
        QDBusMessage closed =
            QDBusMessage::createSignal(session_, u"org.freedesktop.portal.Session"_s, u"Closed"_s);
        closed << QVariantMap();
        connection_.send(closed);
    }

    int sessions = 0;
    bool clipboardAsked = false;
    QStringList restoreTokens;  // as each SelectDevices brought it
    std::vector<std::pair<uint, bool>> keysyms;
    std::map<QString, QByteArray> theirs;
    QStringList ours;
    std::map<uint, QByteArray> fetched;

private:
    bool request(const QDBusMessage& message, const QDBusConnection& connection) {
        const auto options = qdbus_cast<QVariantMap>(message.arguments().constLast());
        QString sender = message.service().mid(1);
        sender.replace(u'.', u'_');
        const QString path =
            portal::path() + u"/request/"_s + sender + u'/' + options[u"handle_token"_s].toString();
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        QVariantMap results;
        if (message.member() == u"CreateSession") {
            session_ =
                portal::path() + u"/session/"_s + sender + u"/s"_s + QString::number(++sessions);
            results[u"session_handle"_s] = session_;
        } else if (message.member() == u"SelectDevices") {
            restoreTokens << options.value(u"restore_token"_s).toString();
        } else {
            results[u"devices"_s] = 1U;
            results[u"clipboard_enabled"_s] = clipboardAsked;
            results[u"restore_token"_s] = u"token-"_s + QString::number(sessions);
        }
        QDBusMessage response =
            QDBusMessage::createSignal(path, u"org.freedesktop.portal.Request"_s, u"Response"_s);
        response << 0U << results;
        connection.send(response);
        return true;
    }

    void ownerChanged(const QStringList& types, bool isOurs) {
        QDBusMessage changed = QDBusMessage::createSignal(portal::path(), kClipboardInterface,
                                                          u"SelectionOwnerChanged"_s);
        changed << QVariant::fromValue(QDBusObjectPath(session_))
                << QVariantMap{{u"mime_types"_s, types}, {u"session_is_owner"_s, isOurs}};
        connection_.send(changed);
    }

    static QDBusUnixFileDescriptor pipeWith(const QByteArray& data) {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        EXPECT_EQ(::write(ends[1], data.constData(), data.size()), data.size());
        ::close(ends[1]);
        QDBusUnixFileDescriptor end(ends[0]);
        ::close(ends[0]);
        return end;
    }

    QDBusConnection connection_;
    QString session_;
    std::set<QString> refused_;
    std::map<uint, int> written_;
};

// Blocking calls go out from a worker, as the program makes them, while this
// thread answers for the portal.
template <typename Work>
auto onWorker(Work work) {
    auto result = std::async(std::launch::async, std::move(work));
    EXPECT_TRUE(waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 20s));
    return result.get();
}

TEST(GnomePortal, ClipboardAndKeysThroughOneSessionMadeAnewOnceClosed) {
    QProcess daemon;
    daemon.start(u"dbus-daemon"_s,
                 {u"--config-file=" QUILLET_BUS_CONFIG ""_s, u"--nofork"_s, u"--print-address"_s});
    ASSERT_TRUE(daemon.waitForReadyRead(10'000)) << "needs dbus-daemon";
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    FakePortal portal(QDBusConnection::connectToBus(address, u"fake-portal"_s));
    const QDBusConnection client = QDBusConnection::connectToBus(address, u"client"_s);
    ASSERT_TRUE(client.isConnected());
    ASSERT_TRUE(onWorker([&] { return gnome::PortalRemoteDesktop::offered(client); }));

    const auto first = onWorker(
        [&] { return std::make_shared<gnome::PortalRemoteDesktop>(client, u"kept"_s, 10s); });
    ASSERT_TRUE(first->clipboardWorks());
    EXPECT_EQ(portal.restoreTokens, QStringList{u"kept"_s});
    EXPECT_EQ(first->restoreToken(), u"token-1"_s);
    QStringList tokens;
    const auto sessions =
        gnome::portalSessions(first, client, [&](const QString& token) { tokens << token; });
    ClipboardGnome clipboard(sessions);
    PasteKeystrokeGnome keys(sessions);

    // Read whole, after the portal refused a read in parallel.
    QByteArray png(30'000, '\0');
    for (int i = 0; i < png.size(); ++i) {
        png[i] = static_cast<char>(i * 7);
    }
    portal.copy({{u"text/plain;charset=utf-8"_s, "one\ntwo"}, {u"image/png"_s, png}});
    const ClipboardRead read = onWorker([&] { return clipboard.read(); });
    ASSERT_EQ(read.status, ClipboardRead::Status::Read);
    EXPECT_EQ(read.content.text, u"one\ntwo"_s);
    EXPECT_EQ(read.content.formats.size(), 2U);

    // The line goes out marked; a paste fetches its text, whole.
    ASSERT_TRUE(onWorker([&] { return clipboard.writeLine(u"one"_s); }));
    EXPECT_TRUE(portal.ours.contains(u"x-kde-passwordManagerHint"_s));
    clipboard.arm();
    ASSERT_TRUE(onWorker([&] { return keys.postPasteChord(PasteMethod::ControlV); }));
    const std::vector<std::pair<uint, bool>> chord{{XKB_KEY_Control_L, true},
                                                   {XKB_KEY_v, true},
                                                   {XKB_KEY_v, false},
                                                   {XKB_KEY_Control_L, false}};
    EXPECT_EQ(portal.keysyms, chord);
    portal.paste(u"text/plain;charset=utf-8"_s, 7);
    EXPECT_EQ(onWorker([&] { return clipboard.waitForFetch(3s); }), FetchResult::Fetched);
    EXPECT_EQ(portal.fetched[7], "one");

    // Put back byte for byte, and read from memory while it is ours.
    ASSERT_TRUE(onWorker([&] { return clipboard.restore(read.content); }));
    portal.paste(u"image/png"_s, 8);
    ASSERT_TRUE(waitUntil([&] { return portal.fetched.count(8) == 1; }, 5s));
    EXPECT_EQ(portal.fetched[8], png);
    const ClipboardRead again = onWorker([&] { return clipboard.read(); });
    EXPECT_TRUE(again.putBack);
    EXPECT_EQ(again.content, read.content);

    // The desktop ends the session: the next use makes one, with the token.
    portal.close();
    ASSERT_TRUE(onWorker([&] { return clipboard.writeLine(u"two"_s); }));
    EXPECT_EQ(portal.sessions, 2);
    EXPECT_EQ(portal.restoreTokens, (QStringList{u"kept"_s, u"token-1"_s}));
    EXPECT_EQ(tokens, QStringList{u"token-2"_s});
    EXPECT_TRUE(onWorker([&] { return keys.postFollowKey(FollowKey::Tab); }));
    EXPECT_EQ(portal.keysyms.back(), std::pair(uint{XKB_KEY_Tab}, false));
}

}  // namespace
}  // namespace quillet
