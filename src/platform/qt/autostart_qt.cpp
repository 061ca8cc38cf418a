#include "platform/qt/autostart_qt.h"

#include "platform/app_id.h"
#include "platform/qt/private_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace quillet {

namespace {

// Characters that make a desktop's Exec parser split or expand an argument.
constexpr QStringView kReserved = u" \t\n\"'\\><~|&;$*?#()`";

// Whether the entry's own [Desktop Entry] group switches it off: Hidden is
// the standard key, GNOME's settings write the other.
bool switchedOff(QFile& file) {
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inMainGroup || equals < 0) {
            continue;
        }
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if ((key == u"Hidden" && value == u"true") ||
            (key == u"X-GNOME-Autostart-enabled" && value == u"false")) {
            return true;
        }
    }
    return false;
}

}  // namespace

QString AutostartQt::filePath() {
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    // Relative paths are invalid by the XDG rules and count as unset.
    if (home.isEmpty() || QDir::isRelativePath(home)) {
        home = QDir::homePath() + QStringLiteral("/.config");
    }
    return home + QStringLiteral("/autostart/") + QLatin1StringView(kAppId) +
           QStringLiteral(".desktop");
}

QString AutostartQt::execValue(const QString& program) {
    QString argument = program;
    if (std::any_of(program.begin(), program.end(),
                    [](QChar c) { return kReserved.contains(c); })) {
        argument.clear();
        for (const QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
                argument += u'\\';
            }
            argument += c;
        }
        argument = u'"' + argument + u'"';
    }
    // Field codes, then the escapes of every string value, which a reader
    // undoes first.
    argument.replace(u'%', QStringLiteral("%%"));
    argument.replace(u'\\', QStringLiteral("\\\\"));
    argument.replace(u'\n', QStringLiteral("\\n"));
    argument.replace(u'\r', QStringLiteral("\\r"));
    return argument;
}

bool AutostartQt::enabled() const {
    QFile file(filePath());
    return file.open(QIODevice::ReadOnly) && !switchedOff(file);
}

QString AutostartQt::setEnabled(bool enabled) {
    const QString path = filePath();
    if (!enabled) {
        QFile file(path);
        if (!file.exists() || file.remove()) {
            return {};
        }
        return QStringLiteral("cannot remove %1: %2").arg(path, file.errorString());
    }
    // A missing folder shows up below as the file that cannot be opened.
    makePrivateFolders(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QByteArray entry = QStringLiteral(
                                 "[Desktop Entry]\n"
                                 "Type=Application\n"
                                 "Name=Quillet\n"
                                 "Comment=Pastes a copied list one line per press\n"
                                 "Exec=%1\n"
                                 "Icon=%2\n"
                                 "Terminal=false\n")
                                 .arg(execValue(program_), QLatin1StringView(kAppId))
                                 .toUtf8();
    // What runs at login is the user's to change alone, whatever the umask.
    constexpr auto kMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                           QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(kMode) ||
        file.write(entry) != entry.size() || !file.commit()) {
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    return {};
}

}  // namespace quillet
