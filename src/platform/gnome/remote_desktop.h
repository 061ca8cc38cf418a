#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quillet::gnome {

// What a clipboard session hears from the desktop, on the thread its relay
// lives on.
struct SessionEvents {
    std::function<void()> closed;
    // Somebody took the clipboard (ours: this session), offering these types.
    std::function<void(const QStringList& mimeTypes, bool ours)> ownerChanged;
    // A program asks for a type of what this session offers.
    std::function<void(const QString& mimeType, uint serial)> transfer;
};

// A remote-desktop session, by the method names mutter's own API and the
// portal share. Calls block and may come from any thread; the events arrive
// through a SignalRelay.
class RemoteDesktop {
public:
    virtual ~RemoteDesktop() = default;

    // The session exists (created, not yet closed by anybody).
    virtual bool open() const = 0;
    // Shows the screen-sharing indicator; the keys need it, the clipboard not.
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool notifyKeyboardKeysym(std::uint32_t keysym, bool pressed) = 0;
    virtual bool enableClipboard() = 0;
    virtual bool setSelection(const QStringList& mimeTypes) = 0;
    // The pipe the owner writes the type to, non-blocking. `error` gets the
    // D-Bus error's message when there is none.
    virtual std::optional<QDBusUnixFileDescriptor> selectionRead(const QString& mimeType,
                                                                 QString* error) = 0;
    virtual std::optional<QDBusUnixFileDescriptor> selectionWrite(uint serial) = 0;
    virtual bool selectionWriteDone(uint serial, bool success) = 0;
    // Returns once the session's events sent before this call are on their
    // way to the relay's thread.
    virtual bool roundTrip() = 0;
};

// Hands the session's D-Bus signals on as SessionEvents, on its own thread.
class SignalRelay final : public QObject {
    Q_OBJECT

public:
    explicit SignalRelay(SessionEvents events) : events_(std::move(events)) {}

public Q_SLOTS:
    void onClosed(const QDBusMessage& message);
    void onOwnerChanged(const QDBusMessage& message);
    void onTransfer(const QDBusMessage& message);

private:
    SessionEvents events_;
};

// org.gnome.Mutter.RemoteDesktop: granted to any program of the session, no
// dialog. A session never started shows no indicator and ends with the bus
// connection.
class MutterRemoteDesktop final : public RemoteDesktop {
public:
    // Creates the session; open() tells whether that worked. A relay, where
    // given, gets its signals until this object goes.
    explicit MutterRemoteDesktop(QDBusConnection connection, SignalRelay* relay = nullptr);
    ~MutterRemoteDesktop() override;
    MutterRemoteDesktop(const MutterRemoteDesktop&) = delete;
    MutterRemoteDesktop& operator=(const MutterRemoteDesktop&) = delete;

    // Whether mutter's API answers on the bus.
    static bool offered(const QDBusConnection& connection);

    bool open() const override;
    bool start() override;
    void stop() override;
    bool notifyKeyboardKeysym(std::uint32_t keysym, bool pressed) override;
    bool enableClipboard() override;
    bool setSelection(const QStringList& mimeTypes) override;
    std::optional<QDBusUnixFileDescriptor> selectionRead(const QString& mimeType,
                                                         QString* error) override;
    std::optional<QDBusUnixFileDescriptor> selectionWrite(uint serial) override;
    bool selectionWriteDone(uint serial, bool success) override;
    bool roundTrip() override;

private:
    QDBusMessage call(const QString& method, const QVariantList& arguments) const;
    bool succeeds(const QString& method, const QVariantList& arguments) const;
    void connectSignals(bool on);

    QDBusConnection connection_;
    QString path_;                 // the session's object, empty when none could be made
    QPointer<SignalRelay> relay_;  // the relay may go first
    bool started_ = false;
};

// A session of the kind the clipboard or the keys use, made anew each time
// one is needed.
using RemoteDesktopFactory = std::function<std::unique_ptr<RemoteDesktop>(SignalRelay* relay)>;

}  // namespace quillet::gnome
