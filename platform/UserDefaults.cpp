#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QtDebug>

#include <charconv>
#include <cmath>
#include <limits>

namespace {

QString configDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// A domain name becomes a file name: refuse anything that would leave the configuration folder.
bool isSafeDomainName(const QString& name) {
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

QString domainPath(const QString& name) {
    return configDirectory() + QLatin1Char('/') + name + QStringLiteral(".json");
}

// A number written as text: "1800", "0.0", "-0", "1e3", with surrounding blanks allowed.
std::optional<double> parseNumber(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok) {
        return std::nullopt;
    }
    return value;
}

// The shortest text that reads back as the same float ("1800", "0.1", "1e+20").
QString floatText(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

UserDefaults UserDefaults::standardUserDefaults() {
    return UserDefaults(configDirectory() + QStringLiteral("/Veltrano/Pinglark.conf"));
}

UserDefaults::UserDefaults(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat)) {
    // Parse the whole file now, so that a damaged one is noticed here and not mistaken later for
    // a failed write. QSettings keeps what it could read; unreadable lines read as absent keys.
    m_settings->allKeys();
    if (m_settings->status() != QSettings::NoError) {
        qWarning("Settings file %s is damaged or unreadable; its unreadable entries are ignored.",
                 qUtf8Printable(filePath));
        reopen();
    }
}

UserDefaults::~UserDefaults() = default;
UserDefaults::UserDefaults(UserDefaults&&) noexcept = default;
UserDefaults& UserDefaults::operator=(UserDefaults&&) noexcept = default;

QString UserDefaults::filePath() const {
    return m_settings ? m_settings->fileName() : QString();
}

void UserDefaults::reopen() {
    // QSettings keeps the first error it meets for the life of the object. A new object over the
    // same file shares its contents and pending changes, retries writing them as it opens, and
    // reports on that attempt alone.
    auto fresh = std::make_unique<QSettings>(m_settings->fileName(), QSettings::IniFormat);
    m_settings = std::move(fresh);
}

std::optional<QString> UserDefaults::storedText(const QString& key) const {
    if (!m_settings) {
        return std::nullopt;
    }
    const QVariant value = m_settings->value(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    // An unquoted comma in a hand-edited file makes QSettings read a list.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    return value.toString();
}

bool UserDefaults::contains(const QString& key) const {
    return m_settings && m_settings->contains(key);
}

bool UserDefaults::boolForKey(const QString& key) const {
    const std::optional<QString> text = storedText(key);
    if (!text) {
        return false;
    }
    const QString word = text->trimmed();
    if (word.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
        word.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    // QVariant::toBool() would call "0.0" true: compare the number itself with zero.
    const std::optional<double> number = parseNumber(word);
    return number && !std::isnan(*number) && *number != 0.0;
}

float UserDefaults::floatForKey(const QString& key) const {
    const std::optional<QString> text = storedText(key);
    if (!text) {
        return 0.0f;
    }
    const std::optional<double> number = parseNumber(*text);
    if (!number || std::isnan(*number)) {
        return 0.0f;
    }
    // Converting a double beyond the float range is undefined; it means an infinite period.
    constexpr double largest = std::numeric_limits<float>::max();
    if (*number > largest) {
        return std::numeric_limits<float>::infinity();
    }
    if (*number < -largest) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(*number);
}

std::optional<QString> UserDefaults::stringForKey(const QString& key) const {
    return storedText(key);
}

// Every value is stored as text, written the way the file shows it ("true", "1800"), so that a
// read in this run sees exactly what a read after a restart will see.
void UserDefaults::setBool(bool value, const QString& key) {
    write(key, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void UserDefaults::setFloat(float value, const QString& key) {
    write(key, floatText(value));
}

void UserDefaults::setString(const QString& value, const QString& key) {
    write(key, value);
}

void UserDefaults::removeObject(const QString& key) {
    if (!m_settings) {
        return;
    }
    m_settings->remove(key);
    flush();
}

void UserDefaults::write(const QString& key, const QString& text) {
    if (!m_settings) {
        return;
    }
    m_settings->setValue(key, text);
    flush();
}

bool UserDefaults::flush() {
    if (!m_settings) {
        return false;
    }
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError) {
        return true;
    }
    // The error may be an old one; ask again with a fresh object.
    reopen();
    if (m_settings->status() == QSettings::AccessError) {
        qWarning("Settings file %s could not be written.", qUtf8Printable(filePath()));
        return false;
    }
    // A FormatError comes from reading the file, not from writing it.
    return true;
}

bool UserDefaults::synchronize() {
    return flush();
}

std::optional<QJsonObject> UserDefaults::persistentDomainForName(const QString& name) {
    if (!isSafeDomainName(name)) {
        return std::nullopt;
    }
    QFile file(domainPath(name));
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

bool UserDefaults::persistentDomainIsUnreadable(const QString& name) {
    if (!isSafeDomainName(name)) {
        return false;
    }
    return QFileInfo::exists(domainPath(name)) && !persistentDomainForName(name);
}

bool UserDefaults::removePersistentDomainForName(const QString& name) {
    if (!isSafeDomainName(name)) {
        return false;
    }
    QFile file(domainPath(name));
    if (file.exists() && !file.remove()) {
        qWarning("Cannot remove %s: %s", qUtf8Printable(file.fileName()),
                 qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

bool UserDefaults::setPersistentDomain(const QJsonObject& domain, const QString& name) {
    if (!isSafeDomainName(name)) {
        return false;
    }
    const QString path = domainPath(name);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        qWarning("Cannot create the folder of %s.", qUtf8Printable(path));
        return false;
    }
    // QSaveFile writes a temporary file, flushes it to disk and renames it over the old one, so
    // the domain is never left half written.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("Cannot write %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    const QByteArray bytes = QJsonDocument(domain).toJson(QJsonDocument::Indented);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        qWarning("Cannot write %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}
