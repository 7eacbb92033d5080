#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

// The per-user settings store: a human-readable INI file,
// $XDG_CONFIG_HOME/Veltrano/Pinglark.conf (~/.config when XDG_CONFIG_HOME is unset).
//
// The file is the one truth, shared with any other process that uses it: every write is flushed
// to disk before the call returns, so a setting is never lost to a crash, and every read sees
// what the file holds at that moment. Each file is opened once per run, by all its UserDefaults
// together, and parsed again only when it has changed on disk. Values come back from the file as
// text after a restart; the typed reads parse them explicitly. Main thread only.
class UserDefaults {
public:
    // The application's store, at the location XDG_CONFIG_HOME gives at the time of the call.
    static UserDefaults standardUserDefaults();
    // A store kept in an arbitrary file (tools and tests).
    explicit UserDefaults(const QString& filePath);

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
    void remove(const QString& key);

    // Writes pending changes now; false when the file could not be written.
    bool synchronize();

    // Another program's persistent domain, kept as a JSON document
    // $XDG_CONFIG_HOME/<name>.json and read and written whole.
    // Nothing when the domain does not exist or is not a JSON object; *unreadable (when asked
    // for) tells the second case, a file that must then be left as it is, from the first.
    static std::optional<QJsonObject> persistentDomainForName(const QString& name,
                                                              bool* unreadable = nullptr);
    // Replaces the whole domain, atomically; false when it could not be written.
    static bool setPersistentDomain(const QJsonObject& domain, const QString& name);
    // Deletes the domain; true when it no longer exists.
    static bool removePersistentDomain(const QString& name);

private:
    struct Store;
    std::optional<QString> storedText(const QString& key) const;
    void write(const QString& key, const std::optional<QString>& text);

    std::shared_ptr<Store> m_store;
};

// Writes bytes to path whole or not at all (a crash leaves the old file or the new one), making
// its folder first. Logs one line naming the path and the reason when it fails.
bool writeFileAtomically(const QString& path, const QByteArray& bytes);
