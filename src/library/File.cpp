#include "library/File.h"

#include "document/Document.h"
#include "library/FileController.h"
#include "platform/files/FolderListing.h"
#include "platform/files/NameCollation.h"
#include "platform/files/NativePath.h"
#include "platform/files/TextFileCodec.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Localization.h"
#include "settings/SaveEncoding.h"
#include "settings/URLExtensions.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace lumora {

namespace {

QString lastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

QString withoutLastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString cleanPath(const QString& path)
{
    // Fast path: the paths the tree makes are clean already.
    if (path.contains(QLatin1String("//")) || path.contains(QLatin1String("/."))
        || (path.size() > 1 && path.endsWith(QLatin1Char('/'))))
        return QDir::cleanPath(path);
    return path;
}

std::optional<QDateTime> dateFrom(const std::optional<qint64>& ms)
{
    if (!ms) return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(*ms);
}

File::Metadata metadataOf(const QString& path)
{
    const auto entry = FolderListing::examine(path);
    if (!entry) return {};
    return {entry->added, entry->modified, entry->addedRecorded};
}

bool operator==(const File::Metadata& a, const File::Metadata& b)
{
    return a.added == b.added && a.modified == b.modified;
}

// The text trimmed so that a multi-byte UTF-8 character cut by the read
// limit does not turn the whole text into something else.
QByteArrayView withoutCutCharacter(QByteArrayView bytes)
{
    for (qsizetype back = 1; back <= 4 && back <= bytes.size(); ++back) {
        const auto byte = uchar(bytes.at(bytes.size() - back));
        if ((byte & 0xC0) == 0x80) continue; // a continuation byte
        if (byte < 0x80) return bytes;        // plain ASCII ends it
        const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? bytes.chopped(back) : bytes;
    }
    return bytes;
}

} // namespace

// File -----------------------------------------------------------------------

File::File(const QString& path, FileController* controller, const Metadata& metadata)
    : m_name(lastComponent(path)), m_detachedPath(path), m_sortKey(NameCollation::sortKey(m_name)),
      m_controller(controller), m_metadata(metadata)
{
}

File::File(const File& source, const QString& path)
    : m_name(source.m_name), m_detachedPath(path), m_sortKey(source.m_sortKey), m_controller(source.m_controller),
      m_metadata(source.m_metadata)
{
}

File::~File() = default;

QString File::path() const
{
    if (!m_parent) return m_detachedPath;
    return joined(m_parent->path(), m_name);
}

QString File::filename() const
{
    return NativePath::shownName(m_name);
}

QString File::displayStem() const
{
    const QString shown = filename();
    if (isDirectory()) return shown;
    const qsizetype dot = shown.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? shown.left(dot) : shown;
}

std::optional<QDateTime> File::dateAdded() const
{
    return dateFrom(m_metadata.added);
}

std::optional<QDateTime> File::dateModified() const
{
    return dateFrom(m_metadata.modified);
}

void File::setVisible(bool visible)
{
    if (visible) {
        if (++m_visibleCount == 1 && m_invalidated) update();
    } else if (m_visibleCount > 0) {
        --m_visibleCount;
    }
}

void File::update()
{
    if (refreshMetadata()) announceChange();
}

bool File::refreshMetadata()
{
    const Metadata now = metadataOf(path());
    const bool changed = !(now == m_metadata);
    m_metadata = now;
    m_invalidated = !isVisible();
    return changed;
}

void File::setName(const QString& name)
{
    if (name == m_name) return;
    m_name = name;
    m_sortKey = NameCollation::sortKey(name);
    if (!m_parent) m_detachedPath = joined(withoutLastComponent(m_detachedPath), name);
}

void File::setPath(const QString& newPath)
{
    Q_ASSERT(!m_parent); // a node in a folder moves by being detached first
    const QString clean = cleanPath(newPath);
    const bool renamed = lastComponent(clean) != m_name;
    m_detachedPath = clean;
    if (renamed) {
        m_name = lastComponent(clean);
        m_sortKey = NameCollation::sortKey(m_name);
    }
    if (refreshMetadata() || renamed) announceChange();
    if (!isDirectory() && isVisible()) static_cast<RegularFile*>(this)->readSummaryInBackground();
}

void File::forEach(const std::function<void(File&)>& fn)
{
    fn(*this);
}

void File::announceChange()
{
    if (m_controller) m_controller->fileDidChange(*this);
}

std::unique_ptr<File> File::detach()
{
    if (!m_parent) return nullptr;
    return m_parent->takeAt(m_parent->indexOf(this));
}

std::unique_ptr<File> File::make(const QString& path, FileController* controller)
{
    const QString clean = cleanPath(path);
    const auto entry = FolderListing::examine(clean);
    if (!entry) return nullptr;
    const Metadata metadata{entry->added, entry->modified, entry->addedRecorded};
    if (entry->kind == FolderListing::Kind::document)
        return std::make_unique<RegularFile>(clean, controller, metadata);
    auto folder = Directory::scan(clean, controller, &metadata);
    if (!folder) return nullptr;
    return std::move(folder.value());
}

std::vector<Document*> File::documents(const std::vector<File*>& files)
{
    std::vector<Document*> result;
    for (File* file : files) {
        file->forEach([&result](File& node) {
            if (auto* regular = dynamic_cast<RegularFile*>(&node); regular && regular->document())
                result.push_back(regular->document());
        });
    }
    return result;
}

// RegularFile ------------------------------------------------------------------

RegularFile::RegularFile(const QString& path, FileController* controller)
    : RegularFile(path, controller, metadataOf(path))
{
}

RegularFile::RegularFile(const QString& path, FileController* controller, const Metadata& metadata)
    : File(path, controller, metadata)
{
}

RegularFile::RegularFile(const RegularFile& source, const QString& path)
    : File(source, path), m_summary(source.m_summary)
{
    setDocument(source.document());
}

RegularFile::~RegularFile()
{
    if (Document* bound = document()) {
        m_document = nullptr;
        bound->removeReference();
    }
}

Document* RegularFile::document() const
{
    return static_cast<Document*>(m_document.data());
}

void RegularFile::update()
{
    File::update();
    if (isVisible()) readSummaryInBackground();
}

std::optional<QDateTime> RegularFile::date() const
{
    if (!controller()) return std::nullopt;
    switch (controller()->sortKey()) {
    case Library::SortKey::dateAdded:
        return dateAdded();
    case Library::SortKey::dateModified:
        return dateModified();
    case Library::SortKey::name:
        break;
    }
    return std::nullopt;
}

void RegularFile::setDocument(Document* document)
{
    Document* old = this->document();
    if (document == old) return;
    m_document = document;
    if (document) document->addReference();
    if (old) old->removeReference();
}

QString RegularFile::readSummary(const QString& path, StringEncoding preferred)
{
    const QString empty = QStringLiteral("\n\n");
    // By the name's real bytes; never a FIFO or a device (no wait, no end).
    const int fd = ::open(NativePath::encode(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return empty;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return empty;
    }
    QByteArray bytes(summaryReadLimit + 1, Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return empty;
        }
        if (n == 0) break;
        got += n;
    }
    ::close(fd);
    // One byte more than the limit tells that the text goes on.
    const bool cut = got > summaryReadLimit;
    bytes.truncate(std::min(got, summaryReadLimit));
    auto decoded = TextFileCodec::read(cut ? withoutCutCharacter(bytes) : QByteArrayView(bytes), preferred, path);
    if (!decoded) return empty;
    QString text = std::move(decoded->text);
    if (text.size() > 255) {
        qsizetype length = 256;
        if (text.at(length - 1).isHighSurrogate()) --length;
        text.truncate(length);
    }
    return text.isEmpty() ? empty : text;
}

void RegularFile::readSummaryInBackground()
{
    if (m_reading) {
        m_readAgain = true;
        return;
    }
    m_reading = true;
    if (!m_alive) m_alive = std::make_shared<RegularFile*>(this);
    std::weak_ptr<RegularFile*> weak = m_alive;
    const QString filePath = path();
    const StringEncoding encoding = preferredSaveEncoding();
    dispatch::background([weak, filePath, encoding] {
        const QString summary = readSummary(filePath, encoding);
        dispatch::async([weak, summary] {
            const auto alive = weak.lock();
            if (!alive) return;
            RegularFile* self = *alive;
            self->m_reading = false;
            if (summary != self->m_summary) {
                self->m_summary = summary;
                self->announceChange();
            }
            if (self->m_readAgain) {
                self->m_readAgain = false;
                self->readSummaryInBackground();
            }
        });
    });
}

// Directory --------------------------------------------------------------------

Directory::Directory(const QString& path, Contents contents, FileController* controller)
    : Directory(path, std::move(contents), controller, metadataOf(path))
{
}

Directory::Directory(const QString& path, Contents contents, FileController* controller, const Metadata& metadata)
    : File(path, controller, metadata), m_contents(std::move(contents))
{
    for (auto& child : m_contents) {
        child->m_parent = this;
        child->m_detachedPath.clear();
    }
    sort();
}

Directory::Directory(const Directory& source, const QString& path) : File(source, path) {}

Directory::~Directory()
{
    // Children first, while their parent is whole.
    while (!m_contents.empty()) m_contents.pop_back();
}

int Directory::indexOf(const File* node) const
{
    for (size_t i = 0; i < m_contents.size(); ++i)
        if (m_contents[i].get() == node) return int(i);
    return -1;
}

File* Directory::childNamed(const QString& name) const
{
    constexpr size_t kIndexFrom = 24;
    if (!m_byName && m_contents.size() >= kIndexFrom) {
        m_byName = std::make_unique<QHash<QString, File*>>();
        m_byName->reserve(qsizetype(m_contents.size()));
        for (const auto& child : m_contents) m_byName->insert(child->name(), child.get());
    }
    if (m_byName) return m_byName->value(name, nullptr);
    for (const auto& child : m_contents)
        if (child->name() == name) return child.get();
    return nullptr;
}

void Directory::indexName(File& node)
{
    if (m_byName) m_byName->insert(node.name(), &node);
}

void Directory::unindexName(File& node)
{
    if (m_byName) m_byName->remove(node.name());
}

bool Directory::sortsBefore(const FileController* controller, const QCollatorSortKey& keyA, const QString& nameA,
                            const File::Metadata& a, const QCollatorSortKey& keyB, const QString& nameB,
                            const File::Metadata& b)
{
    if (controller) {
        switch (controller->sortKey()) {
        case Library::SortKey::dateAdded:
            if (a.added && b.added && *a.added != *b.added) return *a.added > *b.added;
            break;
        case Library::SortKey::dateModified:
            if (a.modified && b.modified && *a.modified != *b.modified) return *a.modified > *b.modified;
            break;
        case Library::SortKey::name:
            break;
        }
    }
    return NameCollation::compare(keyA, nameA, keyB, nameB) < 0;
}

bool Directory::compare(const File& a, const File& b) const
{
    return sortsBefore(controller(), a.sortKey(), a.name(), a.metadata(), b.sortKey(), b.name(), b.metadata());
}

int Directory::insertionIndex(const QCollatorSortKey& key, const QString& name, const File::Metadata& metadata,
                              int skipping) const
{
    // A binary search for the first child the node sorts before, over the
    // children without the skipped one.
    int low = 0;
    int high = count() - (skipping >= 0 ? 1 : 0);
    while (low < high) {
        const int middle = (low + high) / 2;
        const File& child = *m_contents[size_t(skipping >= 0 && middle >= skipping ? middle + 1 : middle)];
        if (sortsBefore(controller(), key, name, metadata, child.sortKey(), child.name(), child.metadata()))
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

void Directory::adopt(File& node)
{
    node.m_parent = this;
    node.m_detachedPath.clear();
    indexName(node);
}

int Directory::insert(std::unique_ptr<File> node)
{
    if (node->m_parent) node = node->detach();
    const int index = insertionIndex(*node);
    insertAt(index, std::move(node));
    return index;
}

void Directory::insertAt(int index, std::unique_ptr<File> node)
{
    File& inserted = *node;
    m_contents.insert(m_contents.begin() + index, std::move(node));
    adopt(inserted);
}

std::unique_ptr<File> Directory::takeAt(int index)
{
    std::unique_ptr<File> node = std::move(m_contents[size_t(index)]);
    m_contents.erase(m_contents.begin() + index);
    unindexName(*node);
    node->m_detachedPath = joined(path(), node->m_name);
    node->m_parent = nullptr;
    return node;
}

File* Directory::fileAtPath(const QString& lookedUp)
{
    const QString wanted = cleanPath(lookedUp);
    const QString mine = path();
    if (wanted == mine) return this;
    const QString prefix = mine.endsWith(QLatin1Char('/')) ? mine : mine + QLatin1Char('/');
    if (wanted.size() <= prefix.size() || !wanted.startsWith(prefix)) return nullptr;
    Directory* folder = this;
    qsizetype from = prefix.size();
    for (;;) {
        const qsizetype slash = wanted.indexOf(QLatin1Char('/'), from);
        File* child = folder->childNamed(wanted.mid(from, slash < 0 ? -1 : slash - from));
        if (!child || slash < 0) return child;
        if (!child->isDirectory()) return nullptr;
        folder = static_cast<Directory*>(child);
        from = slash + 1;
    }
}

void Directory::sort()
{
    std::stable_sort(m_contents.begin(), m_contents.end(),
                     [this](const auto& a, const auto& b) { return compare(*a, *b); });
    for (auto& child : m_contents)
        if (child->isDirectory()) static_cast<Directory&>(*child).sort();
}

RegularFile* Directory::firstDocument()
{
    for (auto& child : m_contents) {
        if (!child->isDirectory()) return static_cast<RegularFile*>(child.get());
        if (RegularFile* inner = static_cast<Directory&>(*child).firstDocument()) return inner;
    }
    return nullptr;
}

QString Directory::defaultPathExtension() const
{
    for (const auto& child : m_contents) {
        if (child->isDirectory()) continue;
        const QString& name = child->name();
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot > 0 && dot < name.size() - 1) return name.mid(dot + 1);
    }
    if (parent()) return parent()->defaultPathExtension();
    return QStringLiteral("txt");
}

QString Directory::newDocumentURL() const
{
    const QString name = localizedFormat(QStringLiteral("library.new.document"), {defaultPathExtension()});
    return url::uniqueFileURL(joined(path(), name));
}

bool Directory::nameMatches(const QString& name, const QString& text)
{
    return name.contains(text, Qt::CaseInsensitive);
}

std::unique_ptr<File> Directory::filteredCopy(const File& node, const QString& text)
{
    return copyMatching(node, text, node.path());
}

// Copies share the source's names and sort keys and read nothing from disk:
// a search makes one on every keystroke. A child's path comes from its new
// parent, so only the top copy needs its own.
std::unique_ptr<File> Directory::copyMatching(const File& node, const QString& text, const QString& path)
{
    if (!node.isDirectory()) {
        if (!nameMatches(node.name(), text)) return nullptr;
        return std::unique_ptr<File>(new RegularFile(static_cast<const RegularFile&>(node), path));
    }
    const auto& folder = static_cast<const Directory&>(node);
    std::unique_ptr<Directory> copy;
    for (const auto& child : folder.contents()) {
        auto match = copyMatching(*child, text, QString());
        if (!match) continue;
        if (!copy) copy.reset(new Directory(folder, path));
        copy->insertAt(copy->count(), std::move(match)); // the source's order is sorted already
    }
    if (!copy) {
        if (!nameMatches(node.name(), text)) return nullptr;
        copy.reset(new Directory(folder, path));
    }
    copy->expanded = true;
    return copy;
}

Directory::Contents Directory::filterFiles(const Contents& files, const QString& text, const Directory&)
{
    Contents result;
    for (const auto& node : files)
        if (auto copy = copyMatching(*node, text, node->path())) result.push_back(std::move(copy));
    return result;
}

Directory::FilteredTree Directory::filtered(const QString& text)
{
    if (text.isEmpty()) return {this, nullptr};
    auto copy = filteredCopy(*this, text);
    if (!copy) return {};
    auto* root = static_cast<Directory*>(copy.release());
    return {root, std::unique_ptr<Directory>(root)};
}

void Directory::forEach(const std::function<void(File&)>& fn)
{
    for (auto& child : m_contents) child->forEach(fn);
    fn(*this);
}

PlatformResult<std::unique_ptr<Directory>> Directory::scan(const QString& folderPath, FileController* controller,
                                                           const File::Metadata* metadata)
{
    return scanWith(folderPath, controller, metadata, [controller](const QString& path) {
        if (controller) controller->willListFolder(path);
        return true;
    });
}

PlatformResult<std::unique_ptr<Directory>> Directory::scanDetached(const QString& folderPath,
                                                                   const std::function<bool(const QString&)>& willList)
{
    return scanWith(folderPath, nullptr, nullptr, willList);
}

PlatformResult<std::unique_ptr<Directory>> Directory::scanWith(const QString& folderPath, FileController* controller,
                                                               const File::Metadata* metadata,
                                                               const std::function<bool(const QString&)>& willList)
{
    const QString path = cleanPath(folderPath);
    if (!willList(path)) return PlatformError::cancelled();
    auto listing = FolderListing::list(path);
    if (!listing) return listing.error();
    Contents children;
    children.reserve(listing->size());
    for (const FolderListing::Entry& entry : *listing) {
        const QString childPath = joined(path, entry.name);
        const Metadata childMetadata{entry.added, entry.modified, entry.addedRecorded};
        if (entry.kind == FolderListing::Kind::document) {
            children.push_back(std::make_unique<RegularFile>(childPath, controller, childMetadata));
            continue;
        }
        auto folder = scanWith(childPath, controller, &childMetadata, willList);
        if (folder) {
            children.push_back(std::move(folder.value()));
        } else if (folder.error().isCancellation()) {
            return folder.error();
        } else {
            // One unreadable folder does not keep the rest from showing.
            qWarning().noquote() << folder.error().message();
            auto empty = std::make_unique<Directory>(childPath, Contents{}, controller, childMetadata);
            empty->expanded = true;
            children.push_back(std::move(empty));
        }
    }
    auto directory = std::make_unique<Directory>(path, std::move(children), controller,
                                                 metadata ? *metadata : Metadata{});
    directory->expanded = true;
    return directory;
}

void Directory::adoptDetached(FileController* controller)
{
    forEach([controller](File& node) { node.m_controller = controller; });
    // Made in name order; another order sorts it now.
    if (controller && controller->sortKey() != Library::SortKey::name) sort();
}

} // namespace lumora
