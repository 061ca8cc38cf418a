#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace quillet::wlharness {

// The program under test, with settings of its own ("key=value" lines of
// its settings file) on the session's compositor and bus, and what the
// environment should hold besides ("NAME=value").
class QuilletProcess {
public:
    explicit QuilletProcess(const QStringList& settings = {}, const QStringList& environment = {});
    ~QuilletProcess();
    QuilletProcess(const QuilletProcess&) = delete;
    QuilletProcess& operator=(const QuilletProcess&) = delete;

    bool start();  // and waits until it says it runs
    // SIGTERM, then waits; the exit code (-1 when it did not end cleanly).
    int stop();
    QByteArray standardError();
    QString settingsFile() const;
    // Where the run is kept; rewritten after every press.
    QString stateFile() const;
    qint64 pid() const { return process_.processId(); }

private:
    QTemporaryDir config_;
    QProcess process_;
    QByteArray errors_;
};

}  // namespace quillet::wlharness
