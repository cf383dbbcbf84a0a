#include "platform/files/UserDefaults.h"

#include "platform/files/FileWriter.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

using lumora::setFileFaultHook;
using lumora::setFileWriteFaultHook;
using lumora::UserDefaults;
using namespace lumora::test;

namespace {

QString storePath(const char* name) { return freshDirectory(QLatin1String(name)) + QStringLiteral("/defaults.json"); }

} // namespace

TEST(UserDefaults, TypesSurviveARoundTrip)
{
    const QString path = storePath("types");
    const QDateTime date = QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC);
    {
        UserDefaults d(path);
        d.set("bool", true);
        d.set("int", 968);
        d.set("double", 0.5);
        d.set("string", QStringLiteral("968"));
        d.set("data", QByteArray("\x00\xff\x10", 3));
        d.set("date", date);
        d.set("array", QVariantList{1, QStringLiteral("a"), false});
        d.set("dictionary", QVariantMap{{"k", 2.5}});
    }
    UserDefaults d(path);
    EXPECT_EQ(d.object("bool").typeId(), QMetaType::Bool);
    EXPECT_EQ(d.integerValue("int"), 968);
    EXPECT_EQ(d.doubleValue("int"), 968.0);
    EXPECT_EQ(d.doubleValue("double"), 0.5);
    EXPECT_EQ(d.integerValue("double"), std::nullopt);
    // A string is never a number, however it reads.
    EXPECT_EQ(d.stringValue("string"), QStringLiteral("968"));
    EXPECT_EQ(d.doubleValue("string"), std::nullopt);
    EXPECT_EQ(d.integerValue("string"), std::nullopt);
    EXPECT_EQ(d.dataValue("data"), QByteArray("\x00\xff\x10", 3));
    EXPECT_EQ(d.stringValue("data"), std::nullopt);
    EXPECT_EQ(d.dateValue("date"), date);
    EXPECT_EQ(d.arrayValue("array")->size(), 3);
    EXPECT_EQ(d.dictionaryValue("dictionary")->value("k").toDouble(), 2.5);
    EXPECT_EQ(d.arrayValue("dictionary"), std::nullopt);
    EXPECT_FALSE(d.object("absent").isValid());

    d.remove("int");
    EXPECT_FALSE(UserDefaults(path).contains("int"));
}

TEST(UserDefaults, BoolReadsFollowThePlatformRules)
{
    UserDefaults d(storePath("bools"));
    const std::pair<QVariant, bool> table[] = {
        {true, true},          {false, false},       {1, true},       {0, false},
        {-3, true},            {0.0, false},         {0.25, true},    {QStringLiteral("YES"), true},
        {QStringLiteral("yes"), true}, {QStringLiteral("true"), true}, {QStringLiteral("T"), true},
        {QStringLiteral("no"), false}, {QStringLiteral("light"), false}, {QStringLiteral("0"), false},
        {QStringLiteral("007"), true}, {QStringLiteral("-5"), true},  {QStringLiteral(""), false},
        {QVariantList{true}, false},   {QByteArray("1"), false},
    };
    for (const auto& [value, expected] : table) {
        d.set("key", value);
        EXPECT_EQ(d.boolValue("key"), expected) << value.toString().toStdString();
    }
    EXPECT_FALSE(d.boolValue("absent"));
}

TEST(UserDefaults, HugeWholeNumbersAreNotIntegers)
{
    const QString path = storePath("huge");
    writeFile(path, R"({"big": 1e19, "small": -1e19, "fine": 9007199254740993})");
    UserDefaults d(path);
    EXPECT_EQ(d.integerValue("big"), std::nullopt);
    EXPECT_EQ(d.integerValue("small"), std::nullopt);
    EXPECT_TRUE(d.integerValue("fine"));
}

TEST(UserDefaults, ACorruptFileIsKeptAsideAndNeverOverwritten)
{
    // What the user sees (one line naming the file, the file kept aside):
    // SettingsTest.APreferencesFileThatIsNotJsonStartsWithDefaults.
    const QString folder = freshDirectory("corrupt");
    const QString path = folder + QStringLiteral("/defaults.json");
    for (const QByteArray& broken : {QByteArray("{\"theme\": \"dark\", oops"), QByteArray("[1, 2]")}) {
        writeFile(path, broken);
        testing::internal::CaptureStderr();
        UserDefaults d(path);
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(d.dictionaryRepresentation().isEmpty()) << broken.constData();
        // The next write makes a fresh file and leaves the broken one alone.
        d.set("theme", QStringLiteral("light"));
        EXPECT_EQ(UserDefaults(path).stringValue("theme"), QStringLiteral("light"));
    }
    // Two broken files within one second are both kept.
    EXPECT_EQ(QDir(folder).entryList({QStringLiteral("defaults.json.corrupt-*")}, QDir::Files).size(), 2);
}

TEST(UserDefaults, EveryWriteLeavesACompleteValidFile)
{
    const QString folder = freshDirectory("atomic");
    const QString path = folder + QStringLiteral("/defaults.json");
    UserDefaults d(path);
    for (int i = 0; i < 20; ++i) {
        d.set(QStringLiteral("k%1").arg(i), QString(200, QLatin1Char('x')));
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(readFile(path), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << i;
        EXPECT_EQ(doc.object().size(), i + 1);
    }
    // No temporary files are left behind.
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("defaults.json")});
}

TEST(UserDefaults, AFullDiskNeverLeavesAnEmptyFile)
{
    const QString path = storePath("full");
    UserDefaults d(path);
    d.set("theme", QStringLiteral("dark"));
    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "write" ? ENOSPC : 0; });
    d.set("theme", QStringLiteral("sepia"));
    setFileWriteFaultHook({});
    EXPECT_EQ(UserDefaults(path).stringValue("theme"), QStringLiteral("dark"));
    d.set("fontSize", 18);
    EXPECT_EQ(UserDefaults(path).stringValue("theme"), QStringLiteral("sepia"));
}

// A failed write is not forgotten: the change stays to do, and the next
// change or quitting (synchronize) writes it.
TEST(UserDefaults, AFailedWriteStaysToDoUntilItSucceeds)
{
    const QString path = storePath("retry");
    UserDefaults d(path);
    d.set("theme", QStringLiteral("dark"));
    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "sync" ? ENOSPC : 0; });
    testing::internal::CaptureStderr();
    d.set("theme", QStringLiteral("sepia"));
    EXPECT_TRUE(d.hasUnsavedChanges());
    EXPECT_FALSE(d.synchronize());
    testing::internal::GetCapturedStderr();
    setFileWriteFaultHook({});
    EXPECT_EQ(UserDefaults(path).stringValue("theme"), QStringLiteral("dark"));
    // Setting the same value again is no change, but the write is retried.
    d.set("theme", QStringLiteral("sepia"));
    EXPECT_EQ(UserDefaults(path).stringValue("theme"), QStringLiteral("sepia"));
    EXPECT_FALSE(d.hasUnsavedChanges());

    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "write" ? EIO : 0; });
    testing::internal::CaptureStderr();
    d.remove("theme");
    testing::internal::GetCapturedStderr();
    setFileWriteFaultHook({});
    EXPECT_TRUE(UserDefaults(path).contains("theme"));
    EXPECT_TRUE(d.synchronize());
    EXPECT_FALSE(UserDefaults(path).contains("theme"));
}

// Preferences that exist but cannot be read (permissions, a failing disk)
// are the writer's: Lumora runs on defaults, says why once, and writes
// nothing until it can read them; then nothing of theirs is lost.
TEST(UserDefaults, AnUnreadableFileIsNeverOverwritten)
{
    struct Case {
        const char* what;
        int error;
    };
    for (const Case c : {Case{"permission", EACCES}, Case{"input/output error", EIO}}) {
        SCOPED_TRACE(c.what);
        const QString path = storePath(c.what);
        const QByteArray original = "{\"theme\": \"dark\", \"libraries\": [1, 2, 3]}";
        writeFile(path, original);
        const bool usePermissions = c.error == EACCES && ::geteuid() != 0;
        if (usePermissions) ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
        else
            setFileFaultHook([path, error = c.error](const char* step, const QString& file) {
                return std::string_view(step) == "read" && file == path ? error : 0;
            });
        testing::internal::CaptureStderr();
        UserDefaults d(path);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(path.toStdString()), std::string::npos) << said;
        EXPECT_NE(said.find("can't be read"), std::string::npos) << said;
        EXPECT_FALSE(d.loadProblem().isEmpty());
        EXPECT_TRUE(d.dictionaryRepresentation().isEmpty()) << "defaults in memory";

        testing::internal::CaptureStderr();
        d.set("theme", QStringLiteral("sepia"));
        d.set("fontSize", 18);
        EXPECT_TRUE(testing::internal::GetCapturedStderr().empty()) << "said once";
        EXPECT_TRUE(d.hasUnsavedChanges());
        if (usePermissions) ::chmod(QFile::encodeName(path).constData(), 0600);
        setFileFaultHook({});
        EXPECT_EQ(readFile(path), original);

        // Readable again: its values and the changes made meanwhile.
        d.set("sounds", true);
        EXPECT_TRUE(d.loadProblem().isEmpty());
        const UserDefaults reread(path);
        EXPECT_EQ(reread.stringValue("theme"), QStringLiteral("sepia"));
        EXPECT_EQ(reread.integerValue("fontSize"), 18);
        EXPECT_TRUE(reread.boolValue("sounds"));
        EXPECT_EQ(reread.arrayValue("libraries")->size(), 3);
    }
}

TEST(UserDefaults, WritesOnlyChangesAndABatchOnceAtItsEnd)
{
    const QString path = storePath("batch");
    UserDefaults d(path);
    d.beginBatch();
    d.set("a", 1);
    d.beginBatch();
    d.set("b", 2);
    d.endBatch();
    EXPECT_FALSE(QFileInfo::exists(path)); // nothing written while a batch is open
    d.set("c", 3);
    d.endBatch();
    UserDefaults reread(path);
    EXPECT_EQ(reread.integerValue("a"), 1);
    EXPECT_EQ(reread.integerValue("b"), 2);
    EXPECT_EQ(reread.integerValue("c"), 3);

    // Setting what is stored already writes nothing; the same number as a Bool is a change.
    ASSERT_TRUE(QFile::remove(path));
    d.set("a", 1);
    EXPECT_FALSE(QFileInfo::exists(path));
    d.set("a", true);
    EXPECT_EQ(UserDefaults(path).object("a"), QVariant(true));
}

namespace {

// A second Lumora's preferences, driven line by line from the test:
// "set <key> <JSON value>", "remove <key>", "quit"; each answered "ok".
const ChildRole defaultsEditor("defaults-editor", [](const QStringList& arguments) {
    UserDefaults defaults(arguments.value(0));
    std::printf("ready\n");
    std::fflush(stdout);
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        const QString command = QString::fromUtf8(line).trimmed();
        const QString verb = command.section(QLatin1Char(' '), 0, 0);
        const QString key = command.section(QLatin1Char(' '), 1, 1);
        if (verb == QLatin1String("quit")) break;
        if (verb == QLatin1String("set")) {
            const QByteArray json = "[" + command.section(QLatin1Char(' '), 2).toUtf8() + "]";
            defaults.set(key, QJsonDocument::fromJson(json).array().at(0).toVariant());
        } else if (verb == QLatin1String("remove")) {
            defaults.remove(key);
        } else if (verb == QLatin1String("many")) {
            // Many changes in a row, each a write, while the other process writes too.
            for (int i = 0; i < 60; ++i) defaults.set(key + QString::number(i), i);
        }
        std::printf(defaults.lastWriteSucceeded() ? "ok\n" : "failed\n");
        std::fflush(stdout);
    }
    return 0;
});

struct Instance : CommandedChild {
    explicit Instance(const QString& path) : CommandedChild("defaults-editor", {path}) {}
};

} // namespace

// Two Lumoras run at once on the same preferences. Each writes only what
// it changed, key by key, onto what the file holds: a library one keeps
// survives every later write of the other, and a key one removes stays
// removed.
TEST(UserDefaults, TwoProcessesKeepEachOthersChanges)
{
    const QString path = storePath("two-processes");
    writeFile(path, R"({"theme": "light", "recentDocuments": ["/a.md"], "windowFrame": "0 0 800 600"})");
    Instance first(path);
    Instance second(path); // both have read the file as it was

    EXPECT_EQ(first.tell(R"(set libraries [{"path": "/home/writer/Notes"}])"), "ok");
    EXPECT_EQ(second.tell(R"(set windowFrame "10 10 900 700")"), "ok");
    EXPECT_EQ(second.tell("remove recentDocuments"), "ok");
    EXPECT_EQ(first.tell(R"(set theme "dark")"), "ok");
    EXPECT_EQ(second.tell(R"(set fontSize 18)"), "ok");

    UserDefaults after(path);
    EXPECT_EQ(after.arrayValue("libraries").value_or(QVariantList()).size(), 1) << "the kept library stays";
    EXPECT_EQ(after.stringValue("theme"), QStringLiteral("dark"));
    EXPECT_EQ(after.stringValue("windowFrame"), QStringLiteral("10 10 900 700"));
    EXPECT_FALSE(after.contains("recentDocuments")) << "a removal is a change too";
    EXPECT_EQ(after.integerValue("fontSize"), 18);

    // Both writing as fast as they can: every key of each is there.
    first.process.write("many first\n");
    second.process.write("many second\n");
    EXPECT_EQ(readLineFrom(first.process), "ok");
    EXPECT_EQ(readLineFrom(second.process), "ok");
    after.reload();
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(after.integerValue("first" + QString::number(i)), i);
        EXPECT_EQ(after.integerValue("second" + QString::number(i)), i);
    }
    EXPECT_TRUE(after.contains("libraries"));
}

// A list whose records merge one by one: what each Lumora added, removed,
// changed or moved in the list it last wrote stays, whichever writes last,
// and neither brings back what the other removed.
TEST(UserDefaults, RecordListsMergeRecordByRecord)
{
    const QString path = storePath("record-lists");
    writeFile(path, R"({"list": [{"id": "a", "v": 1}, {"id": "b", "v": 1}, {"id": "c", "v": 1}],
                        "paths": ["/one.md"]})");
    UserDefaults first(path), second(path);
    for (UserDefaults* store : {&first, &second}) {
        store->mergeByRecords("list", [](const QVariant& record) { return record.toMap().value("id").toString(); });
        store->mergeByRecords("paths");
    }
    const auto record = [](const char* id, int v) { return QVariantMap{{"id", id}, {"v", v}}; };
    const auto stored = [&] {
        QStringList records;
        for (const QVariant& r : UserDefaults(path).arrayValue("list").value_or(QVariantList()))
            records << r.toMap().value("id").toString() + ":" + QString::number(r.toMap().value("v").toInt());
        return records.join(' ').toStdString();
    };

    // One adds d at the top and changes b; the other removes c and adds e.
    first.set("list", QVariantList{record("d", 1), record("a", 1), record("b", 2), record("c", 1)});
    second.set("list", QVariantList{record("a", 1), record("b", 1), record("e", 1)});
    EXPECT_EQ(stored(), "d:1 a:1 b:2 e:1");
    // Each from its own list: the other moves e to the top; the one changes a.
    second.set("list", QVariantList{record("e", 1), record("a", 1), record("b", 1)});
    first.set("list", QVariantList{record("d", 1), record("a", 2), record("b", 2), record("c", 1)});
    EXPECT_EQ(stored(), "e:1 d:1 a:2 b:2");

    // Plain records (paths) are their own identity: each newest first.
    first.set("paths", QVariantList{"/two.md", "/one.md"});
    second.set("paths", QVariantList{"/three.md", "/one.md"});
    const auto paths = [&] {
        const QVariant stored = UserDefaults(path).object("paths");
        return stored.toStringList().join(' ').toStdString();
    };
    EXPECT_EQ(paths(), "/three.md /two.md /one.md");
    // One that reads the list anew before each change works from what it
    // read: what the other removed meanwhile does not come back.
    first.set("other", 1); // a write brings the file's lists in
    second.set("paths", QVariantList{"/two.md", "/one.md"});
    QVariantList read = first.arrayValue("paths").value_or(QVariantList());
    ASSERT_EQ(read.size(), 3);
    read.prepend("/four.md");
    first.set("paths", read);
    EXPECT_EQ(paths(), "/four.md /two.md /one.md");
    // Any other value still replaces the key whole.
    first.set("list", "not a list");
    EXPECT_EQ(UserDefaults(path).stringValue("list"), QStringLiteral("not a list"));
}
