#pragma once

#include "platform/files/StringEncoding.h"
#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QCollatorSortKey>
#include <QDateTime>
#include <QHash>
#include <QPointer>
#include <QString>

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace lumora {

class Directory;
class Document;
class FileController;
class RegularFile;

// A node of a library's file tree: a folder (Directory) or a plain-text
// document (RegularFile). The tree mirrors a folder on disk; its
// FileController builds it, keeps it in step with the disk and tells the
// views.
//
// A node knows its name on disk and its parent; its path is its parent's path
// and its name, so a folder that moves takes everything in it along at no
// cost. A node without a parent (the root, or a node between two places)
// keeps its whole path.
//
// Nodes live on the main thread. A folder owns its children and keeps them
// in its controller's sort order at all times.
class File {
public:
    // What the disk says of an item, read once by a listing.
    struct Metadata {
        std::optional<qint64> added;    // ms since the epoch: when it came into its folder
        std::optional<qint64> modified; // ms since the epoch
        bool addedRecorded = false;     // the date added is the library's record, not the birth time
    };

    virtual ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    virtual bool isDirectory() const { return false; }

    // The item's absolute path, and its name on disk.
    QString path() const;
    const QString& name() const { return m_name; }
    // The name shown (NativePath::shownName): every ":" as "/", on one line.
    QString filename() const;
    // The name without its extension (a document) or the whole name (a folder).
    QString displayStem() const;

    Directory* parent() const { return m_parent; }
    FileController* controller() const { return m_controller; }

    std::optional<QDateTime> dateAdded() const;
    std::optional<QDateTime> dateModified() const;
    const Metadata& metadata() const { return m_metadata; }

    // Stale: updated while no row showed it; refreshed when it is shown.
    bool isInvalidated() const { return m_invalidated; }

    // Shown by a row of a library outline. Several windows may show the
    // same node, so showing counts up and hiding counts down. A node that
    // becomes shown while stale is updated (a document then reads its
    // summary).
    bool isVisible() const { return m_visibleCount > 0; }
    void setVisible(bool visible);

    // Reads the node's dates again; a shown document also reads its summary
    // (off the main thread). The controller's observers hear of changes.
    virtual void update();
    // The item now lives at path: a new name and, for a node without a
    // parent, a new place. Runs update().
    void setPath(const QString& path);

    // Calls fn with this node and, for a folder, with everything inside it
    // first (a folder comes after its contents).
    virtual void forEach(const std::function<void(File&)>& fn);

    // The sort key of the name on disk.
    const QCollatorSortKey& sortKey() const { return m_sortKey; }

    // The node for the item at path: a Directory for a folder (scanned
    // whole), a RegularFile for a document, none for anything a library
    // does not show.
    static std::unique_ptr<File> make(const QString& path, FileController* controller);

    // The open documents bound to the documents of these nodes and
    // everything inside them, in order (a document bound to several is
    // listed each time).
    static std::vector<Document*> documents(const std::vector<File*>& files);

    // Takes the node out of its folder and hands over its ownership; it
    // keeps its path.
    std::unique_ptr<File> detach();

protected:
    File(const QString& path, FileController* controller, const Metadata& metadata);
    // A copy's node: the source's name, sort key and dates.
    File(const File& source, const QString& path);
    // Tells the controller's observers that the node's shown data changed.
    void announceChange();
    // Reads the dates again; true when they changed.
    bool refreshMetadata();

private:
    friend class Directory;
    friend class FileController;
    void setName(const QString& name);

    QString m_name;
    QString m_detachedPath; // the whole path, while the node has no parent
    QCollatorSortKey m_sortKey;
    Directory* m_parent = nullptr;
    FileController* m_controller = nullptr;
    Metadata m_metadata;
    int m_visibleCount = 0;
    bool m_invalidated = true;
};

// One plain-text document of a library.
class RegularFile : public File {
public:
    // A node for the document at path: its dates are read now (no summary:
    // it is not shown yet).
    RegularFile(const QString& path, FileController* controller);
    RegularFile(const QString& path, FileController* controller, const Metadata& metadata);
    ~RegularFile() override;

    void update() override;

    // The first characters of the text, for the row; empty until the node
    // was shown and read.
    const QString& summary() const { return m_summary; }
    // The date the row shows: the date of the library's sort key (none for
    // the name order).
    std::optional<QDateTime> date() const;

    // The saved editor state of the document (selection, scroll position).
    QByteArray stateData;

    // The open document bound to this row. Binding lets go of the previous
    // document's reference and takes one of the new one; a node that goes
    // away lets go of its document.
    Document* document() const;
    void setDocument(Document* document);

    // The summary of the file at path: at most its first 64 KB, decoded in
    // the preferred encoding or else as detected; the first 256 UTF-16
    // units of a longer text (never half a character); two line feeds for
    // an empty or unreadable file. Blocks on the disk.
    static QString readSummary(const QString& path, StringEncoding preferred);
    static constexpr qsizetype summaryReadLimit = 64 * 1024;

private:
    friend class File;
    friend class Directory;
    RegularFile(const RegularFile& source, const QString& path);
    void readSummaryInBackground();

    QString m_summary;
    QPointer<QObject> m_document; // a Document
    std::shared_ptr<RegularFile*> m_alive; // for reads that finish after the node went
    bool m_reading = false;
    bool m_readAgain = false;
};

// One folder of a library, and the root of a library's tree.
class Directory : public File {
public:
    using Contents = std::vector<std::unique_ptr<File>>;

    // A folder node with these children (sorted now); its dates are read now.
    Directory(const QString& path, Contents contents, FileController* controller);
    Directory(const QString& path, Contents contents, FileController* controller, const Metadata& metadata);
    ~Directory() override;

    bool isDirectory() const override { return true; }

    bool expanded = false;

    const Contents& contents() const { return m_contents; }
    int count() const { return int(m_contents.size()); }
    File* child(int index) const { return m_contents[size_t(index)].get(); }
    int indexOf(const File* node) const;
    // The child of that name on disk, or none.
    File* childNamed(const QString& name) const;

    // Inserts a node that has no parent at its sorted place, after the
    // children it ties with, and returns the index.
    int insert(std::unique_ptr<File> node);
    // Where insert() would put a node of that sort key, name and dates;
    // with skipping, the index once the child at that index is taken out.
    int insertionIndex(const QCollatorSortKey& key, const QString& name, const File::Metadata& metadata,
                       int skipping = -1) const;
    int insertionIndex(const File& node) const
    {
        return insertionIndex(node.sortKey(), node.name(), node.metadata());
    }
    // Inserts a node at a known index (the one insertionIndex gave).
    void insertAt(int index, std::unique_ptr<File> node);
    std::unique_ptr<File> takeAt(int index);

    // The node at path: this folder itself, or a node inside it; none for
    // a path outside it.
    File* fileAtPath(const QString& path);

    // True when a sorts before b in the controller's order.
    bool compare(const File& a, const File& b) const;
    static bool sortsBefore(const FileController* controller, const QCollatorSortKey& keyA, const QString& nameA,
                            const File::Metadata& a, const QCollatorSortKey& keyB, const QString& nameB,
                            const File::Metadata& b);
    // Sorts the children, and theirs, in the controller's order.
    void sort();

    // The first document in shown order, depth first; none when there is none.
    RegularFile* firstDocument();
    // The extension of the first document here, else the parent's answer,
    // else "txt".
    QString defaultPathExtension() const;
    // A free path for a new untitled document in this folder.
    QString newDocumentURL() const;

    // The tree a search shows: this very folder for an empty text;
    // otherwise a separate copy holding the documents whose name contains
    // the text (case ignored) and the folders that hold them or whose own
    // name matches, all expanded; none when nothing matches.
    struct FilteredTree {
        Directory* root = nullptr;
        std::unique_ptr<Directory> copy; // owns root when it is a copy
    };
    FilteredTree filtered(const QString& text);
    // The filtered copies of these nodes, held by the folder in (which
    // gives them their controller).
    static Contents filterFiles(const Contents& files, const QString& text, const Directory& in);
    // The filtered copy of one node; none when it does not match.
    static std::unique_ptr<File> filteredCopy(const File& node, const QString& text);
    static bool nameMatches(const QString& name, const QString& text);

    // The whole folder as a tree: every document and folder inside it, at
    // any depth. Each folder is announced to the controller before it is
    // listed (so it can be watched). Fails when the folder itself cannot be
    // read; a sub-folder that cannot be read shows as empty.
    static PlatformResult<std::unique_ptr<Directory>> scan(const QString& path, FileController* controller,
                                                           const File::Metadata* metadata = nullptr);
    // The same on another thread: the nodes belong to no controller yet
    // (adoptDetached() gives them theirs, on the main thread) and stand in name
    // order. willList is asked before each folder is listed; false stops
    // the scan, which then fails as cancelled.
    static PlatformResult<std::unique_ptr<Directory>> scanDetached(const QString& path,
                                                                   const std::function<bool(const QString&)>& willList);
    // Gives a detached tree its controller and puts it in that controller's
    // order (main thread).
    void adoptDetached(FileController* controller);

    void forEach(const std::function<void(File&)>& fn) override;

private:
    Directory(const Directory& source, const QString& path);
    static PlatformResult<std::unique_ptr<Directory>> scanWith(const QString& path, FileController* controller,
                                                               const File::Metadata* metadata,
                                                               const std::function<bool(const QString&)>& willList);
    static std::unique_ptr<File> copyMatching(const File& node, const QString& text, const QString& path);
    void adopt(File& node);
    void indexName(File& node);
    void unindexName(File& node);

    Contents m_contents;
    // Children by name, made once a folder is large enough to need it.
    mutable std::unique_ptr<QHash<QString, File*>> m_byName;
};

} // namespace lumora
