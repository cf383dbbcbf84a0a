#include "document/PreviewViewController.h"

#include "document/Document.h"
#include "document/DocumentEditor.h"
#include "platform/application/Workspace.h"
#include "platform/files/FileWriter.h"
#include "platform/files/FolderListing.h"
#include "platform/files/LocalResources.h"
#include "platform/files/NativePath.h"
#include "platform/files/ScratchFolder.h"
#include "platform/foundation/Localization.h"
#include "settings/Settings.h"
#include "settings/Theme.h"
#include "widgets/ViewUtilities.h"

#include <QContextMenuEvent>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QMenu>
#include <QRegularExpression>
#include <QWebEngineNewWindowRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <mutex>
#include <set>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace lumora {

namespace {

// The schemes a preview may load from: its own page and local files.
// Everything else (the network above all) is refused.
bool isLocalScheme(const QString& scheme)
{
    return scheme == QLatin1String("file") || scheme == QLatin1String("data") || scheme == QLatin1String("blob")
        || scheme == QLatin1String("qrc");
}

// Lets through the preview's own page and what it names from this computer,
// and of local files only those the pages' rules allow (LocalResources.h):
// the web view's loader would wait forever on a named pipe, which keeps the
// program from ever exiting, and read a device without end. They are
// looked at before the load, never opened here.
class LocalRequestsOnly : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QUrl url = info.requestUrl();
        if (!isLocalScheme(url.scheme())) {
            info.block(true);
            return;
        }
        if (url.scheme() != QLatin1String("file")) return;
        const std::optional<QString> path = localResourcePath(url, QString());
        if (path && isPage(*path)) return;
        // A page of its own is the only file the preview shows as a page.
        if (!path || info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame
            || !checkLocalResource(*path))
            info.block(true);
    }

    // The preview's own page files, which may be larger than any image.
    void addPage(const QString& path)
    {
        const std::lock_guard lock(m_mutex);
        m_pages.insert(path);
    }
    void removePage(const QString& path)
    {
        const std::lock_guard lock(m_mutex);
        m_pages.erase(path);
    }

private:
    bool isPage(const QString& path)
    {
        const std::lock_guard lock(m_mutex);
        return m_pages.count(path) > 0;
    }

    std::mutex m_mutex; // the web view may ask on a thread of its own
    std::set<QString> m_pages;
};

// Whether the file at path is a text document Lumora opens itself: a
// regular file whose name, once symbolic links are followed, has one of the
// extensions the library and File ▸ Open take. A file that is not there
// counts by its own name (opening it then says that it is missing); a link
// that leads nowhere does not.
bool isTextDocument(const QString& path)
{
    const QByteArray native = NativePath::encode(path);
    char resolved[PATH_MAX];
    if (!::realpath(native.constData(), resolved))
        return errno == ENOENT && !NativePath::exists(path) && FolderListing::isDocumentExtension(QFileInfo(path).suffix());
    return NativePath::isRegularFile(path)
        && FolderListing::isDocumentExtension(QFileInfo(NativePath::decode(resolved)).suffix());
}

// Where no program could show a file a link names, the writer hears so,
// and where it is, as Show in File Manager says it; through the prompter
// of the document shown, as the document's own errors.
void tellFileNotShown(PreviewViewController* preview, const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash <= 0 ? QStringLiteral("/") : path.left(slash);
    const PlatformError error(PlatformError::Code::generic,
                              localizedFormat(QStringLiteral("library.reveal.error"), {NativePath::shownNameOf(path)}),
                              localizedFormat(QStringLiteral("library.reveal.error.info"),
                                              {QDir::toNativeSeparators(NativePath::shown(folder))}),
                              path);
    DocumentPrompter* prompter = DocumentBase::prompter();
    if (preview && preview->document && prompter) prompter->presentError(*preview->document, error);
    else qWarning().noquote() << error.message();
}

// Where a link the writer follows goes. Web and mail addresses go to the
// desktop's programs for them. A file on this computer is never handed to
// the desktop's opener, which runs programs and launchers: a text document
// opens in Lumora, as File ▸ Open would open it; anything else (a folder, a
// picture, a program, a launcher, a link to one of them) is shown in the
// file manager, and where nothing shows it the preview says so. Any other
// scheme goes nowhere.
void followLink(const QUrl& url, const QPointer<PreviewViewController>& preview)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto")) {
        Workspace::openURL(url);
        return;
    }
    if (scheme != QLatin1String("file") || !(url.host().isEmpty() || url.host() == QLatin1String("localhost"))) return;
    const QString path =
        QDir::cleanPath(NativePath::fromFileUrl(url.adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery)));
    if (!QDir::isAbsolutePath(path)) return;
    if (!isTextDocument(path)) {
        Workspace::revealFile(path, [preview, path](bool shown) {
            if (!shown) tellFileNotShown(preview, path);
        });
        return;
    }
    if (DocumentHost* host = Document::host()) host->openDocumentInWindow(path);
}

QUrl withoutFragment(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveFragment);
}

QString cssColor(const Color& color)
{
    return color.toQColor().name(QColor::HexRgb);
}

// The page's look: a readable column in the theme's colours. Documents that
// bring their own style sheet override it. Blocks out of sight are laid out
// only as they come into view: a 5 MB document loads in half the time.
QString themeStyle()
{
    const Theme& theme = *Settings::shared().theme();
    const QColor background = theme.backgroundColor.toQColor(), foreground = theme.foregroundColor.toQColor();
    const QString rule = views::blend(background, foreground, 0.15).name(QColor::HexRgb);
    const QString tint = views::blend(background, foreground, 0.06).name(QColor::HexRgb);
    const QString muted = views::blend(background, foreground, 0.7).name(QColor::HexRgb);
    return QStringLiteral(
               ":root { color-scheme: %1; }\n"
               "html { background: %2; }\n"
               "body { color: %3; background: %2; font-family: serif; font-size: 17px; line-height: 1.6;"
               " max-width: 42em; margin: 2.5em auto 4em; padding: 0 2em; overflow-wrap: break-word; }\n"
               "a { color: %4; }\n"
               "h1, h2, h3, h4, h5, h6 { line-height: 1.25; }\n"
               "img { max-width: 100%; height: auto; }\n"
               "pre, code { font-family: monospace; font-size: 0.88em; }\n"
               "pre { background: %5; padding: 0.8em 1em; overflow-x: auto; border-radius: 4px; }\n"
               "blockquote { margin: 1em 0; padding: 0 1em; border-left: 3px solid %6; color: %7; }\n"
               "hr { border: none; border-top: 1px solid %6; }\n"
               "table { border-collapse: collapse; }\n"
               "th, td { border: 1px solid %6; padding: 0.3em 0.7em; }\n"
               "body > * { content-visibility: auto; contain-intrinsic-size: auto 3em; }\n")
        .arg(theme.isDark ? QStringLiteral("dark") : QStringLiteral("light"), cssColor(theme.backgroundColor),
             cssColor(theme.foregroundColor), cssColor(theme.cursorColor), tint, rule, muted);
}

// The HTML the view loads: a complete document whose head starts with the
// base for relative images and the theme's style; a document's own head
// follows them, so its styles win. A page loaded from a file of its own
// (self) points its links to places on the page at that file: the base
// would send them to the document's folder.
QString pageHTML(QString html, const QString& folder, const QUrl& self = {})
{
    if (!folder.isEmpty() && self.isValid()) {
        static const QRegularExpression fragmentLink(QStringLiteral("(\\shref\\s*=\\s*[\"'])#"),
                                                     QRegularExpression::CaseInsensitiveOption);
        html.replace(fragmentLink, QStringLiteral("\\1") + self.toString(QUrl::FullyEncoded).toHtmlEscaped()
                                       + QLatin1Char('#'));
    }
    QString head = QStringLiteral("<meta charset=\"utf-8\">");
    if (!folder.isEmpty()) {
        const QUrl base = QUrl::fromLocalFile(QDir(folder).absolutePath() + QLatin1Char('/'));
        head += QStringLiteral("<base href=\"%1\">").arg(base.toString(QUrl::FullyEncoded).toHtmlEscaped());
    }
    head += QStringLiteral("<style>\n") + themeStyle() + QStringLiteral("</style>");
    static const QRegularExpression headTag(QStringLiteral("<head(\\s[^>]*)?>"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = headTag.match(html);
    if (match.hasMatch()) {
        html.insert(match.capturedEnd(), head);
        return html;
    }
    return QStringLiteral("<!DOCTYPE html>\n<html><head>") + head + QStringLiteral("</head><body>\n") + html
        + QStringLiteral("\n</body></html>\n");
}

} // namespace

// The page: loads only what the preview itself asks for, and sends every
// link the writer follows where followLink says.
class PreviewPage : public QWebEnginePage {
public:
    PreviewPage(QWebEngineProfile* profile, PreviewViewController* preview)
        : QWebEnginePage(profile, preview), m_preview(preview)
    {
        QWebEngineSettings* s = settings();
        s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
        s->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
        s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
        s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
        s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
        s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
        s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
        s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
        s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
        s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
        s->setAttribute(QWebEngineSettings::TouchIconsEnabled, false);
        s->setAttribute(QWebEngineSettings::WebGLEnabled, false);
        s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
        s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
        s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
        s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
        // Addresses of schemes the web view does not know (mailto:) come to
        // acceptNavigationRequest when the writer clicks them, and go no
        // further than it lets them.
        s->setUnknownUrlSchemePolicy(QWebEngineSettings::AllowUnknownUrlSchemesFromUserInteraction);
        setUrlRequestInterceptor(&m_interceptor);
        // A link meant for a new window goes the same way.
        connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
            if (request.isUserInitiated()) followLink(request.requestedUrl(), m_preview);
        });
    }

    ~PreviewPage() override { setUrlRequestInterceptor(nullptr); }

    // The next main-frame navigation is the preview's own load.
    void expectLoad() { m_expectingLoad = true; }
    LocalRequestsOnly& requests() { return m_interceptor; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame) return false;
        if (m_expectingLoad && type != NavigationTypeLinkClicked) {
            m_expectingLoad = false;
            return true;
        }
        if (type != NavigationTypeLinkClicked) return false;
        // A place on this page (a footnote and its way back).
        if (url.hasFragment() && withoutFragment(url) == withoutFragment(this->url())) return true;
        followLink(url, m_preview);
        return false;
    }

private:
    QPointer<PreviewViewController> m_preview; // whose document hears of links that go nowhere
    LocalRequestsOnly m_interceptor;
    bool m_expectingLoad = false;
};

namespace {

// The web view's context menu keeps copying and selecting; going back,
// reloading, saving and showing the source make no sense for a snapshot.
class PreviewWebView : public QWebEngineView {
public:
    using QWebEngineView::QWebEngineView;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QMenu* menu = createStandardContextMenu();
        const QList<QAction*> kept{pageAction(QWebEnginePage::Copy), pageAction(QWebEnginePage::CopyLinkToClipboard),
                                   pageAction(QWebEnginePage::CopyImageToClipboard),
                                   pageAction(QWebEnginePage::SelectAll)};
        for (QAction* action : menu->actions())
            if (!kept.contains(action)) menu->removeAction(action);
        if (menu->actions().isEmpty()) {
            delete menu;
            return;
        }
        menu->setAttribute(Qt::WA_DeleteOnClose, true);
        menu->popup(event->globalPos());
    }
};

} // namespace

PreviewViewController::PreviewViewController(QWidget* parent) : QWidget(parent)
{
    // Off the record: nothing the page does is stored.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_page = new PreviewPage(m_profile, this);
    m_page->setBackgroundColor(Settings::shared().theme()->backgroundColor.toQColor());
    m_webView = new PreviewWebView(this);
    m_webView->setPage(m_page);
    connect(m_page, &QWebEnginePage::loadFinished, this, &PreviewViewController::loadFinished);
    views::pin(m_webView, this);
    resize(600, 600);
}

PreviewViewController::~PreviewViewController()
{
    // The page must go before its profile.
    delete m_webView;
    delete m_page;
    delete m_profile;
}

void PreviewViewController::removeAbandonedPages()
{
    ScratchFolder::removeAbandoned(QStringLiteral("preview"));
}

void PreviewViewController::updatePreview()
{
    Document* d = document;
    if (!d) return;
    QString title = d->displayName();
    for (DocumentEditor* editor : d->editors()) {
        if (auto* widget = dynamic_cast<QWidget*>(editor)) {
            title = widget->window()->windowTitle();
            break;
        }
    }
    setWindowTitle(localizedFormat(QStringLiteral("preview"), {title}));
    // Converted off the main thread; only the latest request is shown.
    const int request = ++m_conversions;
    const QString folder = d->isUntitled() ? QString() : QFileInfo(d->filePath()).path();
    QPointer<PreviewViewController> self(this);
    d->convertToHTML([self, request, folder](const std::optional<QString>& html) {
        if (self && html && request == self->m_conversions) self->loadHTML(*html, folder);
    });
}

void PreviewViewController::loadHTML(const QString& html, const QString& folder)
{
    const QUrl base = folder.isEmpty() ? QUrl() : QUrl::fromLocalFile(QDir(folder).absolutePath() + QLatin1Char('/'));
    m_page->setBackgroundColor(Settings::shared().theme()->backgroundColor.toQColor());
    // UTF-8 is never shorter than a third of the UTF-16 length.
    if (html.size() / 3 < maximumInlineSize) {
        const QByteArray bytes = pageHTML(html, folder).toUtf8();
        if (bytes.size() <= maximumInlineSize) {
            m_page->expectLoad();
            m_page->setContent(bytes, QStringLiteral("text/html;charset=UTF-8"), base);
            return;
        }
    }
    // Too large for a string: a file in a folder only this user can read,
    // under a new name each time so that the view never shows an old one.
    // The folder goes with the preview, and a crash leaves it to be removed
    // at the next start.
    if (!m_folder || !m_folder->isValid()) m_folder = std::make_unique<ScratchFolder>(QStringLiteral("preview"));
    const QString path = m_folder->filePath(QStringLiteral("preview-%1.html").arg(++m_loads));
    const QByteArray bytes = pageHTML(html, folder, QUrl::fromLocalFile(path)).toUtf8();
    FileWriteOptions ownerOnly;
    ownerOnly.ownerOnly = true;
    const bool written = m_folder->isValid() && writeFileSafely(path, bytes, ownerOnly).ok();
    if (written) m_page->requests().addPage(QDir::cleanPath(path));
    // The page before stays until its file is no longer needed.
    const QString old = m_folder->filePath(QStringLiteral("preview-%1.html").arg(m_loads - 2));
    m_page->requests().removePage(QDir::cleanPath(old));
    QFile::remove(old);
    if (!written) {
        m_page->expectLoad();
        m_page->setHtml(pageHTML(QStringLiteral("<p>%1</p>").arg(localized("preview.error.tooLarge").toHtmlEscaped()), {}));
        return;
    }
    m_page->expectLoad();
    m_page->load(QUrl::fromLocalFile(path));
}

} // namespace lumora
