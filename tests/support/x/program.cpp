#include "x/program.h"

#include "core/keys.h"
#include "x/session_bus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace quillet::harness {

Program::Program(Options options)
    : executable_(std::move(options.executable)),
      configHome_(options.configHome.isEmpty() ? ownConfig_.path() : options.configHome) {
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { readOutput(); });
    process_.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome_);
    env.insert(QStringLiteral("XDG_STATE_HOME"), configHome_ + QStringLiteral("/state"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir_.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    process_.setProcessEnvironment(env);
    process_.setProgram(isQuillet() ? QStringLiteral(QUILLET_BIN) : executable_);

    if (!isQuillet() || !options.storeShortcut || QFile::exists(settingsFile())) {
        return;
    }
    // Stored the way the program stores them, as on every start after the first.
    QDir().mkpath(QFileInfo(settingsFile()).path());
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QString::fromUtf16(kHotkeyCodeKey), kDefaultShortcut.keyCode);
    settings.setValue(QString::fromUtf16(kHotkeyModifiersKey),
                      static_cast<qulonglong>(kDefaultShortcut.modifiers));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        fail("cannot store its settings");
    }
    if (options.run) {
        QDir().mkpath(QFileInfo(stateFile()).path());
        QFile file(stateFile());
        if (!file.open(QIODevice::WriteOnly) || file.write(encodeAppState(*options.run).json) < 0) {
            fail("cannot store its run");
        }
    }
}

Program::~Program() {
    stop();
}

void Program::setEnvironment(const QString& name, const QString& value) {
    QProcessEnvironment env = process_.processEnvironment();
    env.insert(name, value);
    process_.setProcessEnvironment(env);
}

bool Program::fail(const std::string& message) {
    if (error_.empty()) {
        error_ = QFileInfo(process_.program()).fileName().toStdString() + ": " + message;
        if (!output().isEmpty()) {
            error_ += "\nit said:\n" + output_.toStdString();
        }
    }
    return false;
}

void Program::readOutput() {
    output_ += process_.readAllStandardOutput();
    if (!armedAt_ && output_.contains("Quillet is running")) {
        armedAt_ = Clock::now();
    }
}

const QByteArray& Program::output() {
    readOutput();
    return output_;
}

std::string Program::stacks() const {
    if (!running()) {
        return "(it is not running)";
    }
    QProcess gdb;
    gdb.setProcessChannelMode(QProcess::MergedChannels);
    gdb.start(QStringLiteral("gdb"),
              {QStringLiteral("-p"), QString::number(pid()), QStringLiteral("-batch"),
               QStringLiteral("-ex"), QStringLiteral("thread apply all bt")});
    if (!gdb.waitForFinished(60000)) {
        gdb.kill();
        gdb.waitForFinished(5000);
        return "(no stacks: gdb " + gdb.errorString().toStdString() + ")";
    }
    return "its stacks:\n" + gdb.readAll().toStdString();
}

bool Program::waitForOutput(const QByteArray& text, Clock::duration timeout) {
    return waitUntil([&] { return output().contains(text); }, timeout);
}

Program::CommandResult Program::command(const QStringList& arguments, Clock::duration deadline) {
    QProcess command;
    command.setProcessEnvironment(process_.processEnvironment());
    command.start(QStringLiteral(QUILLET_BIN), arguments);
    const bool ended = command.waitForFinished(
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline).count()));
    if (!ended) {
        command.kill();
        command.waitForFinished();
    }
    return {command.readAllStandardOutput(), command.readAllStandardError(),
            ended && command.exitStatus() == QProcess::NormalExit ? command.exitCode() : -1};
}

bool Program::launch() {
    if (!error_.empty()) {
        return false;
    }
    // A bus of its own unless the test gave one: never the user's (its
    // notices would go to the desktop), and never one shared with another
    // test's program (commands would reach the wrong one).
    if (!busless_ &&
        !process_.processEnvironment().contains(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"))) {
        ownBus_ = std::make_unique<SessionBus>();
        if (ownBus_->address().isEmpty()) {
            return fail("no session bus of its own");
        }
        setEnvironment(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), ownBus_->address());
    }
    output_.clear();
    armedAt_.reset();
    startedAt_ = Clock::now();
    process_.start();
    return process_.waitForStarted(5000) || fail("it did not start");
}

bool Program::start() {
    if (!launch()) {
        return false;
    }
    if (!waitUntil([&] { return !running() || !isQuillet() || armedAt_; }, 15s)) {
        return fail("it did not say it runs within 15 s");
    }
    if (!running()) {
        return fail("it ended at start-up");
    }
    return !isQuillet() || output().contains("Quillet is running. Press") ||
           fail("it runs without its shortcut");
}

bool Program::stop() {
    if (running()) {
        process_.terminate();
        if (!waitForExit(10s)) {
            const std::string hung = stacks();
            kill();
            return fail("it ignored SIGTERM for 10 s; " + hung);
        }
    }
    // The bare program has no handler: SIGTERM ends it by default.
    return !isQuillet() || exitCode() == 0 ||
           fail("it exited with status " + std::to_string(exitCode()));
}

void Program::kill() {
    process_.kill();
    process_.waitForFinished(5000);
}

bool Program::waitForExit(Clock::duration timeout) {
    return waitUntil([&] { return !running(); }, timeout);
}

int Program::exitCode() const {
    return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString Program::settingsFile() const {
    return configHome_ + QStringLiteral("/tarnwick/Quillet.conf");
}

QVariant Program::stored(const QString& key) const {
    return QSettings(settingsFile(), QSettings::IniFormat).value(key);
}

void Program::store(const QVariantMap& values) const {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    for (auto value = values.begin(); value != values.end(); ++value) {
        settings.setValue(value.key(), value.value());
    }
}

QString Program::stateFile() const {
    return configHome_ + QStringLiteral("/state/tarnwick/Quillet.json");
}

std::optional<AppState> Program::storedRun() const {
    QFile file(stateFile());
    return file.open(QIODevice::ReadOnly) ? decodeAppState(file.readAll()) : std::nullopt;
}

std::int64_t Program::storedIndex() const {
    const auto run = storedRun();
    return run ? run->currentIndex : -1;
}

bool Program::waitForIndex(std::int64_t index, Clock::duration timeout) const {
    return waitUntil([&] { return storedIndex() == index; }, timeout);
}

}  // namespace quillet::harness
