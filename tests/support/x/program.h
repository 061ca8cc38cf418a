#pragma once

// The program under test, on the X server of the session.

#include "core/app_state.h"
#include "wait.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quillet::harness {

class SessionBus;

// A program under test in a process of its own, with settings and runtime
// folders of its own, so that nothing of the user's is touched.
class Program {
public:
    struct Options {
        QString executable;           // Quillet when empty
        QString configHome;           // shared with other runs (the state too); fresh when empty
        bool storeShortcut = true;    // false: nothing stored, as on a first run
        std::optional<AppState> run;  // stored before the start
    };

    Program() : Program(Options{}) {}
    explicit Program(Options options);
    // Another run in the settings folder of an earlier one.
    explicit Program(const QString& configHome, bool storeShortcut = true)
        : Program(Options{{}, configHome, storeShortcut, {}}) {}
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void setEnvironment(const QString& name, const QString& value);
    // No session bus at all: no address, and none where libdbus would look.
    void withoutBus() { busless_ = true; }
    bool launch();
    // Launches it; Quillet is ready once it says it runs with its shortcut.
    bool start();
    // SIGTERM, then waits: true when it ended cleanly (Quillet with status 0).
    bool stop();
    void kill();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    bool waitForExit(Clock::duration timeout = 10s);
    int exitCode() const;  // -1 when it did not exit by itself

    const QByteArray& output();  // stdout and stderr so far
    // Every thread's stack while it runs, for a program that hangs; says why
    // when there is none.
    std::string stacks() const;
    bool waitForOutput(const QByteArray& text, Clock::duration timeout = 10s);
    // Runs the `quillet` command with these arguments where the program runs
    // (its bus, its folders); it is killed at the deadline.
    struct CommandResult {
        QByteArray output;  // stdout
        QByteArray errors;  // stderr
        int exitCode = -1;  // -1 when it did not end by itself in time
    };
    CommandResult command(const QStringList& arguments, Clock::duration deadline = 10s);
    const std::string& error() const { return error_; }
    // Keeps the first reason it is not usable, with what it said; false.
    bool fail(const std::string& message);

    qint64 pid() const { return process_.processId(); }
    QString configHome() const { return configHome_; }
    QString busAddress() const {
        return process_.processEnvironment().value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    }
    QString settingsFile() const;
    // The run's file, in a state folder beside the settings folder.
    QString stateFile() const;
    QVariant stored(const QString& key) const;
    // Stores settings as the user would before a start.
    void store(const QVariantMap& values) const;
    // The stored run, when there is one that decodes, and its cursor (-1 without).
    std::optional<AppState> storedRun() const;
    std::int64_t storedIndex() const;
    // Until the cursor is here: the press that moved it is done.
    bool waitForIndex(std::int64_t index, Clock::duration timeout = 10s) const;

    Clock::time_point startedAt() const { return startedAt_; }
    std::optional<Clock::time_point> armedAt() const { return armedAt_; }

private:
    bool isQuillet() const { return executable_.isEmpty(); }
    void readOutput();

    std::unique_ptr<SessionBus> ownBus_;  // outlives the process
    bool busless_ = false;
    QString executable_;
    QTemporaryDir ownConfig_;
    QTemporaryDir runtimeDir_;
    QString configHome_;
    QProcess process_;
    QByteArray output_;
    std::string error_;
    Clock::time_point startedAt_;
    std::optional<Clock::time_point> armedAt_;
};

}  // namespace quillet::harness
