#pragma once

#include <QJsonObject>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

// The per-user settings store: a human-readable INI file,
// $XDG_CONFIG_HOME/Veltrano/Pinglark.conf (~/.config when XDG_CONFIG_HOME is unset).
//
// Every write is flushed to disk before the call returns, so a setting is never lost to a crash,
// and every later read sees it. Values come back from the file as text after a restart; the
// typed reads parse them explicitly.
class UserDefaults {
public:
    // The application's store. Each call opens the store at the current location; every call
    // reads and writes the same file.
    static UserDefaults standardUserDefaults();
    // A store kept in an arbitrary file (tools and tests).
    explicit UserDefaults(const QString& filePath);
    ~UserDefaults();
    UserDefaults(UserDefaults&&) noexcept;
    UserDefaults& operator=(UserDefaults&&) noexcept;

    QString filePath() const;

    bool contains(const QString& key) const;
    // absent -> false; a boolean -> its value; a number -> true when not zero; other text -> false.
    bool boolForKey(const QString& key) const;
    // absent -> 0; a number -> its value; text that is not a number -> 0.
    float floatForKey(const QString& key) const;
    // absent -> nothing; otherwise the stored text.
    std::optional<QString> stringForKey(const QString& key) const;

    void setBool(bool value, const QString& key);
    void setFloat(float value, const QString& key);
    void setString(const QString& value, const QString& key);
    void removeObject(const QString& key);

    // Writes pending changes now; false when the file could not be written.
    bool synchronize();

    // Another program's persistent domain, kept as a JSON document
    // $XDG_CONFIG_HOME/<name>.json and read and written whole.
    // Nothing when the domain does not exist or is not a JSON object.
    static std::optional<QJsonObject> persistentDomainForName(const QString& name);
    // Whether a domain file exists but cannot be read as a JSON object (it must then be left as
    // it is).
    static bool persistentDomainIsUnreadable(const QString& name);
    // Replaces the whole domain, atomically; false when it could not be written.
    static bool setPersistentDomain(const QJsonObject& domain, const QString& name);
    // Deletes the domain; true when it no longer exists.
    static bool removePersistentDomainForName(const QString& name);

private:
    std::optional<QString> storedText(const QString& key) const;
    void write(const QString& key, const QString& text);
    bool flush();
    void reopen();

    std::unique_ptr<QSettings> m_settings;
};
