#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVariant>

#include <functional>
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
//
// A file that exists but cannot be read (permissions, an input/output
// error) is never overwritten: the store runs on defaults in memory, says
// why once (standard error, and loadProblem() for the application to show),
// and writes nothing until a later write finds the file readable; then the
// file's values and the changes made meanwhile are written together.
//
// A write that fails (a full disk) leaves the change to do: the next change
// writes it too, and synchronize() (at quit) tries again.
//
// Two processes may share the file (two Lumoras started side by side): each
// write reads the file again, puts this store's own changes on it key by
// key (a removed key is a change too) and writes the result, under a lock
// on ".<file>.lock" beside it, so no process drops another's keys. The store
// then holds what the file holds. A key both change is the last writer's,
// except a list whose records merge one by one (mergeByRecords).
class UserDefaults {
public:
    // What tells one record of a list from the others (a library's folder, a
    // theme's id); an empty answer makes the whole record its identity.
    using RecordIdentity = std::function<QString(const QVariant& record)>;

    // A store over the given file (created on the first write).
    explicit UserDefaults(QString filePath);

    // The list under key merges record by record with what other processes
    // wrote meanwhile: this process's change is what it added, removed,
    // changed or moved since the list it last read (object, arrayValue) or
    // wrote, and every other record stays as the file has it; a record one
    // side removed stays removed. Records of one identity are told apart by
    // their order. Without an identity, each whole record is its own (a list
    // of paths). Setting anything but a list, or removing the key, still
    // replaces it whole.
    void mergeByRecords(const QString& key, RecordIdentity identity = {});

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

    // Re-reads the file, dropping changes not written yet.
    void reload();

    // False when the last write failed (the error was reported once).
    bool lastWriteSucceeded() const { return m_lastWriteOk; }
    // Changes not on disk yet (a write failed, or the file can't be read).
    bool hasUnsavedChanges() const { return m_dirty; }
    // Writes what is not on disk yet; true when nothing is left to write.
    bool synchronize();
    // Why the existing file could not be read, while it cannot; empty
    // otherwise.
    QString loadProblem() const { return m_unreadable ? m_loadProblem : QString(); }

private:
    enum class ReadOutcome { read, missing, unreadable, corrupt };
    static constexpr qint64 kMaximumFileSize = qint64(64) * 1024 * 1024;
    ReadOutcome readFile(QVariantMap& values);
    void load();
    void write();
    void noteListSeen(const QString& key, const QVariant& value) const;

    QString m_path;
    QVariantMap m_values;
    QVariantMap m_loaded; // as the file held them when this store read it
    QHash<QString, RecordIdentity> m_recordLists;
    // Each list as this process last read it from the store or wrote it
    // (removed: invalid): where its changes of a record list start from.
    mutable QVariantMap m_seen;
    QSet<QString> m_changedKeys; // since the file was last read or written
    QString m_loadProblem;
    int m_batchDepth = 0;
    bool m_dirty = false;
    bool m_lastWriteOk = true;
    bool m_unreadable = false;
};

} // namespace lumora
