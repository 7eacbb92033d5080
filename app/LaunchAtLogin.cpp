#include "LaunchAtLogin.h"

#include "UserDefaults.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
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

// The Exec value that runs program with no arguments, quoted and escaped as the Desktop Entry
// format requires.
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

// Puts the domain back as it was before a change that could not be completed.
void restoreDomain(const std::optional<QJsonObject>& before) {
    if (before) {
        UserDefaults::setPersistentDomain(*before, domainName);
    } else {
        UserDefaults::removePersistentDomain(domainName);
    }
}

// A string value with the Desktop Entry escapes undone (\s, \n, \t, \r and \\); a backslash
// before any other character stays, as GLib's reader leaves it.
QString unescapedValue(const QByteArray& raw) {
    const QString text = QString::fromUtf8(raw);
    QString value;
    value.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (text.at(i) != u'\\') {
            value += text.at(i);
            continue;
        }
        switch (next.unicode()) {
        case u's':
            value += u' ';
            break;
        case u'n':
            value += u'\n';
            break;
        case u't':
            value += u'\t';
            break;
        case u'r':
            value += u'\r';
            break;
        case u'\\':
            value += u'\\';
            break;
        default:
            value += u'\\';
            continue;
        }
        ++i;
    }
    return value;
}

// The program an Exec value (its string escapes undone) starts: the first argument, with the Exec
// quoting undone. Empty when there is none.
QString execProgram(const QString& exec) {
    QString program;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        const QChar next = i + 1 < exec.size() ? exec.at(i + 1) : QChar();
        if (c == u'%' && next == u'%') {
            program += c;
            ++i;
        } else if (quoted && c == u'"') {
            return program;
        } else if (quoted && c == u'\\' &&
                   (next == u'"' || next == u'`' || next == u'$' || next == u'\\')) {
            program += next;
            ++i;
        } else if (!quoted && (c == u' ' || c == u'\t')) {
            if (!program.isEmpty())
                return program;
        } else if (!quoted && c == u'"' && program.isEmpty()) {
            quoted = true;
        } else {
            program += c;
        }
    }
    // A quote that is never closed makes the whole value invalid.
    return quoted ? QString() : program;
}

// Whether program, as an Exec value names it, is the executable at executablePath: the same path,
// or a bare name that PATH leads to it (as in the desktop file we install), or a link to it.
bool sameExecutable(const QString& program, const QString& executablePath) {
    if (program == executablePath)
        return true;
    if (program.isEmpty())
        return false;
    const QString found =
        program.contains(u'/') ? program : QStandardPaths::findExecutable(program);
    const QString canonical = QFileInfo(found).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(executablePath).canonicalFilePath();
}

// What the autostart file's main group says: the program its Exec starts, and whether the
// desktop's own settings switched it off (KDE and XFCE write Hidden=true, GNOME
// X-GNOME-Autostart-enabled=false). Nothing when the file cannot be read.
struct AutostartFile {
    QString program;
    bool switchedOff = false;
};

std::optional<AutostartFile> readAutostartFile() {
    QFile file(autostartFilePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return std::nullopt;
    }
    AutostartFile result;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inMainGroup || equals < 0) {
            continue;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") ||
            (key == "X-GNOME-Autostart-enabled" && value == "false")) {
            result.switchedOff = true;
        } else if (key == "Exec") {
            result.program = execProgram(unescapedValue(value));
        }
    }
    return result;
}

// Whether the desktop will start this executable through the autostart file: the file is there,
// readable, starts this executable (another copy of the program, a build tree's or an installed
// one, may have written it for itself) and is not switched off.
bool autostartFileInEffect(const QString& executablePath) {
    const std::optional<AutostartFile> file = readAutostartFile();
    return file && !file->switchedOff && sameExecutable(file->program, executablePath);
}

QJsonArray withoutEntry(QJsonArray list, const QJsonObject& entry) {
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        if (list.at(i) == entry) {
            list.removeAt(i);
        }
    }
    return list;
}

} // namespace

QString autostartFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/pinglark.desktop");
}

bool isAutoStartEnabled(const QString& executablePath) {
    const std::optional<QJsonObject> domain = UserDefaults::persistentDomainForName(domainName);
    return domain && domain->value(listKey).toArray().contains(entryFor(executablePath)) &&
           autostartFileInEffect(executablePath);
}

bool followDesktopSwitches(const QString& executablePath) {
    const QJsonObject entry = entryFor(executablePath);
    std::optional<QJsonObject> domain = UserDefaults::persistentDomainForName(domainName);
    const QJsonValue stored = domain ? domain->value(listKey) : QJsonValue();
    if (!stored.toArray().contains(entry)) {
        return false;
    }
    if (autostartFileInEffect(executablePath)) {
        return true;
    }
    // Switched off on the desktop, or taken over by another copy: the list follows.
    domain->insert(listKey, withoutEntry(stored.toArray(), entry));
    UserDefaults::setPersistentDomain(*domain, domainName);
    return false;
}

bool enabledAutoStart(bool enable, const QString& executablePath) {
    const QJsonObject entry = entryFor(executablePath);

    // The domain is read once; the list and the rest of the domain come from the same reading.
    bool unreadable = false;
    const std::optional<QJsonObject> before =
        UserDefaults::persistentDomainForName(domainName, &unreadable);
    if (unreadable) {
        // Writing it back would destroy whatever else it holds.
        qWarning("The login items file is not a JSON object; it is left as it is.");
        return false;
    }
    QJsonObject domain = before.value_or(QJsonObject());
    const QJsonValue stored = domain.value(listKey);
    if (!stored.isUndefined() && !stored.isArray()) {
        qWarning("The login items list is not a JSON array; it is left as it is.");
        return false;
    }

    QJsonArray list = withoutEntry(stored.toArray(), entry);
    if (enable) {
        list.append(entry);
    }
    domain.insert(listKey, list);

    // The list and the autostart file change together or not at all. The list is written first
    // when adding and last when removing, so that a process killed in between leaves the list
    // naming us without an autostart file, which the next opening of the menu takes as switched
    // off and sets right, and never an autostart file that the list does not name.
    const QString path = autostartFilePath();
    if (enable) {
        if (!UserDefaults::setPersistentDomain(domain, domainName)) {
            return false;
        }
        if (!writeFileAtomically(path, desktopEntry(executablePath).toUtf8())) {
            restoreDomain(before);
            return false;
        }
        return true;
    }

    std::optional<QByteArray> previousFile;
    QFile file(path);
    // A file that starts another copy of the program is that copy's: ours only leaves the list.
    const std::optional<AutostartFile> current = readAutostartFile();
    const bool othersFile =
        current && !current->program.isEmpty() && !sameExecutable(current->program, executablePath);
    if (!othersFile && file.exists()) {
        if (file.open(QIODevice::ReadOnly)) {
            previousFile = file.readAll();
            file.close();
        }
        if (!file.remove()) {
            qWarning("Cannot remove %s: %s", qUtf8Printable(path),
                     qUtf8Printable(file.errorString()));
            return false;
        }
    }
    if (!UserDefaults::setPersistentDomain(domain, domainName)) {
        if (previousFile) {
            writeFileAtomically(path, *previousFile);
        }
        return false;
    }
    return true;
}

} // namespace LaunchAtLogin
