#include "document/Document.h"

#include "document/DocumentEditor.h"
#include "document/PrintOperation.h"
#include "markdown/Markdown.h"
#include "markdown/TextNavigation.h"
#include "platform/application/ActionDispatcher.h"
#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"
#include "platform/files/TextFileCodec.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "settings/SaveEncoding.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace lumora {

namespace {

DocumentHost* g_host = nullptr;
Document::HTMLConverter g_htmlConverter;

// File names are at most 255 bytes on the file systems in use; the
// extension takes its share.
constexpr qsizetype kMaximumFileNameBytes = 255;

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool isTrimmed(char32_t c)
{
    return c < 0x10000 && text::isWhitespaceOrNewline(char16_t(c));
}

// A title made safe as a file name, or empty when nothing is left.
QString usableFileName(const QString& title, qsizetype maximumBytes)
{
    QString name;
    name.reserve(title.size());
    for (char32_t c : title.toUcs4()) {
        if (c == U'/') name += QLatin1Char('-');
        else if (isControl(c) || c == 0x2028 || c == 0x2029) name += QLatin1Char(' ');
        else name += QString::fromUcs4(&c, 1);
    }
    // Trim whitespace, line breaks, leading dots (a hidden file) and trailing
    // ones (a sentence's full stop, which would stand doubled before the
    // extension) until none is left at either end.
    const auto trim = [&name] {
        for (;;) {
            const qsizetype before = name.size();
            while (!name.isEmpty() && isTrimmed(name.front().unicode())) name.remove(0, 1);
            while (!name.isEmpty() && isTrimmed(name.back().unicode())) name.chop(1);
            while (name.startsWith(QLatin1Char('.'))) name.remove(0, 1);
            while (name.endsWith(QLatin1Char('.'))) name.chop(1);
            if (name.size() == before) break;
        }
    };
    trim();
    // Shorten by whole characters (never inside a surrogate pair).
    while (name.toUtf8().size() > maximumBytes) {
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
        trim();
    }
    return name;
}

} // namespace

Document::Document(QObject* parent) : DocumentBase(parent) {}

void Document::renameDocument() { presentFailure(rename()); }

void Document::moveDocument() { presentFailure(move()); }

void Document::toggleDocumentLocked() { presentFailure(toggleLocked()); }

void Document::runPageLayout() { PrintOperation::runPageLayout(frontWindow()); }

void Document::presentFailure(const PlatformStatus& status)
{
    if (!status && !status.error().isCancellation()) presentError(status.error());
}

Document::~Document()
{
    for (DocumentEditor* editor : m_data.m_editors) editor->m_document = nullptr;
    m_data.m_editors.clear();
}

DocumentHost* Document::host()
{
    return g_host;
}

void Document::setHost(DocumentHost* host)
{
    g_host = host;
}

// Windows -------------------------------------------------------------------

void Document::makeWindowControllers()
{
    if (g_host) g_host->makeWindow(*this);
}

void Document::showWindows()
{
    if (m_data.m_editors.empty()) makeWindowControllers();
    const std::vector<DocumentEditor*> editors = m_data.m_editors;
    for (DocumentEditor* editor : editors) editor->showWindow();
}

void Document::addEditor(DocumentEditor& editor)
{
    if (editor.m_document == this) return;
    if (editor.m_document) editor.m_document->removeEditor(editor);
    editor.m_document = this;
    m_data.m_editors.push_back(&editor);
    // A document read from disk, or one whose styling went stale while it
    // had no window, is styled now, once.
    m_data.restyleTextStorage();
    editor.updateInfo();
}

DocumentEditor::~DocumentEditor()
{
    if (m_document) m_document->removeEditor(*this);
}

void Document::removeEditor(DocumentEditor& editor)
{
    auto& editors = m_data.m_editors;
    const auto it = std::find(editors.begin(), editors.end(), &editor);
    if (it == editors.end()) return;
    editors.erase(it);
    editor.m_document = nullptr;
}

// Library rows -------------------------------------------------------------

void Document::addReference()
{
    ++m_referencesCount;
}

void Document::removeReference()
{
    if (m_referencesCount == 0) return;
    --m_referencesCount;
    closeIfUnreferenced();
}

void Document::closeIfUnreferenced()
{
    if (m_referencesCount != 0 || !m_data.m_editors.empty() || isClosed()) return;
    if (g_host) g_host->closeChildDocument(*this);
    else close();
}

void Document::openLibraryFile(const QString& path, DocumentHost::OpenCompletion completion)
{
    if (!g_host) {
        if (completion)
            completion(nullptr, PlatformError(PlatformError::Code::generic,
                                              platformText("document.error.noController",
                                                           "Documents can't be opened here.")));
        return;
    }
    g_host->openDocumentWithoutDisplay(path, std::move(completion));
}

// Reading and writing ----------------------------------------------------------

PlatformStatus Document::readFromData(const QByteArray& data, const QString&, const QString& path)
{
    // Its own file again (revert, the other version of a changed file): in
    // the encoding it was last read or saved in first.
    const std::optional<StringEncoding> remembered =
        !isUntitled() && path == filePath() ? m_data.encoding() : std::nullopt;
    auto status = m_data.readDocument(data, path, remembered);
    if (!status) return status;
    QMetaObject::invokeMethod(this, [this] { refreshAfterRead(); }, Qt::QueuedConnection);
    return {};
}

PlatformStatus Document::replaceContents(const QByteArray& data, const QString&, const QString& path)
{
    // Its own file, or the version it opened: in its remembered encoding first.
    auto status = m_data.replaceDocument(data, undoManager(), path, m_data.encoding());
    if (!status) return status;
    QMetaObject::invokeMethod(this, [this] { refreshAfterRead(); }, Qt::QueuedConnection);
    return {};
}

PlatformResult<QByteArray> Document::dataOfType(const QString&)
{
    auto bytes = m_data.documentFileData(m_saveDialogFormat);
    if (!bytes) return bytes;
    QMetaObject::invokeMethod(this, [this] { refreshAfterSave(); }, Qt::QueuedConnection);
    return bytes;
}

void Document::didSave()
{
    if (!m_saveDialogFormat) return;
    m_data.setFileFormat(*m_saveDialogFormat);
    m_saveDialogFormat.reset();
}

std::optional<QString> Document::chooseSaveLocation()
{
    m_saveDialogFormat.reset();
    return DocumentBase::chooseSaveLocation();
}

void Document::setSaveDialogEncoding(qint64 choice)
{
    if (choice >= 0 && Encodings::isAvailable(StringEncoding(choice)))
        m_saveDialogFormat = TextFileFormat::forEncoding(StringEncoding(choice));
    else if (m_data.fileFormat())
        m_saveDialogFormat = *m_data.fileFormat();
    else
        m_saveDialogFormat = TextFileFormat::forEncoding(preferredSaveEncoding());
}

void Document::refreshAfterRead()
{
    const std::vector<DocumentEditor*> editors = m_data.m_editors;
    for (DocumentEditor* editor : editors) {
        editor->updateInfo();
        editor->updateHighlightAttributes();
        if (editor->isOutlineVisible()) editor->reloadOutline();
    }
}

void Document::refreshAfterSave()
{
    const std::vector<DocumentEditor*> editors = m_data.m_editors;
    for (DocumentEditor* editor : editors) editor->updateInfo();
}

// Commands -----------------------------------------------------------------

std::optional<QString> Document::suggestedFileName() const
{
    if (!isUntitled()) return std::nullopt;
    const auto title = titleFromFirstSentence(m_data.textStorage().string(), m_data.enableMarkdown);
    if (!title) return std::nullopt;
    const qsizetype room = kMaximumFileNameBytes - 1 - fileNameExtension().size();
    QString name = usableFileName(*title, room);
    if (name.isEmpty()) return std::nullopt;
    return name;
}

void Document::toggleMarkdown()
{
    m_data.toggleMarkdown();
    if (!m_data.enableMarkdown && !m_data.m_editors.empty()) m_data.m_editors.front()->setOutlineVisible(false);
}

void Document::setHTMLConverter(HTMLConverter converter)
{
    g_htmlConverter = std::move(converter);
}

namespace {

// A conversion running on the background pool, shared with the thread that
// waits for it.
struct Conversion {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::optional<QString> html;
};

// How long the main thread simply waits for a conversion before it shows
// progress and keeps the windows drawn.
constexpr auto kConversionPatience = std::chrono::milliseconds(250);

} // namespace

std::optional<QString> Document::htmlOfText() const
{
    if (!g_htmlConverter) return std::nullopt;
    Markdown::prepareCharacterSets();
    auto conversion = std::make_shared<Conversion>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    dispatch::background([conversion, text = m_data.textStorage().string(), converter = g_htmlConverter, waiting] {
        std::optional<QString> html = converter(text);
        {
            const std::lock_guard lock(conversion->mutex);
            conversion->html = std::move(html);
            conversion->done = true;
        }
        conversion->finished.notify_all();
        dispatch::async([waiting] {
            if (waiting) waiting->quit();
        });
    });
    {
        std::unique_lock lock(conversion->mutex);
        if (conversion->finished.wait_for(lock, kConversionPatience, [&] { return conversion->done; }))
            return std::move(conversion->html);
    }
    // A long one: progress shows, the windows keep drawing, input waits.
    const std::function<void()> endProgress =
        g_host ? g_host->beginProgress(*this, platformText("document.convert.progress", "Converting “%1” to HTML…")
                                                  .arg(displayName()))
               : std::function<void()>();
    for (;;) {
        {
            const std::lock_guard lock(conversion->mutex);
            if (conversion->done) break;
        }
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (endProgress) endProgress();
    return std::move(conversion->html);
}

void Document::convertToHTML(std::function<void(const std::optional<QString>& html)> done) const
{
    Markdown::prepareCharacterSets();
    QPointer<const Document> self(this);
    dispatch::background([self, text = m_data.textStorage().string(), converter = g_htmlConverter, done] {
        std::optional<QString> html = converter ? converter(text) : std::nullopt;
        dispatch::async([self, html = std::move(html), done] {
            if (self && done) done(html);
        });
    });
}

// Printing -------------------------------------------------------------------

std::unique_ptr<PrintOperation> Document::makePrintOperation(const std::vector<Document*>& documents)
{
    return std::make_unique<PrintOperation>(documents);
}

QWidget* Document::frontWindow() const
{
    const auto& editors = m_data.m_editors;
    for (auto it = editors.rbegin(); it != editors.rend(); ++it)
        if (auto* widget = dynamic_cast<QWidget*>(*it)) return widget->window();
    return ActionDispatcher::instance().keyWindow();
}

void Document::printDocument()
{
    const auto operation = makePrintOperation({this});
    if (const PlatformStatus status = operation->run(frontWindow()); !status && !status.error().isCancellation())
        presentError(status.error());
}

void Document::exportAsHTML()
{
    QString proposed;
    if (const auto name = suggestedFileName()) proposed = *name;
    else if (!isUntitled()) proposed = QFileInfo(filePath()).completeBaseName();
    if (!g_host) return;
    const auto location = g_host->chooseExportLocation(*this, proposed);
    if (!location) return;

    // The text as it is now; typing goes on while the export runs.
    Markdown::prepareCharacterSets();
    const QString text = m_data.textStorage().string();
    const HTMLConverter converter = g_htmlConverter;
    const QString fileName = NativePath::shownNameOf(*location);
    const std::function<void()> endProgress = g_host->beginProgress(
        *this, platformText("document.export.progress", "Exporting “%1”…").arg(fileName));
    ++m_exportsRunning;
    QPointer<Document> self(this);
    dispatch::background([self, text, converter, location = *location, fileName, endProgress] {
        std::optional<PlatformError> failure;
        const std::optional<QString> html = converter ? converter(text) : std::nullopt;
        if (!html) {
            failure = PlatformError(PlatformError::Code::generic, platformText("error.generic", "An error occurred."));
        } else if (auto status = writeFileSafely(location, "\xEF\xBB\xBF" + html->toUtf8()); !status) {
            // UTF-8 behind its byte-order mark: a complete document's head
            // declares it, a fragment has no head, and a browser reads the
            // mark either way instead of guessing.
            failure = status.error();
            failure->errorDescription =
                platformText("document.error.export", "The HTML file “%1” couldn't be saved.").arg(fileName);
        }
        dispatch::async([self, location, failure, endProgress] {
            if (endProgress) endProgress();
            if (!self) return;
            --self->m_exportsRunning;
            if (failure) self->presentError(*failure);
            emit self->exportFinished(location, failure ? failure->message() : QString());
        });
    });
}

} // namespace lumora
