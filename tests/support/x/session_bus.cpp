#include "x/session_bus.h"

namespace quillet::harness {

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

}  // namespace quillet::harness
