#include "platform/application/DocumentControllerBase.h"

#include "platform/files/NativePath.h"
#include "platform/foundation/Localization.h"
#include "platform/files/FileRelocations.h"
#include "platform/files/UserDefaults.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QSet>

#include <memory>
#include <utility>

namespace lumora {

namespace {

const QString kRecentDocuments = QStringLiteral("recentDocuments");
const QString kRestorableWindows = QStringLiteral("restorableWindows");

QString absolutePath(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

// The same file whatever the link or spelling that names it.
QString identity(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

} // namespace

DocumentControllerBase::DocumentControllerBase(UserDefaults* defaults, QObject* parent)
    : QObject(parent), m_defaults(defaults)
{
    // Documents another Lumora opened meanwhile stay among the recent ones.
    // The windows to restore stay one list: the session of the Lumora that
    // quit last, which the next start reopens.
    if (m_defaults) m_defaults->mergeByRecords(kRecentDocuments);
    // Files the program moves (the library, whether the document is open or
    // not) keep their place in the recent documents.
    connect(&FileRelocations::shared(), &FileRelocations::didMove, this, &DocumentControllerBase::relocateRecentDocuments);
}

DocumentControllerBase::~DocumentControllerBase()
{
    for (const auto& document : m_documents) disconnect(document.get(), nullptr, this, nullptr);
}

QString DocumentControllerBase::typeForPath(const QString& path) const
{
    return NativePath::isFolder(path) ? QString(folderType) : QString(plainTextType);
}

std::vector<DocumentBase*> DocumentControllerBase::documents() const
{
    std::vector<DocumentBase*> list;
    list.reserve(m_documents.size());
    for (const auto& document : m_documents) list.push_back(document.get());
    return list;
}

DocumentBase* DocumentControllerBase::documentForPath(const QString& path) const
{
    if (path.isEmpty()) return nullptr;
    const QString wanted = identity(path);
    for (const auto& document : m_documents)
        if (!document->isUntitled() && identity(document->filePath()) == wanted) return document.get();
    return nullptr;
}

DocumentBase* DocumentControllerBase::addDocument(std::unique_ptr<DocumentBase> document)
{
    DocumentBase* raw = document.get();
    m_documents.push_back(std::move(document));
    connect(raw, &DocumentBase::closed, this, [this, raw] {
        // Let go of it once whoever closed it is done with it.
        if (auto owned = removeDocument(raw)) owned.release()->deleteLater();
    });
    // The recent documents follow the document to its new name or place;
    // one saved under a name for the first time joins them.
    connect(raw, &DocumentBase::filePathChanged, this,
            [this, raw, last = std::make_shared<QString>(raw->filePath())](const QString& path) {
                m_untitledNumbers.remove(raw);
                const QString before = std::exchange(*last, path);
                if (path.isEmpty()) return;
                if (before.isEmpty()) noteNewRecentDocument(path);
                else relocateRecentDocuments(before, path);
            });
    emit documentAdded(raw);
    return raw;
}

std::unique_ptr<DocumentBase> DocumentControllerBase::removeDocument(DocumentBase* document)
{
    const auto it = std::find_if(m_documents.begin(), m_documents.end(),
                                 [document](const auto& owned) { return owned.get() == document; });
    if (it == m_documents.end()) return nullptr;
    std::unique_ptr<DocumentBase> owned = std::move(*it);
    m_documents.erase(it);
    disconnect(document, nullptr, this, nullptr);
    m_untitledNumbers.remove(document);
    emit documentRemoved(document);
    return owned;
}

void DocumentControllerBase::openDocument(const QString& path, bool display, const OpenCompletion& completion)
{
    const QString absolute = absolutePath(path);
    if (DocumentBase* open = documentForPath(absolute)) {
        if (display) showDocument(*open);
        if (completion) completion(open, true, std::nullopt);
        return;
    }
    const QString type = typeForPath(absolute);
    std::unique_ptr<DocumentBase> document = m_factory ? m_factory(type) : nullptr;
    if (!document) {
        const PlatformError error(PlatformError::Code::readFailed,
                                  formatWithPlaceholders(platformText("document.error.type",
                                                                      "“%@” can't be opened by Lumora."),
                                                         {NativePath::shownNameOf(absolute)}),
                                  platformText("document.error.type.info", "Lumora opens plain text files."),
                                  absolute);
        if (completion) completion(nullptr, false, error);
        return;
    }
    if (const PlatformStatus status = document->readFromFile(absolute, type); !status) {
        if (completion) completion(nullptr, false, status.error());
        return;
    }
    DocumentBase* raw = addDocument(std::move(document));
    noteNewRecentDocument(absolute);
    if (display) showDocument(*raw);
    if (completion) completion(raw, false, std::nullopt);
}

PlatformResult<DocumentBase*> DocumentControllerBase::openDocument(const QString& path, bool display)
{
    std::optional<PlatformResult<DocumentBase*>> result;
    openDocument(path, display, [&](DocumentBase* document, bool, const std::optional<PlatformError>& error) {
        if (document) result.emplace(document);
        else result.emplace(error.value_or(PlatformError()));
    });
    return result.value_or(PlatformResult<DocumentBase*>(PlatformError()));
}

PlatformResult<DocumentBase*> DocumentControllerBase::openUntitledDocument(bool display)
{
    std::unique_ptr<DocumentBase> document = m_factory ? m_factory(QString(plainTextType)) : nullptr;
    if (!document)
        return PlatformError(PlatformError::Code::generic,
                             platformText("document.error.new", "A new document couldn't be made."));
    document->setFileType(QString(plainTextType));
    DocumentBase* raw = addDocument(std::move(document));
    raw->setUntitledName(untitledNameFor(raw));
    if (display) showDocument(*raw);
    return raw;
}

QString DocumentControllerBase::untitledNameFor(DocumentBase* document)
{
    QSet<int> used;
    for (auto it = m_untitledNumbers.cbegin(); it != m_untitledNumbers.cend(); ++it) used.insert(it.value());
    int number = 1;
    while (used.contains(number)) ++number;
    m_untitledNumbers.insert(document, number);
    if (number == 1) return platformText("document.untitled", "Untitled");
    return formatWithPlaceholders(platformText("document.untitled.numbered", "Untitled %@"),
                                  {QLocale().toString(number)});
}

void DocumentControllerBase::showDocument(DocumentBase&) {}

QStringList DocumentControllerBase::recentDocumentPaths() const
{
    QStringList paths;
    if (!m_defaults) return paths;
    for (const QVariant& entry : m_defaults->arrayValue(kRecentDocuments).value_or(QVariantList()))
        if (entry.typeId() == QMetaType::QString && !entry.toString().isEmpty()) paths << entry.toString();
    // Two Lumoras' documents merged may be more than the menu shows.
    if (paths.size() > maximumRecentDocumentCount) paths.resize(maximumRecentDocumentCount);
    return paths;
}

void DocumentControllerBase::setRecentDocumentPaths(const QStringList& paths)
{
    if (!m_defaults) return;
    QVariantList list;
    for (const QString& path : paths) list << path;
    m_defaults->set(kRecentDocuments, list);
}

void DocumentControllerBase::noteNewRecentDocument(const QString& path)
{
    const QString absolute = absolutePath(path);
    QStringList paths = recentDocumentPaths();
    paths.removeAll(absolute);
    paths.prepend(absolute);
    while (paths.size() > maximumRecentDocumentCount) paths.removeLast();
    setRecentDocumentPaths(paths);
}

void DocumentControllerBase::relocateRecentDocuments(const QString& from, const QString& to)
{
    QStringList paths = recentDocumentPaths();
    bool changed = false;
    for (QString& path : paths) {
        const QString moved = FileRelocations::relocated(path, absolutePath(from), absolutePath(to));
        if (moved.isEmpty() || moved == path) continue;
        path = moved;
        changed = true;
    }
    if (!changed) return;
    paths.removeDuplicates();
    setRecentDocumentPaths(paths);
}

void DocumentControllerBase::clearRecentDocuments()
{
    if (m_defaults) m_defaults->remove(kRecentDocuments);
}

std::unique_ptr<Menu> DocumentControllerBase::makeRecentDocumentsMenu()
{
    auto menu = std::make_unique<Menu>(platformText("menu.file.openRecent", "Open Recent"));
    menu->setDelegate(this);
    return menu;
}

void DocumentControllerBase::menuNeedsUpdate(Menu& menu)
{
    QStringList paths;
    for (const QString& path : recentDocumentPaths())
        if (QFileInfo::exists(path)) paths << path;
    QHash<QString, int> nameCounts;
    for (const QString& path : paths) ++nameCounts[NativePath::shownNameOf(path)];
    menu.removeAllItems();
    for (const QString& path : paths) {
        QString title = NativePath::shownNameOf(path);
        // Two files of the same name are told apart by their folders.
        if (nameCounts.value(title) > 1)
            title += QStringLiteral(" — ") + NativePath::shownNameOf(QFileInfo(path).absolutePath());
        auto item = MenuItem::make(title, Command::openRecentDocument);
        item->setRepresentedObject(path);
        menu.addItem(std::move(item));
    }
    if (!paths.isEmpty()) menu.addItem(MenuItem::separator());
    menu.addItem(MenuItem::make(platformText("menu.file.openRecent.clear", "Clear Menu"),
                                Command::clearRecentDocuments));
}

void DocumentControllerBase::newDocument()
{
    if (auto made = openUntitledDocument(true); !made) presentError(made.error());
}

void DocumentControllerBase::openRecentDocument(const QVariant& path)
{
    if (!path.isValid()) return;
    openDocument(path.toString(), true, [this](DocumentBase*, bool, const std::optional<PlatformError>& error) {
        if (error) presentError(*error);
    });
}

bool DocumentControllerBase::closeAllDocuments()
{
    for (DocumentBase* document : documents())
        if (!document->close()) return false;
    return true;
}

double DocumentControllerBase::autosavingDelay() { return DocumentBase::autosavingDelay() / 1000.0; }

void DocumentControllerBase::setAutosavingDelay(double seconds)
{
    DocumentBase::setAutosavingDelay(int(std::clamp(seconds, 0.0, 24.0 * 3600.0) * 1000.0));
}

void DocumentControllerBase::presentError(const PlatformError& error)
{
    if (error.isCancellation()) return;
    if (errorPresenter) errorPresenter(error);
    else qWarning().noquote() << error.message();
}

QList<RestorableWindow> DocumentControllerBase::restorableWindows() const
{
    QList<RestorableWindow> windows;
    for (const auto& document : m_documents)
        if (!document->isUntitled()) windows.append({document->filePath(), QRect(), {}});
    return windows;
}

void DocumentControllerBase::saveRestorableState()
{
    if (!m_defaults) return;
    QVariantList list;
    for (const RestorableWindow& window : restorableWindows()) {
        QVariantMap entry{{QStringLiteral("path"), window.path}};
        if (window.frame.isValid())
            entry.insert(QStringLiteral("frame"), QVariantList{qlonglong(window.frame.x()), qlonglong(window.frame.y()),
                                                              qlonglong(window.frame.width()),
                                                              qlonglong(window.frame.height())});
        if (!window.state.isEmpty()) entry.insert(QStringLiteral("state"), window.state);
        list << entry;
    }
    m_defaults->set(kRestorableWindows, list);
}

QList<RestorableWindow> DocumentControllerBase::storedRestorableWindows() const
{
    QList<RestorableWindow> windows;
    if (!m_defaults) return windows;
    for (const QVariant& entry : m_defaults->arrayValue(kRestorableWindows).value_or(QVariantList())) {
        const QVariantMap map = entry.toMap();
        const QVariant path = map.value(QStringLiteral("path"));
        if (path.typeId() != QMetaType::QString || path.toString().isEmpty()) continue;
        RestorableWindow window{path.toString(), QRect(), {}};
        const QVariantList frame = map.value(QStringLiteral("frame")).toList();
        if (frame.size() == 4)
            window.frame = QRect(frame[0].toInt(), frame[1].toInt(), frame[2].toInt(), frame[3].toInt());
        window.state = map.value(QStringLiteral("state")).toMap();
        windows << window;
    }
    return windows;
}

QList<RestoredWindow> DocumentControllerBase::restoreWindows()
{
    QList<RestoredWindow> restored;
    QSet<QString> seen;
    for (const RestorableWindow& window : storedRestorableWindows()) {
        if (!QFileInfo(window.path).isFile() || seen.contains(identity(window.path))) continue;
        seen.insert(identity(window.path));
        auto opened = openDocument(window.path, true);
        if (opened) restored.append({*opened, window.frame, window.state});
    }
    return restored;
}

bool DocumentControllerBase::prepareToTerminate()
{
    // Every question first, as a review of unsaved documents does: a Cancel
    // at the last one still leaves every window open and the record of
    // windows to restore as it was.
    std::vector<std::pair<QPointer<DocumentBase>, DocumentBase::TerminationReview>> reviewed;
    for (DocumentBase* document : documents()) {
        const DocumentBase::TerminationReview review = document->reviewForTermination();
        if (review == DocumentBase::TerminationReview::cancel) return false;
        reviewed.emplace_back(document, review);
    }
    // The windows as they stand now (a document saved under a name just now
    // among them), before the first one closes.
    saveRestorableState();
    bool closed = true;
    for (const auto& [document, review] : reviewed)
        if (document && !document->closeAfterReview(review)) closed = false;
    return closed;
}

QStringList DocumentControllerBase::saveForImmediateExit()
{
    saveRestorableState();
    QStringList kept;
    for (DocumentBase* document : documents()) {
        if (document->isClosed() || !document->isDocumentEdited()) continue;
        document->closeForTermination(false);
        if (document->isDocumentEdited() && !document->recoveryFilePath().isEmpty())
            kept << document->recoveryFilePath();
    }
    return kept;
}

} // namespace lumora
