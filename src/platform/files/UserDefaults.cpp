#include "platform/files/UserDefaults.h"

#include "platform/files/FileLock.h"
#include "platform/files/FileReader.h"
#include "platform/files/FileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cmath>
#include <cstdio>

namespace lumora {

namespace {

// Data and dates have no JSON type of their own: they are stored as
// single-key objects with a reserved key.
const QString kDataKey = QStringLiteral("$data");
const QString kDateKey = QStringLiteral("$date");

QVariant fromJson(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Bool: return v.toBool();
    case QJsonValue::Double: {
        const double d = v.toDouble();
        // Integral numbers within the exact range read back as integers.
        if (std::isfinite(d) && std::floor(d) == d && std::fabs(d) < 9007199254740992.0)
            return QVariant::fromValue(qlonglong(d));
        return d;
    }
    case QJsonValue::String: return v.toString();
    case QJsonValue::Array: {
        QVariantList list;
        for (const QJsonValue& e : v.toArray()) list.append(fromJson(e));
        return list;
    }
    case QJsonValue::Object: {
        const QJsonObject o = v.toObject();
        if (o.size() == 1 && o.contains(kDataKey) && o.value(kDataKey).isString())
            return QByteArray::fromBase64(o.value(kDataKey).toString().toLatin1());
        if (o.size() == 1 && o.contains(kDateKey) && o.value(kDateKey).isString())
            return QDateTime::fromString(o.value(kDateKey).toString(), Qt::ISODateWithMs);
        QVariantMap map;
        for (auto it = o.begin(); it != o.end(); ++it) map.insert(it.key(), fromJson(it.value()));
        return map;
    }
    default: return {};
    }
}

QJsonValue toJson(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return double(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: return v.toDouble();
    case QMetaType::QString: return v.toString();
    case QMetaType::QByteArray:
        return QJsonObject{{kDataKey, QString::fromLatin1(v.toByteArray().toBase64())}};
    case QMetaType::QDateTime:
        return QJsonObject{{kDateKey, v.toDateTime().toUTC().toString(Qt::ISODateWithMs)}};
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QJsonArray a;
        for (const QVariant& e : v.toList()) a.append(toJson(e));
        return a;
    }
    case QMetaType::QVariantMap: {
        QJsonObject o;
        const QVariantMap m = v.toMap();
        for (auto it = m.begin(); it != m.end(); ++it) o.insert(it.key(), toJson(it.value()));
        return o;
    }
    default: return QJsonValue();
    }
}

bool isNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float: return true;
    default: return false;
    }
}

QByteArray jsonText(const QVariant& v) { return QJsonDocument(QJsonArray{toJson(v)}).toJson(QJsonDocument::Compact); }

// A list's records by identity, in order; a second record of one identity
// is "<identity>#2", and so on.
struct Records {
    QStringList ids;
    QHash<QString, QVariant> values;

    Records(const QVariant& list, const UserDefaults::RecordIdentity& identity)
    {
        if (list.typeId() != QMetaType::QVariantList && list.typeId() != QMetaType::QStringList) return;
        QHash<QString, int> seen;
        for (const QVariant& record : list.toList()) {
            QString id = identity ? identity(record) : QString();
            if (id.isEmpty()) id = QString::fromUtf8(jsonText(record));
            if (const int n = ++seen[id]; n > 1) id += QLatin1Char('#') + QString::number(n);
            ids.append(id);
            values.insert(id, record);
        }
    }
    bool has(const QString& id) const { return values.contains(id); }
    QVariantList list() const
    {
        QVariantList records;
        for (const QString& id : ids) records.append(values.value(id));
        return records;
    }
};

// The records of `ours` (less those in `other`) that are in the same order
// among each other as in `reference`: the longest run of them in that
// order. The others moved.
QSet<QString> keptInOrder(const Records& ours, const Records& reference, const Records* other = nullptr)
{
    QStringList common;
    QHash<QString, int> place;
    for (int i = 0, n = 0; i < reference.ids.size(); ++i) {
        const QString& id = reference.ids[i];
        if (ours.has(id) && !(other && other->has(id))) place.insert(id, n++);
    }
    for (const QString& id : ours.ids)
        if (place.contains(id)) common.append(id);
    // The longest increasing run of places, by patience sorting.
    QList<int> tails; // for each run length, the index in common of the run's last
    QList<int> previous(common.size(), -1);
    for (int i = 0; i < common.size(); ++i) {
        const int at = place.value(common[i]);
        qsizetype low = 0, high = tails.size();
        while (low < high) {
            const qsizetype middle = (low + high) / 2;
            if (place.value(common[tails[middle]]) < at) low = middle + 1;
            else high = middle;
        }
        if (low > 0) previous[i] = tails[low - 1];
        if (low == tails.size()) tails.append(i);
        else tails[low] = i;
    }
    QSet<QString> kept;
    for (int i = tails.isEmpty() ? -1 : tails.last(); i >= 0; i = previous[i]) kept.insert(common[i]);
    return kept;
}

// A three-way merge of a list of records: `base` is the list this process
// started from, `ours` what it holds now, `theirs` what the file holds now.
QVariantList mergeRecords(const QVariant& baseList, const QVariant& oursList, const QVariant& theirsList,
                          const UserDefaults::RecordIdentity& identity)
{
    // Nothing of ours changed, or nothing of theirs.
    if (jsonText(oursList) == jsonText(baseList)) return Records(theirsList, identity).list();
    if (jsonText(theirsList) == jsonText(baseList)) return oursList.toList();
    const Records base(baseList, identity), ours(oursList, identity), theirs(theirsList, identity);
    const auto changedByUs = [&](const QString& id) {
        return !base.has(id) || jsonText(ours.values.value(id)) != jsonText(base.values.value(id));
    };
    // Ours that did not move: in base's order since base, and those both
    // added (or both have with no list before) in theirs' order.
    const QSet<QString> kept = keptInOrder(ours, base) | keptInOrder(ours, theirs, &base);
    // Theirs, less what we removed and what we moved or added...
    QStringList order;
    for (const QString& id : theirs.ids) {
        if (base.has(id) && !ours.has(id)) continue;
        if (ours.has(id) && !kept.contains(id)) continue;
        order.append(id);
    }
    // ...which go after the record that comes before them in ours, unless
    // they removed it.
    for (int i = 0; i < ours.ids.size(); ++i) {
        const QString& id = ours.ids[i];
        if (kept.contains(id) || (base.has(id) && !theirs.has(id))) continue;
        qsizetype at = 0;
        for (int j = i - 1; j >= 0; --j) {
            if (const qsizetype k = order.indexOf(ours.ids[j]); k >= 0) {
                at = k + 1;
                break;
            }
        }
        order.insert(at, id);
    }
    QVariantList merged;
    for (const QString& id : order)
        merged.append(ours.has(id) && (changedByUs(id) || !theirs.has(id)) ? ours.values.value(id)
                                                                              : theirs.values.value(id));
    return merged;
}

} // namespace

UserDefaults::UserDefaults(QString filePath) : m_path(std::move(filePath))
{
    load();
}

QString UserDefaults::standardFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(base).filePath(QStringLiteral("Lumora/defaults.json"));
}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults instance(standardFilePath());
    return instance;
}

UserDefaults::ReadOutcome UserDefaults::readFile(QVariantMap& values)
{
    values.clear();
    if (!QFileInfo::exists(m_path) && !QFileInfo(m_path).isSymLink()) return ReadOutcome::missing;
    auto bytes = readFileSafely(m_path, {.maximumSize = kMaximumFileSize});
    if (!bytes) {
        if (bytes.error().code == PlatformError::Code::fileNotFound) return ReadOutcome::missing;
        m_loadProblem = bytes.error().recoverySuggestion;
        return ReadOutcome::unreadable;
    }
    if (bytes->trimmed().isEmpty()) return ReadOutcome::read;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) {
        values = fromJson(doc.object()).toMap();
        return ReadOutcome::read;
    }
    // A name of its own, even for a second broken file within the same second.
    const QString stem = m_path + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = stem;
    for (int n = 2; QFileInfo::exists(aside) && n < 1000; ++n) aside = stem + QLatin1Char('-') + QString::number(n);
    const bool moved = QFile::rename(m_path, aside);
    std::fprintf(stderr,
                 "Lumora: the preferences file %s is not valid JSON (%s); %s. Starting with defaults.\n",
                 qPrintable(m_path),
                 qPrintable(error.error == QJsonParseError::NoError ? QStringLiteral("not an object")
                                                                   : error.errorString()),
                 moved ? qPrintable(QStringLiteral("it was kept as ") + aside)
                       : "it could not be moved aside and will not be overwritten");
    if (!moved) m_lastWriteOk = false, m_path.clear();
    return ReadOutcome::corrupt;
}

void UserDefaults::load()
{
    m_changedKeys.clear();
    m_seen.clear();
    m_loadProblem.clear();
    m_unreadable = readFile(m_values) == ReadOutcome::unreadable;
    m_loaded = m_values;
    if (!m_unreadable) return;
    // The file is there but cannot be read: it holds the writer's
    // preferences, so nothing is written over it until it can be read.
    std::fprintf(stderr,
                 "Lumora: the preferences file %s exists but can't be read (%s). Lumora runs with default "
                 "preferences and won't change the file until it can read it.\n",
                 qPrintable(m_path), qPrintable(m_loadProblem));
}

void UserDefaults::reload() { load(); }

void UserDefaults::mergeByRecords(const QString& key, RecordIdentity identity)
{
    m_recordLists.insert(key, std::move(identity));
}

QVariant UserDefaults::object(const QString& key) const
{
    const QVariant v = m_values.value(key);
    noteListSeen(key, v);
    return v;
}

void UserDefaults::noteListSeen(const QString& key, const QVariant& value) const
{
    // A list this process has changed and not written yet is its own, not
    // the file's: its changes count from where they started.
    if ((value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        && !m_changedKeys.contains(key))
        m_seen.insert(key, value);
}

bool UserDefaults::boolValue(const QString& key) const
{
    const QVariant v = m_values.value(key);
    if (v.typeId() == QMetaType::Bool) return v.toBool();
    if (isNumber(v)) return v.toDouble() != 0.0;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.isEmpty()) return false;
        const QChar c = s.at(0);
        if (c == u'Y' || c == u'y' || c == u'T' || c == u't') return true;
        // A leading sign and zeros are skipped: "-5" and "007" are true, "0" false.
        for (QChar ch : s) {
            if (ch == u'+' || ch == u'-' || ch == u'0') continue;
            return ch >= u'1' && ch <= u'9';
        }
    }
    return false;
}

std::optional<double> UserDefaults::doubleValue(const QString& key) const
{
    const QVariant v = m_values.value(key);
    if (isNumber(v)) return v.toDouble();
    return std::nullopt;
}

std::optional<qint64> UserDefaults::integerValue(const QString& key) const
{
    const QVariant v = m_values.value(key);
    if (!isNumber(v)) return std::nullopt;
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float) {
        const double d = v.toDouble();
        // Whole and within range: a cast of anything larger is undefined.
        if (!std::isfinite(d) || std::floor(d) != d || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return std::nullopt;
        return qint64(d);
    }
    return v.toLongLong();
}

std::optional<QString> UserDefaults::stringValue(const QString& key) const
{
    const QVariant v = m_values.value(key);
    if (v.typeId() == QMetaType::QString) return v.toString();
    return std::nullopt;
}

std::optional<QByteArray> UserDefaults::dataValue(const QString& key) const
{
    const QVariant v = m_values.value(key);
    if (v.typeId() == QMetaType::QByteArray) return v.toByteArray();
    return std::nullopt;
}

std::optional<QDateTime> UserDefaults::dateValue(const QString& key) const
{
    const QVariant v = m_values.value(key);
    if (v.typeId() == QMetaType::QDateTime) return v.toDateTime();
    return std::nullopt;
}

std::optional<QVariantList> UserDefaults::arrayValue(const QString& key) const
{
    const QVariant v = m_values.value(key);
    if (v.typeId() != QMetaType::QVariantList && v.typeId() != QMetaType::QStringList) return std::nullopt;
    noteListSeen(key, v);
    return v.toList();
}

std::optional<QVariantMap> UserDefaults::dictionaryValue(const QString& key) const
{
    const QVariant v = m_values.value(key);
    if (v.typeId() == QMetaType::QVariantMap) return v.toMap();
    return std::nullopt;
}

void UserDefaults::set(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        remove(key);
        return;
    }
    // Normalise through JSON so that what is held equals what a re-read gives.
    // A value stored already, with its type, is not written again.
    const QJsonValue json = toJson(value);
    if (m_values.contains(key) && toJson(m_values.value(key)) == json) {
        if (m_dirty && m_batchDepth == 0) write();
        return;
    }
    m_values.insert(key, fromJson(json));
    m_changedKeys.insert(key);
    m_dirty = true;
    if (m_batchDepth == 0) write();
}

void UserDefaults::remove(const QString& key)
{
    if (m_values.remove(key) == 0) return;
    m_changedKeys.insert(key);
    m_dirty = true;
    if (m_batchDepth == 0) write();
}

void UserDefaults::beginBatch() { ++m_batchDepth; }

void UserDefaults::endBatch()
{
    if (m_batchDepth == 0) return;
    if (--m_batchDepth == 0 && m_dirty) write();
}

bool UserDefaults::synchronize()
{
    if (m_dirty) write();
    return !m_dirty;
}

void UserDefaults::write()
{
    if (m_path.isEmpty()) return; // a broken file we could not move aside stays untouched
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Another Lumora may write the same file: one writer at a time, each
    // writing what the file holds now with its own changes on top, so that
    // neither drops the other's keys. A holder that never lets go (a process
    // stuck on a failing disk) only delays us.
    const QFileInfo file(m_path);
    const auto lock =
        FileLock::acquire(file.absolutePath() + QStringLiteral("/.") + file.fileName() + QStringLiteral(".lock"), 2000);
    QVariantMap merged;
    switch (readFile(merged)) {
    case ReadOutcome::unreadable:
        // It holds the writer's preferences: kept dirty, written once it can be read.
        if (!m_unreadable)
            std::fprintf(stderr,
                         "Lumora: the preferences file %s can't be read (%s); it is left as it is, and the "
                         "changes are written once it can be read.\n",
                         qPrintable(m_path), qPrintable(m_loadProblem));
        m_unreadable = true;
        return;
    case ReadOutcome::read:
        break;
    case ReadOutcome::missing:
    case ReadOutcome::corrupt:
        // Nothing to merge with: what this process holds.
        merged = m_values;
        break;
    }
    if (m_path.isEmpty()) return; // found broken just now, and it could not be moved aside
    for (const QString& key : std::as_const(m_changedKeys)) {
        const QVariant ours = m_values.value(key);
        if (!ours.isValid()) {
            merged.remove(key);
            continue;
        }
        const auto recordList = m_recordLists.constFind(key);
        const bool isList = ours.typeId() == QMetaType::QVariantList || ours.typeId() == QMetaType::QStringList;
        if (recordList == m_recordLists.cend() || !isList) {
            merged.insert(key, ours);
            continue;
        }
        const QVariant base = m_seen.contains(key) ? m_seen.value(key) : m_loaded.value(key);
        merged.insert(key, mergeRecords(base, ours, merged.value(key), *recordList));
    }
    const QByteArray bytes = QJsonDocument(toJson(merged).toObject()).toJson(QJsonDocument::Indented);
    const PlatformStatus status = writeFileSafely(m_path, bytes);
    const bool ok = status.ok();
    if (!ok && m_lastWriteOk)
        std::fprintf(stderr, "Lumora: could not save preferences to %s: %s\n", qPrintable(m_path),
                     qPrintable(status.error().recoverySuggestion));
    m_lastWriteOk = ok;
    // A failed write stays to do: the next change, and quitting, try again.
    m_dirty = !ok;
    if (!ok) return;
    // What the file holds now, other processes' changes included. What this
    // process wrote is where its next changes of a record list start from,
    // until it reads the list again.
    for (const QString& key : std::as_const(m_changedKeys)) m_seen.insert(key, m_values.value(key));
    m_values = merged;
    m_changedKeys.clear();
    m_unreadable = false;
    m_loadProblem.clear();
}

} // namespace lumora
