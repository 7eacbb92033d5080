#include "LaunchAtLogin.h"

#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtDebug>

namespace LaunchAtLogin {

namespace {

const QString domainName = QStringLiteral("loginwindow");
const QString listKey = QStringLiteral("AutoLaunchedApplicationDictionary");

// Seconds GNOME waits before starting us, so that the tray extension is up when the icon appears.
constexpr int gnomeAutostartDelay = 5;

QJsonObject entryFor(const QString& executablePath) {
    return QJsonObject{{QStringLiteral("Hide"), false}, {QStringLiteral("Path"), executablePath}};
}

QString desktopEntry(const QString& executablePath) {
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=Pinglark\n");
    text += QStringLiteral("Comment=News feed notifier for the system tray\n");
    text += QStringLiteral("Exec=") + desktopExecValue(executablePath) + QLatin1Char('\n');
    text += QStringLiteral("Icon=pinglark\n");
    text += QStringLiteral("Terminal=false\n");
    // Start once the panel that hosts the tray icon is there.
    text += QStringLiteral("X-GNOME-Autostart-Delay=%1\n").arg(gnomeAutostartDelay);
    text += QStringLiteral("X-KDE-autostart-after=panel\n");
    text += QStringLiteral("X-LXQt-Need-Tray=true\n");
    return text;
}

bool writeAutostartFile(const QString& executablePath) {
    const QString path = autostartFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        qWarning("Cannot create the folder of %s.", qUtf8Printable(path));
        return false;
    }
    QSaveFile file(path);
    const QByteArray bytes = desktopEntry(executablePath).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qWarning("Cannot write %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

bool removeAutostartFile() {
    const QString path = autostartFilePath();
    if (!QFileInfo::exists(path) || QFile::remove(path)) {
        return true;
    }
    qWarning("Cannot remove %s.", qUtf8Printable(path));
    return false;
}

} // namespace

QString autostartFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/pinglark.desktop");
}

QString desktopExecValue(const QString& program) {
    // First the Exec rules: the argument in double quotes, with '"', '`', '$' and '\' preceded
    // by a backslash, and '%' doubled so that it is no field code.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            quoted += QLatin1Char('\\');
        } else if (c == u'%') {
            quoted += QLatin1Char('%');
        }
        quoted += c;
    }
    quoted += QLatin1Char('"');

    // Then the escapes of every string value, which a reader undoes before the Exec rules:
    // a literal backslash in the path ends up as four.
    QString value;
    for (const QChar c : quoted) {
        switch (c.unicode()) {
        case u'\\':
            value += QStringLiteral("\\\\");
            break;
        case u'\n':
            value += QStringLiteral("\\n");
            break;
        case u'\t':
            value += QStringLiteral("\\t");
            break;
        case u'\r':
            value += QStringLiteral("\\r");
            break;
        default:
            value += c;
        }
    }
    return value;
}

bool isAutoStartEnabled(const QString& executablePath) {
    const std::optional<QJsonObject> domain = UserDefaults::persistentDomainForName(domainName);
    return domain && domain->value(listKey).toArray().contains(entryFor(executablePath));
}

void enabledAutoStart(bool enable, const QString& executablePath) {
    const QJsonObject entry = entryFor(executablePath);

    // The domain is read once; the list and the rest of the domain come from the same reading.
    std::optional<QJsonObject> domain = UserDefaults::persistentDomainForName(domainName);
    if (!domain) {
        if (UserDefaults::persistentDomainIsUnreadable(domainName)) {
            // Writing it back would destroy whatever else it holds.
            qWarning("The login items file is not a JSON object; it is left as it is.");
            return;
        }
        domain = QJsonObject();
    }
    const QJsonValue stored = domain->value(listKey);
    if (!stored.isUndefined() && !stored.isArray()) {
        qWarning("The login items list is not a JSON array; it is left as it is.");
        return;
    }

    QJsonArray list = stored.toArray();
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        if (list.at(i) == entry) {
            list.removeAt(i);
        }
    }
    if (enable) {
        list.append(entry);
    }
    domain->insert(listKey, list);

    if (!UserDefaults::setPersistentDomain(*domain, domainName)) {
        // The list on disk is unchanged, and so stays the autostart file that mirrors it.
        return;
    }
    if (enable) {
        writeAutostartFile(executablePath);
    } else {
        removeAutostartFile();
    }
}

} // namespace LaunchAtLogin
