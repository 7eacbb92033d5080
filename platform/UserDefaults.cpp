#include "UserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QtDebug>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <system_error>

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

// One settings file, opened once per run and shared by every UserDefaults of it.
struct UserDefaults::Store {
    explicit Store(const QString& path)
        : settings(std::make_unique<QSettings>(path, QSettings::IniFormat)) {
        // Parse the whole file now, so that a damaged one is noticed here and not mistaken later
        // for a failed write. QSettings keeps what it could read; unreadable lines read as absent
        // keys.
        settings->allKeys();
        if (settings->status() != QSettings::NoError) {
            qWarning(
                "Settings file %s is damaged or unreadable; its unreadable entries are ignored.",
                qUtf8Printable(path));
            reopen();
        }
    }

    // Every store of the run. They close with the application object, while Qt's own state is
    // still there; an application object that outlives them (a static one) finds them closed.
    struct Registry : QHash<QString, std::shared_ptr<Store>> {
        Registry() = default;
        Registry(const Registry&) = delete;
        Registry& operator=(const Registry&) = delete;
        ~Registry() { closed = true; }
        static inline bool closed = false;
    };

    // The store of the file at path, opened at the first request of the run.
    static std::shared_ptr<Store> open(const QString& path) {
        static Registry stores;
        [[maybe_unused]] static const bool closing = [] {
            qAddPostRoutine([] {
                if (!Registry::closed)
                    stores.clear();
            });
            return true;
        }();
        const QString key = QFileInfo(path).absoluteFilePath();
        std::shared_ptr<Store>& store = stores[key];
        if (!store)
            store = std::make_shared<Store>(key);
        return store;
    }

    // The settings as the file holds them now. QSettings reads the file again only when its size
    // or modification time changed since it last read or wrote it (and tries again to write a
    // change of ours that could not be written).
    // NOLINTNEXTLINE(readability-make-member-function-const): sync() may read the file again.
    const QSettings& current() {
        settings->sync();
        return *settings;
    }

    bool flush() {
        settings->sync();
        if (settings->status() == QSettings::NoError) {
            return true;
        }
        // The error may be an old one; ask again with a fresh object.
        reopen();
        if (settings->status() == QSettings::AccessError) {
            qWarning("Settings file %s could not be written.",
                     qUtf8Printable(settings->fileName()));
            return false;
        }
        // A FormatError comes from reading the file, not from writing it.
        return true;
    }

    void reopen() {
        // QSettings keeps the first error it meets for the life of the object. A new object over
        // the same file shares its contents and pending changes, retries writing them as it
        // opens, and reports on that attempt alone.
        auto fresh = std::make_unique<QSettings>(settings->fileName(), QSettings::IniFormat);
        settings = std::move(fresh);
    }

    std::unique_ptr<QSettings> settings;
};

UserDefaults UserDefaults::standardUserDefaults() {
    return UserDefaults(configDirectory() + QStringLiteral("/Veltrano/Pinglark.conf"));
}

UserDefaults::UserDefaults(const QString& filePath) : m_store(Store::open(filePath)) {}

QString UserDefaults::filePath() const {
    return m_store->settings->fileName();
}

std::optional<QString> UserDefaults::storedText(const QString& key) const {
    const QVariant value = m_store->current().value(key);
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
    return m_store->current().contains(key);
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

void UserDefaults::remove(const QString& key) {
    write(key, std::nullopt);
}

void UserDefaults::write(const QString& key, const std::optional<QString>& text) {
    if (text) {
        m_store->settings->setValue(key, *text);
    } else {
        m_store->settings->remove(key);
    }
    m_store->flush();
}

bool UserDefaults::synchronize() {
    return m_store->flush();
}

// --- Persistent domains ------------------------------------------------------------------------

std::optional<QJsonObject> UserDefaults::persistentDomainForName(const QString& name,
                                                                 bool* unreadable) {
    if (unreadable) {
        *unreadable = false;
    }
    if (!isSafeDomainName(name)) {
        return std::nullopt;
    }
    QFile file(domainPath(name));
    if (!file.open(QIODevice::ReadOnly)) {
        if (unreadable) {
            *unreadable = file.exists();
        }
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        if (unreadable) {
            *unreadable = true;
        }
        return std::nullopt;
    }
    return document.object();
}

bool UserDefaults::setPersistentDomain(const QJsonObject& domain, const QString& name) {
    return isSafeDomainName(name) &&
           writeFileAtomically(domainPath(name), QJsonDocument(domain).toJson());
}

bool UserDefaults::removePersistentDomain(const QString& name) {
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

bool writeFileAtomically(const QString& path, const QByteArray& bytes) {
    // QDir::mkpath cannot say why it failed ("Not a directory" when a file stands in the way).
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(QFileInfo(path).absolutePath()).data(),
                                        error);
    if (error) {
        qWarning("Cannot write %s: its folder cannot be made: %s", qUtf8Printable(path),
                 error.message().c_str());
        return false;
    }
    // QSaveFile writes a temporary file, flushes it to disk and renames it over the old one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qWarning("Cannot write %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}
