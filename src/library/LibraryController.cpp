#include "library/LibraryController.h"

#include "library/FileController.h"
#include "platform/files/Bookmark.h"
#include "platform/files/MountWatcher.h"
#include "platform/files/UserDefaults.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace lumora {

namespace {

const QString kLibrariesKey = QStringLiteral("libraries");
const QString kSelectedLibraryKey = QStringLiteral("selectedLibrary");

bool holds(const QString& folder, const QString& path)
{
    if (folder.isEmpty()) return false;
    if (path == folder) return true;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.startsWith(prefix);
}

} // namespace

LibraryController::LibraryController(UserDefaults& defaults) : m_defaults(defaults)
{
    // Another Lumora keeping other libraries in the same preferences keeps
    // them: the stored list merges library by library.
    m_defaults.mergeByRecords(kLibrariesKey, &Library::recordIdentity);
    m_mounts = QObject::connect(&MountWatcher::shared(), &MountWatcher::mountsChanged,
                                [this] { lookForUnavailableFolders(); });
}

LibraryController::~LibraryController()
{
    QObject::disconnect(m_mounts);
    for (const auto& library : m_libraries) library->m_owner = nullptr;
}

LibraryController& LibraryController::shared()
{
    // Never destroyed: libraries may outlive the end of main in queued work.
    static LibraryController* instance = new LibraryController(UserDefaults::standard());
    return *instance;
}

int LibraryController::indexOf(const Library& library) const
{
    for (size_t i = 0; i < m_libraries.size(); ++i)
        if (m_libraries[i].get() == &library) return int(i);
    return -1;
}

std::shared_ptr<Library> LibraryController::libraryWithURL(const QString& folderPath) const
{
    const QString clean = QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath());
    for (const auto& library : m_libraries)
        if (!library->url().isEmpty() && library->url() == clean) return library;
    return nullptr;
}

void LibraryController::addObserver(LibrariesObserver* observer)
{
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void LibraryController::removeObserver(LibrariesObserver* observer)
{
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer), m_observers.end());
}

template <typename Fn>
void LibraryController::tellObservers(Fn fn)
{
    const auto observers = m_observers;
    for (LibrariesObserver* observer : observers)
        if (std::find(m_observers.begin(), m_observers.end(), observer) != m_observers.end()) fn(*observer);
}

void LibraryController::insert(std::shared_ptr<Library> library, int index)
{
    library->m_owner = this;
    m_libraries.insert(m_libraries.begin() + index, std::move(library));
}

std::shared_ptr<Library> LibraryController::take(int index)
{
    std::shared_ptr<Library> library = std::move(m_libraries[size_t(index)]);
    m_libraries.erase(m_libraries.begin() + index);
    library->m_owner = nullptr;
    return library;
}

PlatformStatus LibraryController::load()
{
    const QVariant stored = m_defaults.object(kLibrariesKey);
    QVariantList records;
    if (stored.typeId() == QMetaType::QVariantList) records = stored.toList();
    else if (stored.isValid()) records.append(stored); // kept, not understood

    std::vector<std::shared_ptr<Library>> loaded;
    QVariantList unreadable;
    QString firstReason;
    bool renewed = false;
    for (const QVariant& record : records) {
        auto library = Library::decode(record);
        if (!library) {
            unreadable.append(record);
            if (firstReason.isEmpty()) firstReason = library.error().message();
            continue;
        }
        renewed = renewed || (*library)->bookmarkWasRenewed();
        loaded.push_back(std::move(library.value()));
    }
    for (const auto& library : m_libraries) library->m_owner = nullptr;
    m_libraries.clear();
    for (auto& library : loaded) insert(std::move(library), int(m_libraries.size()));
    m_unreadable = unreadable;
    rebuildTitles();
    if (renewed) save();
    if (unreadable.isEmpty()) return {};
    const QString description =
        unreadable.size() == 1
            ? platformText("library.error.load.one", "One library of your list couldn't be read.")
            : platformText("library.error.load.many", "%1 libraries of your list couldn't be read.")
                  .arg(unreadable.size());
    return PlatformError(PlatformError::Code::readFailed, description,
                         firstReason + QLatin1Char(' ')
                             + platformText("library.error.load.kept",
                                            "It is kept as it was, and the other libraries are ready."));
}

void LibraryController::save()
{
    QVariantList records;
    for (const auto& library : m_libraries) {
        if (!library->isLinked()) continue;
        records.append(library->encode());
        library->m_bookmarkRenewed = false;
    }
    records.append(m_unreadable);
    m_defaults.set(kLibrariesKey, records);
}

std::shared_ptr<Library> LibraryController::openLibrary(const QString& folderPath)
{
    auto library = Library::make(folderPath);
    const auto firstUnlinked = std::find_if(m_libraries.begin(), m_libraries.end(),
                                            [](const auto& l) { return !l->isLinked(); });
    const int index = int(firstUnlinked - m_libraries.begin());
    insert(library, index);
    tellObservers([index](LibrariesObserver& o) { o.libraryInserted(index); });
    rebuildTitles();
    return library;
}

std::shared_ptr<Library> LibraryController::addLibrary(const QString& folderPath, int index)
{
    std::shared_ptr<Library> library = libraryWithURL(folderPath);
    int oldIndex = -1;
    if (library) {
        oldIndex = indexOf(*library);
        take(oldIndex);
    } else {
        library = Library::make(folderPath);
    }
    library->makeBookmark();
    index = std::clamp(index, 0, int(m_libraries.size()));
    insert(library, index);
    save();
    if (oldIndex >= 0) tellObservers([oldIndex, index](LibrariesObserver& o) { o.libraryMoved(oldIndex, index); });
    else tellObservers([index](LibrariesObserver& o) { o.libraryInserted(index); });
    rebuildTitles();
    return library;
}

PlatformStatus LibraryController::toggleLinked(Library& library)
{
    const int index = indexOf(library);
    if (index < 0) return {};
    std::shared_ptr<Library> taken = take(index);
    if (!taken->isLinked()) {
        taken->makeBookmark();
        insert(taken, 0);
        tellObservers([index](LibrariesObserver& o) { o.libraryMoved(index, 0); });
    } else {
        taken->releaseFileController();
        tellObservers([index](LibrariesObserver& o) { o.libraryRemoved(index); });
        rebuildTitles();
    }
    save();
    return {};
}

void LibraryController::removeLibrary(Library& library)
{
    library.releaseFileController();
    const int index = indexOf(library);
    if (index < 0) return;
    const std::shared_ptr<Library> keep = take(index);
    tellObservers([index](LibrariesObserver& o) { o.libraryRemoved(index); });
    rebuildTitles();
}

void LibraryController::libraryFolderMoved(Library& library)
{
    const int index = indexOf(library);
    if (index < 0) return;
    if (library.isLinked()) save();
    tellObservers([index](LibrariesObserver& o) { o.libraryTitleChanged(index); });
    rebuildTitles();
}

void LibraryController::libraryAvailabilityChanged(Library& library)
{
    const int index = indexOf(library);
    if (index < 0) return;
    tellObservers([index](LibrariesObserver& o) { o.libraryAvailabilityChanged(index); });
}

void LibraryController::lookForUnavailableFolders()
{
    const auto libraries = m_libraries;
    for (const auto& library : libraries) {
        // Only folders that went away while Lumora ran: a library whose
        // bookmark found nothing at the start stays as it is.
        if (!library->m_unavailable || library->url().isEmpty()) continue;
        if (library->checkFolder()) libraryAvailabilityChanged(*library);
    }
}

void LibraryController::rebuildTitles()
{
    QStringList paths;
    std::vector<int> indexes;
    for (size_t i = 0; i < m_libraries.size(); ++i) {
        if (m_libraries[i]->url().isEmpty()) continue;
        paths.append(m_libraries[i]->url());
        indexes.push_back(int(i));
    }
    const QList<QStringList> parents = url::displayNames(paths);
    for (qsizetype j = 0; j < paths.size(); ++j) {
        const url::AttributedDisplayName title = url::attributedDisplayName(paths[j], parents.value(j));
        Library& library = *m_libraries[size_t(indexes[size_t(j)])];
        if (title.name == library.displayName.name && title.parents == library.displayName.parents) continue;
        library.displayName = title;
        const int index = indexes[size_t(j)];
        tellObservers([index](LibrariesObserver& o) { o.libraryTitleChanged(index); });
    }
}

std::shared_ptr<Library> LibraryController::libraryWithBookmark(const Bookmark& bookmark) const
{
    for (const auto& library : m_libraries) {
        const auto own = library->bookmarkData() ? Bookmark::fromData(*library->bookmarkData()) : std::nullopt;
        if (own && own->device() == bookmark.device() && own->inode() == bookmark.inode()
            && (!own->birth() || !bookmark.birth() || own->birth() == bookmark.birth()))
            return library;
    }
    return nullptr;
}

std::shared_ptr<Library> LibraryController::libraryForDocument(const QString& documentPath) const
{
    if (!documentPath.isEmpty()) {
        const QString clean = QDir::cleanPath(documentPath);
        for (const auto& library : m_libraries)
            if (holds(library->url(), clean)) return library;
    }
    if (const auto data = m_defaults.dataValue(kSelectedLibraryKey)) {
        const auto bookmark = Bookmark::fromData(*data);
        if (const auto resolved = bookmark ? bookmark->resolve() : std::nullopt) {
            for (const auto& library : m_libraries)
                if (library->url() == resolved->path) return library;
        }
        // Moved since: the library that links to the same folder.
        if (bookmark)
            if (auto library = libraryWithBookmark(*bookmark)) return library;
    }
    return m_libraries.empty() ? nullptr : m_libraries.front();
}

void LibraryController::removeObserver(FileObserver* observer, FileController& controller)
{
    controller.removeObserver(observer);
    if (!controller.observers().empty()) return;
    const auto library = controller.library();
    if (library && library->fileController() == &controller) library->releaseFileController();
}

} // namespace lumora
