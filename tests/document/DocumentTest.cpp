#include "document/Document.h"

#include "DocumentTestSupport.h"
#include "platform/files/Encodings.h"
#include "platform/files/FileWriter.h"
#include "platform/files/TextFileCodec.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <string_view>

#include <gtest/gtest.h>


using namespace lumora;
using namespace lumora::test;

namespace {

class ScriptedHost : public DocumentHost {
public:
    std::optional<QString> exportLocation;
    QStringList proposedNames;
    QList<Document*> closedChildren;
    int windowsMade = 0;

    void makeWindow(Document&) override { ++windowsMade; }
    void closeChildDocument(Document& document) override { closedChildren << &document; }
    std::optional<QString> chooseExportLocation(Document&, const QString& proposedName) override
    {
        proposedNames << proposedName;
        return exportLocation;
    }
    void openDocumentWithoutDisplay(const QString&, OpenCompletion completion) override { completion(nullptr, {}); }
    QStringList progress; // messages shown; "done" when one ended
    std::function<void()> beginProgress(const Document&, const QString& message) override
    {
        progress << message;
        return [this] { progress << "done"; };
    }
};

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Document::setHost(&host);
        DocumentBase::setPrompter(&prompter);
        dir = freshDirectory(QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        path = dir + QStringLiteral("/Notes.txt");
    }
    void TearDown() override
    {
        Document::setHost(nullptr);
        Document::setHTMLConverter({});
        DocumentBase::setPrompter(nullptr);
        DocumentBase::setAutosavingDelay(15000);
    }

    std::unique_ptr<Document> open(const QByteArray& bytes)
    {
        writeFile(path, bytes);
        auto doc = std::make_unique<Document>();
        const auto status = doc->readFromFile(path, QStringLiteral("text/plain"));
        EXPECT_TRUE(status.ok()) << status.error().message().toStdString();
        return doc;
    }

    ScriptedHost host;
    RecordingPrompter prompter;
    QString dir;
    QString path;
};

QByteArray encoded(const QString& text, StringEncoding encoding, bool mark = false)
{
    return (mark ? TextFileCodec::byteOrderMark(encoding) : QByteArray()) + *Encodings::encode(text, encoding);
}

} // namespace

// What users open: each file shows the right characters and, saved without
// an edit, stays byte for byte what it was.
TEST_F(DocumentTest, FilesOpenWithTheRightCharactersAndSaveBackUnchanged)
{
    const QString mixed = QStringLiteral(u"# Grüße\r\nzweite Zeile\nthird\r\rlast “line” 😀");
    const QString french = QStringLiteral(u"Déjà l'été, où êtes-vous? Ça va très bien.\r\nNaïve façade\n");
    const QString quotes = QStringLiteral(u"It’s a “quoted” word — costing 5 €.\r\nNext\n");
    struct Case {
        const char* what;
        QByteArray file;
        QString text;
        StringEncoding encoding;
    };
    // More formats in tests/platform/TextFileCodecTest.cpp.
    const Case cases[] = {
        {"UTF-8, mixed line endings", encoded(mixed, Encoding::utf8), mixed, Encoding::utf8},
        {"UTF-16 with a mark", encoded(mixed, Encoding::utf16LittleEndian, true), mixed, Encoding::utf16LittleEndian},
        {"Latin 1", encoded(french, Encoding::isoLatin1), french, Encoding::isoLatin1},
        {"Windows-1252", encoded(quotes, Encoding::windowsCP1252), quotes, Encoding::windowsCP1252},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto doc = open(c.file);
        EXPECT_EQ(doc->data().textStorage().string(), c.text);
        EXPECT_EQ(doc->data().encoding(), c.encoding);
        ASSERT_TRUE(doc->save().ok());
        EXPECT_EQ(readFile(path), c.file);
    }
}

TEST_F(DocumentTest, SavesKeepTheFileEncodingAndNewDocumentsTakeThePreference)
{
    // A Latin 1 text that gains a character Latin 1 cannot hold is saved as
    // UTF-8 and stays Latin 1: once it fits again, it is saved as Latin 1.
    const QString text = QStringLiteral(u"Café crème\n");
    auto doc = open(encoded(text, Encoding::isoLatin1));
    type(*doc, QStringLiteral(u"Łódź"));
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(path), (text + QStringLiteral(u"Łódź")).toUtf8());
    EXPECT_EQ(doc->data().encoding(), Encoding::isoLatin1);
    doc->data().textStorage().replaceCharacters(Range(text.size(), 4), QString());
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(path), encoded(text, Encoding::isoLatin1));

    ScopedPreference preference(QStringLiteral("saveEncoding"), qlonglong(Encoding::windowsCP1252));
    Document fresh;
    type(fresh, QStringLiteral(u"“Hi”"));
    ASSERT_TRUE(fresh.saveAs(path).ok());
    EXPECT_EQ(readFile(path), QByteArray("\x93Hi\x94"));
    // The preference decides reading too, unless a byte-order mark speaks first.
    EXPECT_EQ(open(QByteArray("\x93Hi\x94"))->data().textStorage().string(), QStringLiteral(u"“Hi”"));
    EXPECT_EQ(open(encoded(QStringLiteral(u"“Hi”"), Encoding::utf8, true))->data().textStorage().string(),
              QStringLiteral(u"“Hi”"));
}

TEST_F(DocumentTest, TheSaveDialogsEncodingAppliesToItsSaveAndIsRemembered)
{
    // A file read from disk, saved elsewhere as UTF-16: the choice is not
    // ignored because the document remembers UTF-8.
    const QString text = QStringLiteral(u"Café crème\n");
    auto doc = open(text.toUtf8());
    const QString other = dir + QStringLiteral("/Wide.txt");
    doc->setSaveDialogEncoding(qint64(Encoding::utf16));
    ASSERT_TRUE(doc->saveAs(other).ok());
    EXPECT_EQ(readFile(other), encoded(text, Encoding::utf16LittleEndian, true));
    EXPECT_EQ(doc->data().encoding(), Encoding::utf16);
    // Later saves keep it, whatever the preference says by then.
    ScopedPreference preference(QStringLiteral("saveEncoding"), qlonglong(Encoding::windowsCP1252));
    type(*doc, QStringLiteral("more"));
    ASSERT_TRUE(doc->save().ok());
    EXPECT_EQ(readFile(other), encoded(text + QStringLiteral("more"), Encoding::utf16LittleEndian, true));

    // Automatic keeps the encoding a document remembers, and gives a new
    // one the preference's, for good.
    doc->setSaveDialogEncoding(-1);
    ASSERT_TRUE(doc->saveAs(dir + QStringLiteral("/Again.txt")).ok());
    EXPECT_EQ(doc->data().encoding(), Encoding::utf16);
    Document fresh;
    type(fresh, QStringLiteral(u"“Hi”"));
    fresh.setSaveDialogEncoding(-1);
    ASSERT_TRUE(fresh.saveAs(path).ok());
    EXPECT_EQ(readFile(path), QByteArray("\x93Hi\x94"));
    UserDefaults::standard().set(QStringLiteral("saveEncoding"), qlonglong(Encoding::utf8));
    type(fresh, QStringLiteral("!"));
    ASSERT_TRUE(fresh.save().ok());
    EXPECT_EQ(readFile(path), QByteArray("\x93Hi\x94!"));
}

TEST_F(DocumentTest, RevertReadsTheFileInItsRememberedEncodingFirst)
{
    // Mac Roman: detection alone would take these bytes for Windows Latin 1.
    const QString text = QStringLiteral(u"Café crème brûlée\n");
    UserDefaults::standard().set(QStringLiteral("saveEncoding"), qlonglong(Encoding::macOSRoman));
    auto doc = open(encoded(text, Encoding::macOSRoman));
    UserDefaults::standard().remove(QStringLiteral("saveEncoding"));
    ASSERT_EQ(doc->data().textStorage().string(), text);
    type(*doc, QStringLiteral("edit"));
    ASSERT_TRUE(doc->revertToSaved().ok());
    EXPECT_EQ(doc->data().textStorage().string(), text);
    EXPECT_EQ(doc->data().encoding(), Encoding::macOSRoman);
}

// A writer who once picked a single-byte encoding in a dialog still sees a
// UTF-8 file's own characters when opening and reverting it, and an edit is
// saved as UTF-8, not as UTF-8 read as Latin 1 and encoded again.
TEST_F(DocumentTest, AUtf8FileIsReadAsUtf8WhateverSingleByteEncodingThePreferenceNames)
{
    const QString text = QStringLiteral(u"Café crème – “naïve”\n");
    int narrow = 0;
    for (StringEncoding preference : Encodings::available()) {
        if (Encodings::isWideUnicode(preference) || preference == Encoding::utf8) continue;
        ++narrow;
        SCOPED_TRACE(Encodings::displayName(preference).toStdString());
        ScopedPreference chosen(QStringLiteral("saveEncoding"), qlonglong(preference));
        auto doc = open(text.toUtf8());
        EXPECT_EQ(doc->data().textStorage().string(), text);
        EXPECT_EQ(doc->data().encoding(), Encoding::utf8);
        type(*doc, QStringLiteral("more"));
        ASSERT_TRUE(doc->save().ok());
        EXPECT_EQ(readFile(path), (text + QStringLiteral("more")).toUtf8());
        writeFile(path, text.toUtf8());
        ASSERT_TRUE(doc->revertToSaved().ok());
        EXPECT_EQ(doc->data().textStorage().string(), text);
    }
    EXPECT_GT(narrow, 10);
}

// Autosaving, atomic saves and files changed by another program are
// DocumentBase's (tests/platform/DocumentBaseTest.cpp).

TEST_F(DocumentTest, EditorsAreStyledOnceAndRefreshedAfterReadingAndSaving)
{
    auto doc = open("# Title\n\nSome *words*.\n");
    DocumentData& data = doc->data();
    EXPECT_TRUE(data.textStorageInvalidated) << "nothing is styled before a window attaches";
    EXPECT_TRUE(data.textStorage().attribute(AttributeKey::Font, 0).isNull());

    RecordingEditor first, second;
    doc->addEditor(first);
    EXPECT_FALSE(data.textStorageInvalidated);
    EXPECT_FALSE(data.textStorage().attribute(AttributeKey::Font, 0).isNull());
    EXPECT_FALSE(data.textStorage().attribute(AttributeKey::FullLineMarkdown, 0).isNull());
    EXPECT_EQ(first.calls, (QStringList{"highlight", "typing", "info"}));
    doc->addEditor(second);
    EXPECT_EQ(second.calls, QStringList{"info"}) << "the styling was current";

    QCoreApplication::processEvents(); // the refresh after opening
    first.calls.clear();
    second.calls.clear();
    second.outlineVisible = true;
    ASSERT_TRUE(doc->revertToSaved().ok());
    EXPECT_TRUE(first.calls.isEmpty()) << "the refresh comes on a later turn";
    QTest::qWait(0);
    QCoreApplication::processEvents();
    EXPECT_EQ(first.calls, (QStringList{"info", "highlight"}));
    EXPECT_EQ(second.calls, (QStringList{"info", "highlight", "outline"}));

    first.calls.clear();
    ASSERT_TRUE(doc->save().ok());
    QCoreApplication::processEvents();
    EXPECT_EQ(first.calls, QStringList{"info"});

    // A whole-text restyle refreshes every window of this document, and
    // only when something is stale.
    Document other;
    RecordingEditor elsewhere;
    other.addEditor(elsewhere);
    first.calls.clear();
    elsewhere.calls.clear();
    data.restyleTextStorage();
    EXPECT_TRUE(first.calls.isEmpty());
    data.textStorageInvalidated = true;
    data.restyleTextStorage();
    EXPECT_EQ(first.calls, (QStringList{"highlight", "typing"}));
    EXPECT_TRUE(elsewhere.calls.isEmpty());

    // A closed window's editor is no longer refreshed; a destroyed one
    // leaves by itself.
    doc->removeEditor(first);
    {
        RecordingEditor third;
        doc->addEditor(third);
        EXPECT_EQ(doc->editors().size(), 2u);
    }
    EXPECT_EQ(doc->editors(), std::vector<DocumentEditor*>{&second});
    EXPECT_EQ(first.document(), nullptr);
}

TEST_F(DocumentTest, TogglingMarkdownRestylesAndHidesTheFirstOutline)
{
    ScopedPreference preference(QStringLiteral("enableMarkdown"), true);
    auto doc = open("# Title\nText\n");
    RecordingEditor first, second;
    first.outlineVisible = second.outlineVisible = true;
    doc->addEditor(first);
    doc->addEditor(second);
    TextStorage& storage = doc->data().textStorage();
    const AttributeValue headingFont = storage.attribute(AttributeKey::Font, 2);

    ASSERT_TRUE(doc->isMarkdownEnabled());
    doc->toggleMarkdown();
    EXPECT_FALSE(doc->isMarkdownEnabled());
    EXPECT_FALSE(first.outlineVisible);
    EXPECT_TRUE(second.outlineVisible);
    EXPECT_EQ(storage.attribute(AttributeKey::Font, 2), storage.attribute(AttributeKey::Font, 10))
        << "only the base style is left";
    EXPECT_NE(storage.attribute(AttributeKey::Font, 2), headingFont);
    // The last value toggled is where the next document starts.
    EXPECT_FALSE(Document().isMarkdownEnabled());

    doc->toggleMarkdown();
    EXPECT_EQ(storage.attribute(AttributeKey::Font, 2), headingFont);
    EXPECT_TRUE(Document().isMarkdownEnabled());

    // Without a window the toggle only marks the styling stale.
    auto hidden = open("# Title\n");
    hidden->toggleMarkdown();
    EXPECT_TRUE(hidden->data().textStorageInvalidated);
    EXPECT_TRUE(hidden->data().textStorage().attribute(AttributeKey::Font, 0).isNull());
    hidden->toggleMarkdown();
}

TEST_F(DocumentTest, SuggestedFileNamesAreUsableFileNames)
{
    struct Case {
        const char* text;
        std::optional<QString> name;
    };
    const Case cases[] = {
        {"# A heading\nand more", QStringLiteral("A heading")},
        // Never a doubled dot before the extension.
        {"First sentence. Second one.", QStringLiteral("First sentence")},
        {"Hello world.", QStringLiteral("Hello world")},
        {"Wait...", QStringLiteral("Wait")},
        {"Really?", QStringLiteral("Really?")},
        {"  Leading space", QStringLiteral("Leading space")},
        {"Notes/ideas and more", QStringLiteral("Notes-ideas and more")},
        {".hidden notes", QStringLiteral("hidden notes")},
        {"... . ...", std::nullopt},
        {"Tab\there", QStringLiteral("Tab here")},
        {"Bell\x07 ring", QStringLiteral("Bell  ring")},
        {"", std::nullopt},
        {"# ", std::nullopt},
    };
    for (const Case& c : cases) {
        Document doc;
        type(doc, QString::fromUtf8(c.text));
        EXPECT_EQ(doc.suggestedFileName(), c.name) << c.text;
    }

    // 99 characters of three bytes each: shortened to fit the file system
    // with ".txt" added, by whole characters.
    Document wide;
    type(wide, QString(99, QChar(0x65E5)));
    const auto name = wide.suggestedFileName();
    ASSERT_TRUE(name);
    EXPECT_LE(name->toUtf8().size() + 4, 255);
    EXPECT_EQ(*name, QString(name->size(), QChar(0x65E5)));

    // A document with a file offers nothing of its own.
    EXPECT_EQ(open("# Title\n")->suggestedFileName(), std::nullopt);
}

TEST_F(DocumentTest, ExportWritesUtf8HtmlWhereThePanelSays)
{
    auto doc = open("# Title\n");
    const QString target = dir + QStringLiteral("/Notes.html");
    QSignalSpy finished(doc.get(), &Document::exportFinished);
    const auto exportAndWait = [&] {
        const qsizetype before = finished.count();
        doc->exportAsHTML();
        EXPECT_TRUE(QTest::qWaitFor([&] { return finished.count() > before; }, test::patience));
    };

    // Cancelled: nothing.
    doc->exportAsHTML();
    EXPECT_EQ(host.proposedNames, QStringList{"Notes"});
    EXPECT_FALSE(doc->isExporting());
    EXPECT_FALSE(QFileInfo::exists(target));

    // No conversion: the error, and nothing written.
    host.exportLocation = target;
    exportAndWait();
    ASSERT_EQ(prompter.errors.size(), 1);
    EXPECT_EQ(prompter.errors.front().errorDescription, QStringLiteral("An error occurred."));
    EXPECT_FALSE(QFileInfo::exists(target));

    // The conversion runs off the main thread, on the text as it was.
    const Qt::HANDLE mainThread = QThread::currentThreadId();
    std::atomic<bool> offMainThread = false;
    Document::setHTMLConverter([&](const QString& markdown) {
        offMainThread = QThread::currentThreadId() != mainThread;
        return QStringLiteral(u"<h1>%1 “ok”</h1>\n").arg(markdown.mid(2).trimmed());
    });
    doc->exportAsHTML();
    EXPECT_TRUE(doc->isExporting());
    type(*doc, "typed meanwhile");
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 2; }, test::patience));
    EXPECT_FALSE(doc->isExporting());
    EXPECT_TRUE(offMainThread);
    EXPECT_EQ(finished.last().at(1).toString(), QString());
    EXPECT_EQ(prompter.errors.size(), 1);
    // UTF-8 behind its byte-order mark: a fragment has no head to name its
    // encoding, and a browser would take its quotes for other letters.
    const QByteArray bytes = readFile(target);
    EXPECT_EQ(bytes, "\xEF\xBB\xBF" + QStringLiteral(u"<h1>Title “ok”</h1>\n").toUtf8());

    // A folder that is not there: the writing error is shown.
    host.exportLocation = dir + QStringLiteral("/missing/Notes.html");
    exportAndWait();
    EXPECT_EQ(prompter.errors.size(), 2);

    // A full disk: the error says so, and the old export stays whole.
    host.exportLocation = target;
    setFileWriteFaultHook([](const char* step) { return std::string_view(step) == "sync" ? ENOSPC : 0; });
    exportAndWait();
    setFileWriteFaultHook({});
    ASSERT_EQ(prompter.errors.size(), 3);
    EXPECT_EQ(prompter.errors.back().errorDescription, QStringLiteral("The HTML file “Notes.html” couldn’t be saved."));
    EXPECT_EQ(prompter.errors.back().recoverySuggestion, QStringLiteral("The disk is full."));
    EXPECT_EQ(finished.last().at(1).toString(), prompter.errors.back().message());
    EXPECT_EQ(readFile(target), bytes);
}

// Printing needs the HTML before it goes on: a long conversion runs off the
// main thread while the main thread keeps its events going (the windows
// draw), with progress shown; a quick one shows nothing.
TEST_F(DocumentTest, ConversionsRunOffTheMainThreadAndShowProgressWhenLong)
{
    auto doc = open("# Title\n");
    std::atomic<int> delayMs = 0;
    const Qt::HANDLE mainThread = QThread::currentThreadId();
    std::atomic<bool> offMainThread = false;
    Document::setHTMLConverter([&](const QString& markdown) {
        offMainThread = QThread::currentThreadId() != mainThread;
        QThread::msleep(delayMs);
        return std::optional<QString>(QStringLiteral("<p>%1</p>").arg(markdown.trimmed()));
    });
    EXPECT_EQ(doc->htmlOfText(), QStringLiteral("<p># Title</p>"));
    EXPECT_TRUE(offMainThread);
    EXPECT_TRUE(host.progress.isEmpty());

    delayMs = 600;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    EXPECT_EQ(doc->htmlOfText(), QStringLiteral("<p># Title</p>"));
    EXPECT_GT(ticks, 5) << "the main thread went on while it waited";
    EXPECT_EQ(host.progress, (QStringList{"Converting “Notes.txt” to HTML…", "done"}));

    // Without waiting: the HTML comes later, on the main thread.
    delayMs = 0;
    std::optional<QString> later;
    doc->convertToHTML([&](const std::optional<QString>& html) {
        EXPECT_EQ(QThread::currentThreadId(), mainThread);
        later = html;
    });
    EXPECT_FALSE(later);
    ASSERT_TRUE(QTest::qWaitFor([&] { return later.has_value(); }, test::patience));
    EXPECT_EQ(*later, QStringLiteral("<p># Title</p>"));
}

TEST_F(DocumentTest, LibraryRowsKeepAWindowlessDocumentOpenUntilShown)
{
    auto doc = open("text");
    doc->addReference();
    doc->addReference();
    doc->removeReference();
    EXPECT_TRUE(host.closedChildren.isEmpty());
    doc->removeReference();
    EXPECT_EQ(host.closedChildren, QList<Document*>{doc.get()});

    // Shown, it asks for a window first; with one it stays open when the
    // count falls to 0.
    doc->showWindows();
    EXPECT_EQ(host.windowsMade, 1);
    RecordingEditor editor;
    doc->addEditor(editor);
    doc->showWindows();
    EXPECT_EQ(host.windowsMade, 1);
    EXPECT_EQ(editor.calls.last(), QStringLiteral("show"));
    host.closedChildren.clear();
    doc->addReference();
    doc->removeReference();
    EXPECT_TRUE(host.closedChildren.isEmpty());
}
