#include "wayland/session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QProcess>

#include <algorithm>

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

QProcessEnvironment environmentWith(const QStringList& entries, QProcessEnvironment env) {
    for (const QString& entry : entries) {
        const auto equals = entry.indexOf(u'=');
        env.insert(entry.left(equals), entry.mid(equals + 1));
    }
    return env;
}

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

}  // namespace quillet::wlharness
