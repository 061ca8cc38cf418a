#pragma once

#include <QProcess>
#include <QString>

namespace quillet::harness {

// A D-Bus session bus of the test's own, ended with this object.
class SessionBus {
public:
    SessionBus();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    const QString& address() const { return address_; }  // empty when it did not start

private:
    QProcess daemon_;
    QString address_;
};

}  // namespace quillet::harness
