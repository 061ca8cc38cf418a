#include "platform/qt/settings_store_qt.h"

#include "core/stored_value.h"
#include "platform/qt/private_folder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet {

namespace {

QSettings openSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("tarnwick"),
                     QStringLiteral("Quillet"));
}

// Creates the folders owner-only whatever the umask, and the file too, and
// narrows the file when it exists with a wider mode. QSettings keeps the mode
// of an existing file when it replaces it. A folder that exists is left as
// it is: it may be shared on purpose.
void makePrivate(const QString& fileName) {
    makePrivateFolders(QFileInfo(fileName).absolutePath());
    const QByteArray file = QFile::encodeName(fileName);
    const int fd = ::open(file.constData(),
                          O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY,
                          S_IRUSR | S_IWUSR);
    if (fd >= 0) {
        ::fchmod(fd, S_IRUSR | S_IWUSR);
        ::close(fd);
    }
}

// Editors on some systems start a UTF-8 file with a byte-order mark, which
// QSettings takes for part of the first line; it is dropped before it reads.
void dropByteOrderMark(const QString& fileName) {
    constexpr QByteArrayView kMark("\xEF\xBB\xBF");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.peek(kMark.size()) != kMark) {
        return;
    }
    const QByteArray contents = file.readAll().sliced(kMark.size());
    file.close();
    QSaveFile saved(fileName);
    if (saved.open(QIODevice::WriteOnly) && saved.write(contents) == contents.size()) {
        saved.commit();
    }
}

// QSettings reads what it can of a damaged file and drops the rest on its
// next write; the damaged file is kept beside it instead, for the user.
void setAsideIfDamaged(const QString& fileName) {
    // Only this file, not the system-wide ones behind it; it is parsed on first use.
    const QSettings settings(fileName, QSettings::IniFormat);
    static_cast<void>(settings.allKeys());
    if (settings.status() != QSettings::FormatError) {
        return;
    }
    const QString aside =
        fileName + QStringLiteral(".bad-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddThhmmsszzz"));
    if (QFile::rename(fileName, aside)) {
        std::cerr << "quillet: the settings file could not be read; it was moved to "
                  << aside.toStdString() << " and Quillet starts with default settings.\n";
    }
}

}  // namespace

SettingsStoreQt::SettingsStoreQt() {
    // Private before a damaged file is set aside (it keeps its mode), and the
    // new one after.
    makePrivate(filePath());
    dropByteOrderMark(filePath());
    setAsideIfDamaged(filePath());
    makePrivate(filePath());
}

QString SettingsStoreQt::filePath() {
    return openSettings().fileName();
}

QVariant SettingsStoreQt::read(const QString& key) const {
    const QSettings settings = openSettings();
    return settings.value(key);
}

bool SettingsStoreQt::write(const QString& key, const QVariant& value) {
    QSettings settings = openSettings();
    settings.setValue(key, value);
    settings.sync();
    // A format error is about what was read; the write itself went through.
    return settings.status() != QSettings::AccessError;
}

std::optional<std::int64_t> SettingsStoreQt::integer(const QString& key) const {
    return stored_value::toInteger(read(key));
}

std::optional<QString> SettingsStoreQt::string(const QString& key) const {
    return stored_value::toString(read(key));
}

std::optional<QByteArray> SettingsStoreQt::data(const QString& key) const {
    return stored_value::toData(read(key));
}

bool SettingsStoreQt::setInteger(const QString& key, std::int64_t value) {
    return write(key, QVariant::fromValue<qint64>(value));
}

bool SettingsStoreQt::setString(const QString& key, const QString& value) {
    return write(key, value);
}

bool SettingsStoreQt::setData(const QString& key, const QByteArray& value) {
    return write(key, value);
}

bool SettingsStoreQt::remove(const QString& key) {
    QSettings settings = openSettings();
    settings.remove(key);
    settings.sync();
    return settings.status() != QSettings::AccessError;
}

bool SettingsStoreQt::synchronize() {
    QSettings settings = openSettings();
    settings.sync();
    return settings.status() != QSettings::AccessError;
}

}  // namespace quillet
