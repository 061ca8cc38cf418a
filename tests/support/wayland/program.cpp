#include "wayland/program.h"

#include "wait.h"
#include "wayland/session.h"

#include <QDir>
#include <QFile>

namespace quillet::wlharness {

using namespace std::chrono_literals;

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
