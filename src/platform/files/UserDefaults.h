#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <optional>

namespace lumora {

// The preferences store: typed values (bool, integer, double, string, data,
// date, array, dictionary) in one JSON file, written atomically after every
// change. Values keep their types across a round trip: a stored string is
// never read as a number, and 968 reads as a number where "968" does not.
//
// A file that cannot be parsed is reported on standard error and moved aside
// as "<file>.corrupt-<time>"; the store then starts empty. It is never
// overwritten in place.
class UserDefaults {
public:
    // A store over the given file (created on the first write).
    explicit UserDefaults(QString filePath);

    // The application's store: $XDG_CONFIG_HOME/Lumora/defaults.json.
    static UserDefaults& standard();
    static QString standardFilePath();

    const QString& filePath() const { return m_path; }

    // The stored object: bool, qlonglong, double, QString, QByteArray,
    // QDateTime, QVariantList or QVariantMap; invalid when absent.
    QVariant object(const QString& key) const;
    bool contains(const QString& key) const { return m_values.contains(key); }

    // Reads with the store's conversions. boolValue: a bool as is; a number
    // is true when non-zero; a string when it starts with Y, y, T, t or a
    // non-zero digit; anything else false.
    bool boolValue(const QString& key) const;
    // Present and of that type (a number for double; an integral number for
    // integer), else none.
    std::optional<double> doubleValue(const QString& key) const;
    std::optional<qint64> integerValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    std::optional<QByteArray> dataValue(const QString& key) const;
    std::optional<QDateTime> dateValue(const QString& key) const;
    std::optional<QVariantList> arrayValue(const QString& key) const;
    std::optional<QVariantMap> dictionaryValue(const QString& key) const;

    // Stores value and writes the file, unless the key holds that value
    // (of that type) already. An invalid value removes the key.
    void set(const QString& key, const QVariant& value);
    void remove(const QString& key);

    // Changes made while a batch is open are written once, when the
    // outermost batch ends.
    void beginBatch();
    void endBatch();

    // Everything stored, for diagnostics and migration.
    const QVariantMap& dictionaryRepresentation() const { return m_values; }

    // Re-reads the file (tests; nothing else shares the file).
    void reload();

    // False when the last write failed (the error was reported once).
    bool lastWriteSucceeded() const { return m_lastWriteOk; }

private:
    void load();
    void write();

    QString m_path;
    QVariantMap m_values;
    int m_batchDepth = 0;
    bool m_dirty = false;
    bool m_lastWriteOk = true;
};

} // namespace lumora
