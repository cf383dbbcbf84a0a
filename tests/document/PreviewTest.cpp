// The preview window's content: a snapshot of the document's HTML in a web
// view that runs no scripts, loads nothing remote and never navigates away.
#include "document/PreviewViewController.h"

#include "DocumentTestSupport.h"
#include "document/Document.h"
#include "platform/application/Workspace.h"
#include "platform/files/ScratchFolder.h"
#include "support/HostileFiles.h"
#include "support/QtPrinters.h"
#include "support/TestEnvironment.h"
#include "support/WebEngine.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

namespace {

// Runs a script in an isolated world of the test's own (the page's scripts
// are off; the test's are not) and waits for its result.
QVariant evaluate(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, test::patience));
    return result;
}

bool loads(PreviewViewController& preview, const std::function<void()>& start)
{
    QSignalSpy finished(&preview, &PreviewViewController::loadFinished);
    start();
    return finished.wait(test::patience) && finished.last().first().toBool();
}

QString pageText(PreviewViewController& preview)
{
    return evaluate(preview.webView()->page(), QStringLiteral("document.body.textContent")).toString();
}

// Receives the URLs the desktop is asked to open.
class DesktopBrowser : public QObject {
    Q_OBJECT
public:
    DesktopBrowser()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
    }
    ~DesktopBrowser() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class PreviewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        installHTMLConverter();
        dir = freshDirectory(QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    void TearDown() override { Document::setHTMLConverter({}); }

    std::unique_ptr<Document> document(const QString& text)
    {
        const QString path = dir + QStringLiteral("/Notes.md");
        writeFile(path, text.toUtf8());
        auto doc = std::make_unique<Document>();
        EXPECT_TRUE(doc->readFromFile(path, QStringLiteral("text/plain")).ok());
        return doc;
    }

    QString dir;
};

} // namespace

TEST_F(PreviewTest, ThePageRunsNoScriptsAndLoadsNothingFromTheNetwork)
{
    SKIP_WITHOUT_WEB_ENGINE();
    QTcpServer outside;
    ASSERT_TRUE(outside.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("http://127.0.0.1:%1").arg(outside.serverPort());
    QImage(40, 30, QImage::Format_RGB32).save(dir + QStringLiteral("/picture.png"));

    PreviewViewController preview;
    preview.show();
    ASSERT_TRUE(loads(preview, [&] {
        preview.loadHTML(QStringLiteral("<p>Text <img id=local src='picture.png'> <img id=remote src='%1/remote.png'></p>"
                                        "<link rel=stylesheet href='%1/style.css'><iframe src='%1/frame'></iframe>"
                                        "<script>document.title = 'changed by a script';</script>")
                             .arg(address),
                         dir);
    }));
    QWebEnginePage* page = preview.webView()->page();
    EXPECT_NE(page->title(), "changed by a script");
    EXPECT_FALSE(page->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
    // The image beside the document shows; the one from outside never
    // reaches the server.
    EXPECT_EQ(evaluate(page, QStringLiteral("document.getElementById('local').naturalWidth")).toInt(), 40);
    EXPECT_EQ(evaluate(page, QStringLiteral("document.getElementById('remote').naturalWidth")).toInt(), 0);
    EXPECT_FALSE(outside.waitForNewConnection(300));
}

TEST_F(PreviewTest, LinksOpenOnTheDesktopAndThePageStays)
{
    SKIP_WITHOUT_WEB_ENGINE();
    DesktopBrowser browser;
    auto doc = document(QStringLiteral("See [the site](https://example.org/page) and a note.[^n]\n\n"
                                       "[^n]: The note.\n"));
    PreviewViewController preview;
    preview.document = doc.get();
    preview.show();
    ASSERT_TRUE(loads(preview, [&] { preview.updatePreview(); }));
    QWebEnginePage* page = preview.webView()->page();
    const QUrl shown = page->url();

    evaluate(page, QStringLiteral("document.querySelector('a[href^=\"https\"]').click()"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.opened.isEmpty(); }, test::patience));
    EXPECT_EQ(browser.opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/page"))});
    EXPECT_EQ(page->url(), shown);

    // A footnote link moves within the page.
    evaluate(page, QStringLiteral("document.querySelector('a[href*=\"#fn\"]').click()"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->url().hasFragment(); }, test::patience));
    EXPECT_EQ(page->url().adjusted(QUrl::RemoveFragment), shown);
    EXPECT_EQ(browser.opened.size(), 1);
}

namespace {

// Catches every address that would reach the desktop's opener directly
// (xdg-open): the preview hands it none.
class DesktopOpener : public QObject {
    Q_OBJECT
public:
    DesktopOpener()
    {
        for (const QString& scheme : schemes) QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~DesktopOpener() override
    {
        for (const QString& scheme : schemes) QDesktopServices::unsetUrlHandler(scheme);
    }
    const QStringList schemes{"file", "http", "https", "mailto", "ftp", "smb", "lumora-test"};
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

// The application around the preview: what it opens as documents.
class LinkHost : public DocumentHost {
public:
    QStringList opened;
    void makeWindow(Document&) override {}
    void closeChildDocument(Document&) override {}
    std::optional<QString> chooseExportLocation(Document&, const QString&) override { return std::nullopt; }
    void openDocumentWithoutDisplay(const QString&, OpenCompletion completion) override { completion(nullptr, {}); }
    void openDocumentInWindow(const QString& path) override { opened << path; }
};

} // namespace

// A link in a received document must never start a program: a file link
// opens in Lumora when it names a text document, and anything else on this
// computer (a launcher, a script, a folder, a picture, a link to one of
// them) is only shown in the file manager. Web and mail addresses go to the
// desktop's programs for them; other schemes go nowhere.
TEST_F(PreviewTest, FileLinksOpenDocumentsHereAndShowEverythingElse)
{
    SKIP_WITHOUT_WEB_ENGINE();
    const QString elsewhere = freshDirectory(QStringLiteral("preview-elsewhere"));
    writeFile(dir + "/other.md", "# Other");
    writeFile(elsewhere + "/notes.txt", "notes");
    writeFile(elsewhere + "/run.desktop", "[Desktop Entry]\nType=Application\nExec=touch ran\n");
    writeFile(dir + "/script.sh", "#!/bin/sh\ntouch ran\n");
    for (const QString& program : {elsewhere + "/run.desktop", dir + "/script.sh"})
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QImage(4, 4, QImage::Format_RGB32).save(dir + "/picture.png");
    QDir(dir).mkdir("Pictures");
    ASSERT_TRUE(QFile::link(dir + "/other.md", dir + "/alias.txt"));
    ASSERT_TRUE(QFile::link(elsewhere + "/run.desktop", dir + "/trap.md"));

    LinkHost host;
    Document::setHost(&host);
    QList<QUrl> shown, handedOut;
    Workspace::setHandlers(
        [&](const QUrl& item, std::function<void(bool)> done) {
            shown << item;
            done(true);
        },
        [&](const QUrl& url) {
            handedOut << url;
            return true;
        });
    DesktopOpener desktop;
    const auto restore = qScopeGuard([] {
        Workspace::setHandlers(nullptr, nullptr);
        Document::setHost(nullptr);
    });

    const QString launcher = QUrl::fromLocalFile(elsewhere + "/run.desktop").toString();
    PreviewViewController preview;
    preview.show();
    ASSERT_TRUE(loads(preview, [&] {
        preview.loadHTML(QStringLiteral("<a id=other href='other.md'>o</a> <a id=absolute href='%1'>a</a>"
                                        " <a id=alias href='alias.txt'>l</a> <a id=gone href='gone.md#top'>g</a>"
                                        " <a id=launcher href='%2'>r</a> <a id=trap href='trap.md'>t</a>"
                                        " <a id=script href='script.sh'>s</a> <a id=folder href='Pictures'>f</a>"
                                        " <a id=picture href='picture.png'>p</a>"
                                        " <a id=blank target=_blank href='%2'>b</a>"
                                        " <a id=mail href='mailto:ann@example.org'>m</a>"
                                        " <a id=web href='https://example.org/page'>w</a>"
                                        " <a id=ftp href='ftp://example.org/file'>x</a>"
                                        " <a id=smb href='smb://server/share'>x</a>"
                                        " <a id=custom href='lumora-test:run'>x</a>")
                             .arg(QUrl::fromLocalFile(elsewhere + "/notes.txt").toString(), launcher),
                         dir);
    }));
    QWebEnginePage* page = preview.webView()->page();
    const QUrl page0 = page->url();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    // Clicked as the writer clicks: some addresses are followed only then.
    const auto click = [&](const char* id) {
        const QVariantList at = evaluate(page, QStringLiteral("(() => { const r = document.getElementById('%1')"
                                                              ".getBoundingClientRect(); return [r.left + r.width / 2,"
                                                              " r.top + r.height / 2]; })()")
                                                   .arg(QLatin1String(id)))
                                    .toList();
        ASSERT_EQ(at.size(), 2);
        QTest::mouseClick(preview.webView()->focusProxy(), Qt::LeftButton, {},
                          QPoint(qRound(at[0].toDouble()), qRound(at[1].toDouble())));
    };
    const auto actions = [&] { return host.opened.size() + shown.size() + handedOut.size() + desktop.opened.size(); };
    const auto clickAndWait = [&](const char* id) {
        const qsizetype before = actions();
        click(id);
        return QTest::qWaitFor([&] { return actions() > before; }, test::patience);
    };

    // Text documents open here, wherever they are and whatever names them;
    // a missing one too (the open says it is missing).
    for (const char* id : {"other", "absolute", "alias", "gone"}) ASSERT_TRUE(clickAndWait(id)) << id;
    EXPECT_EQ(host.opened, (QStringList{dir + "/other.md", elsewhere + "/notes.txt", dir + "/alias.txt",
                                        dir + "/gone.md"}));
    // Everything else is shown, never opened.
    // (The last one asks for a window of its own.)
    for (const char* id : {"launcher", "trap", "script", "folder", "picture", "blank"})
        ASSERT_TRUE(clickAndWait(id)) << id;
    EXPECT_EQ(shown, (QList<QUrl>{QUrl(launcher), QUrl::fromLocalFile(dir + "/trap.md"),
                                  QUrl::fromLocalFile(dir + "/script.sh"), QUrl::fromLocalFile(dir + "/Pictures"),
                                  QUrl::fromLocalFile(dir + "/picture.png"), QUrl(launcher)}));
    for (const char* id : {"mail", "web"}) ASSERT_TRUE(clickAndWait(id)) << id;
    // Other schemes go nowhere: the web link clicked after each is the next
    // thing that happens.
    for (const char* id : {"ftp", "smb", "custom"}) {
        click(id);
        ASSERT_TRUE(clickAndWait("web")) << id;
    }
    EXPECT_EQ(handedOut, (QList<QUrl>{QUrl("mailto:ann@example.org"), QUrl("https://example.org/page"),
                                      QUrl("https://example.org/page"), QUrl("https://example.org/page"),
                                      QUrl("https://example.org/page")}))
        << QUrl::toStringList(handedOut).join(' ').toStdString();
    EXPECT_EQ(desktop.opened, QList<QUrl>());
    EXPECT_EQ(host.opened.size(), 4);
    EXPECT_EQ(shown.size(), 6);
    EXPECT_EQ(page->url(), page0);
}

// A link to a file that is not a text document, where neither a file
// manager nor a program for its folder answers, tells the writer so, and
// where the file is, as Show in File Manager does; where one answers, the
// writer hears nothing.
TEST_F(PreviewTest, AFileNothingCanShowIsReported)
{
    SKIP_WITHOUT_WEB_ENGINE();
    QImage(4, 4, QImage::Format_RGB32).save(dir + "/picture.png");
    bool answers = false;
    QList<QUrl> shown, folders;
    Workspace::setHandlers(
        [&](const QUrl& item, std::function<void(bool)> done) {
            shown << item;
            done(answers);
        },
        [&](const QUrl& url) {
            folders << url;
            return false;
        });
    RecordingPrompter prompter;
    DocumentBase::setPrompter(&prompter);
    const auto restore = qScopeGuard([] {
        Workspace::setHandlers(nullptr, nullptr);
        DocumentBase::setPrompter(nullptr);
    });

    auto doc = document(QStringLiteral("See [the picture](picture.png).\n"));
    PreviewViewController preview;
    preview.document = doc.get();
    preview.show();
    ASSERT_TRUE(loads(preview, [&] { preview.updatePreview(); }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    QWebEnginePage* page = preview.webView()->page();
    const QUrl page0 = page->url();
    const auto click = [&] {
        const QVariantList at = evaluate(page, QStringLiteral("(() => { const r = document.querySelector('a')"
                                                              ".getBoundingClientRect(); return [r.left + r.width / 2,"
                                                              " r.top + r.height / 2]; })()"))
                                    .toList();
        ASSERT_EQ(at.size(), 2);
        QTest::mouseClick(preview.webView()->focusProxy(), Qt::LeftButton, {},
                          QPoint(qRound(at[0].toDouble()), qRound(at[1].toDouble())));
    };

    click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompter.errors.isEmpty(); }, test::patience));
    EXPECT_EQ(shown, QList<QUrl>{QUrl::fromLocalFile(dir + "/picture.png")});
    EXPECT_EQ(folders, QList<QUrl>{QUrl::fromLocalFile(dir)});
    ASSERT_EQ(prompter.errors.size(), 1);
    EXPECT_EQ(prompter.errors[0].errorDescription, "“picture.png” can’t be shown: no file manager answered.");
    EXPECT_EQ(prompter.errors[0].recoverySuggestion,
              QStringLiteral("No program could open its folder either. It is in %1.").arg(dir));
    EXPECT_EQ(page->url(), page0);

    // A file manager that shows it: nothing more to say.
    answers = true;
    click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() == 2; }, test::patience));
    EXPECT_EQ(prompter.errors.size(), 1);
}

TEST_F(PreviewTest, ASnapshotOfTheDocumentWhenShown)
{
    SKIP_WITHOUT_WEB_ENGINE();
    auto doc = document(QStringLiteral("# First draft"));
    PreviewViewController preview;
    preview.show();
    // Without a document nothing happens.
    preview.updatePreview();
    EXPECT_TRUE(preview.windowTitle().isEmpty());

    preview.document = doc.get();
    ASSERT_TRUE(loads(preview, [&] { preview.updatePreview(); }));
    EXPECT_EQ(preview.windowTitle(), "Notes.md — Preview");
    EXPECT_EQ(pageText(preview).trimmed(), "First draft");

    // Typing leaves the page alone; showing it again renders the new text.
    type(*doc, QStringLiteral(", revised"));
    QTest::qWait(100);
    EXPECT_EQ(pageText(preview).trimmed(), "First draft");
    ASSERT_TRUE(loads(preview, [&] { preview.updatePreview(); }));
    EXPECT_EQ(pageText(preview).trimmed(), "First draft, revised");
}

TEST_F(PreviewTest, LargePagesLoadFromAPrivateFileRemovedWithThePreview)
{
    SKIP_WITHOUT_WEB_ENGINE();
    QString text = QStringLiteral("Opening with a note.[^n]\n\n[^n]: The note.\n\n");
    for (int i = 1; text.size() < 2 * PreviewViewController::maximumInlineSize; ++i)
        text += QStringLiteral("Paragraph %1 of a very long document, long enough for a file of its own.\n\n").arg(i);
    text += QStringLiteral("The very last paragraph.");
    auto doc = document(text);

    QString folder;
    {
        PreviewViewController preview;
        preview.document = doc.get();
        preview.show();
        ASSERT_TRUE(loads(preview, [&] { preview.updatePreview(); }));
        QWebEnginePage* page = preview.webView()->page();
        ASSERT_TRUE(page->url().isLocalFile());
        folder = QFileInfo(page->url().toLocalFile()).path();
        // In the runtime folder, where a crash leaves nothing for long, and
        // for this user alone.
        EXPECT_EQ(QFileInfo(folder).path().toStdString(), ScratchFolder::parentFolder(QStringLiteral("preview")).toStdString());
        EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        EXPECT_EQ(QFileInfo(page->url().toLocalFile()).permissions(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        EXPECT_TRUE(evaluate(page, QStringLiteral("document.body.textContent.includes('The very last paragraph.')")).toBool());

        // Places on the page still work from a file.
        const QUrl shown = page->url();
        evaluate(page, QStringLiteral("document.querySelector('a[href*=\"#fn\"]').click()"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return page->url().hasFragment(); }, test::patience));
        EXPECT_EQ(page->url().adjusted(QUrl::RemoveFragment), shown);
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
}

// The preview shows the writer's images wherever they are on this computer,
// but of local files only ordinary ones: a pipe (the web view would wait on
// it forever, and the program could never exit), a device, a socket, a
// folder, a huge file, a link to one of them and the kernel's files never
// load, and nothing is opened to find out.
TEST_F(PreviewTest, LocalFilesShowOnlyWhenOrdinaryAndNoPipeIsOpened)
{
    SKIP_WITHOUT_WEB_ENGINE();
    const QString other = freshDirectory(QStringLiteral("preview-other"));
    HostileImageFolder files(dir, other);

    const struct {
        const char* id;
        QString source;
        int width;
    } images[] = {
        {"inside", QStringLiteral("images/inside.png"), 40},
        {"outside", QStringLiteral("../%1/outside.png").arg(QFileInfo(other).fileName()), 50},
        {"absolute", QUrl::fromLocalFile(other + QStringLiteral("/absolute.png")).toString(), 24},
        {"pipe", QStringLiteral("pipe.png"), 0},
        {"link", QStringLiteral("images/to-pipe.png"), 0},
        {"zero", QStringLiteral("file:///dev/zero"), 0},
        {"socket", QStringLiteral("s.png"), 0},
        {"huge", QStringLiteral("huge.png"), 0},
        {"folder", QStringLiteral("folder.png"), 0},
        {"kernel", QStringLiteral("file:///proc/self/status"), 0},
    };
    QString html = QStringLiteral("<link rel=stylesheet href='style.css'><p>");
    for (const auto& image : images)
        html += QStringLiteral("<img id=%1 src='%2'> ").arg(QString::fromLatin1(image.id), image.source);
    html += QStringLiteral("</p><iframe src='pipe.png'></iframe><video src='pipe.png'></video>");

    PreviewViewController preview;
    preview.show();
    ASSERT_TRUE(loads(preview, [&] { preview.loadHTML(html, dir); }));
    QWebEnginePage* page = preview.webView()->page();
    for (const auto& image : images) {
        EXPECT_EQ(evaluate(page, QStringLiteral("document.getElementById('%1').naturalWidth").arg(QString::fromLatin1(image.id)))
                      .toInt(),
                  image.width)
            << image.id;
    }
    EXPECT_FALSE(files.pipe.opened()) << "the web view opened the pipe named as an image";
    EXPECT_FALSE(files.style.opened()) << "the web view opened the pipe named as a style sheet";
}

#include "PreviewTest.moc"
