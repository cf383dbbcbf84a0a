#include "library/FileOperations.h"

#include "library/FileController.h"
#include "library/FilePaths.h"
#include "platform/files/FileManager.h"
#include "platform/files/FileRelocations.h"
#include "platform/files/FolderListing.h"
#include "platform/files/NativePath.h"
#include "platform/foundation/Dispatch.h"

#include <QDir>

#include <sys/stat.h>

#include <cerrno>
#include <memory>

namespace lumora {

using filepaths::isInside;
using filepaths::lastComponent;

namespace {

// A path the writer's command names: its folder made clean, its last
// component kept exactly as given (cleaning would turn "x/.." into a
// different item), so that the name can be checked.
QString commandPath(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return path;
    const QString folder = QDir::cleanPath(path.left(slash + 1));
    return (folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) + path.mid(slash + 1);
}

QString extensionOf(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && dot < name.size() - 1 ? name.mid(dot + 1) : QString();
}

// Runs work on the background pool and done with its result on the main
// thread. The worker keeps nothing of done once it has handed it over, so
// whatever done holds is released on the main thread.
template <typename T>
void runInBackground(std::function<PlatformResult<T>()> work, std::function<void(PlatformResult<T>)> done)
{
    auto finish = std::make_shared<std::function<void(PlatformResult<T>)>>(std::move(done));
    dispatch::background([work = std::move(work), finish]() mutable {
        auto result = std::make_shared<PlatformResult<T>>(work());
        dispatch::async([finish = std::move(finish), result] { (*finish)(std::move(*result)); });
    });
}

PlatformError nameError(const QString& name, const QString& reason)
{
    return PlatformError(PlatformError::Code::generic,
                         name.trimmed().isEmpty()
                             ? platformText("library.error.name.empty", "The name can't be empty.")
                             : platformText("library.error.name", "The name “%1” can't be used.")
                                   .arg(NativePath::shownName(name)),
                         reason);
}

void refuse(const FileOperations::Completion& completion, const PlatformError& error)
{
    dispatch::async([completion, error] {
        if (completion) completion(error, nullptr);
    });
}

} // namespace

std::optional<PlatformError> FileOperations::checkDiskName(const QString& name)
{
    if (name.trimmed().isEmpty())
        return nameError(name, platformText("library.error.name.type", "Type a name for it."));
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return nameError(name, platformText("library.error.name.reserved", "“.” and “..” are reserved by the system."));
    if (name.contains(QChar(0)))
        return nameError(name, platformText("library.error.name.nul", "Names can't contain the NUL character."));
    if (name.contains(QLatin1Char('/')))
        return nameError(name, platformText("library.error.name.slash", "Names on disk can't contain “/”."));
    if (name.startsWith(QLatin1Char('.')))
        return nameError(name, platformText("library.error.name.hidden",
                                            "Names that begin with a dot are hidden, so it would vanish from the "
                                            "library."));
    if (NativePath::encode(name).size() > 255)
        return nameError(name, platformText("library.error.name.long", "It is too long: a name can be at most 255 "
                                                                       "bytes, a little less with accents or "
                                                                       "symbols."));
    return std::nullopt;
}

PlatformResult<QString> FileOperations::diskNameForTypedName(const QString& typed)
{
    const QString name = NativePath::diskName(typed);
    if (auto error = checkDiskName(name)) {
        error->errorDescription = typed.trimmed().isEmpty()
                                      ? error->errorDescription
                                      : platformText("library.error.name", "The name “%1” can't be used.").arg(typed);
        return *error;
    }
    return name;
}

void FileOperations::createDocument(const QString& path, const std::optional<QByteArray>& contents,
                                    Completion completion)
{
    QString target = commandPath(path);
    if (!FolderListing::isDocumentExtension(extensionOf(lastComponent(target)))) target += QStringLiteral(".txt");
    if (auto error = checkDiskName(lastComponent(target))) {
        refuse(completion, *error);
        return;
    }
    auto self = m_controller.shared_from_this();
    const QByteArray bytes = contents.value_or(QByteArray());
    runInBackground<QString>([target, bytes] { return FileManager::createFile(target, bytes, true); },
                             [self, completion](PlatformResult<QString> made) {
                                 if (!made) {
                                     if (completion) completion(made.error(), nullptr);
                                     return;
                                 }
                                 File* node = self->fileAppeared(*made);
                                 if (completion) completion(std::nullopt, dynamic_cast<RegularFile*>(node));
                             });
}

void FileOperations::createFolder(const QString& path, Completion completion)
{
    const QString target = commandPath(path);
    if (auto error = checkDiskName(lastComponent(target))) {
        refuse(completion, *error);
        return;
    }
    auto self = m_controller.shared_from_this();
    runInBackground<QString>([target] { return FileManager::createFolder(target, true); },
                             [self, completion](PlatformResult<QString> made) {
                                 if (!made) {
                                     if (completion) completion(made.error(), nullptr);
                                     return;
                                 }
                                 File* node = self->fileAppeared(*made);
                                 if (completion) completion(std::nullopt, dynamic_cast<Directory*>(node));
                             });
}

void FileOperations::moveFile(const QString& fromPath, const QString& toPath, Completion completion)
{
    const QString from = QDir::cleanPath(fromPath);
    QString to = commandPath(toPath);
    if (from == to) {
        if (completion) completion(std::nullopt, nullptr);
        return;
    }
    struct stat st {};
    const bool isFolder = ::lstat(NativePath::encode(from).constData(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!isFolder && !FolderListing::isDocumentExtension(extensionOf(lastComponent(to)))) {
        const QString extension = extensionOf(lastComponent(from));
        if (!extension.isEmpty()) to += QLatin1Char('.') + extension;
    }
    if (auto error = checkDiskName(lastComponent(to))) {
        refuse(completion, *error);
        return;
    }
    if (isInside(to, from)) {
        refuse(completion, FileManager::errorFor(EINVAL, FileManager::Action::move, from, to));
        return;
    }
    FileRelocations::shared().announceWillMove(from);
    auto self = m_controller.shared_from_this();
    runInBackground<void>([from, to] { return FileManager::moveItem(from, to); },
                          [self, from, to, completion](PlatformStatus status) {
                              if (!status) {
                                  FileRelocations::shared().announceMoveFailed(from);
                                  if (completion) completion(status.error(), nullptr);
                                  return;
                              }
                              File* node = self->fileMoved(from, to);
                              FileRelocations::shared().announceMoved(from, to);
                              if (completion) completion(std::nullopt, node);
                          });
}

void FileOperations::trashFiles(const std::vector<File*>& files,
                                std::function<void(const std::optional<PlatformError>&)> completion)
{
    auto self = m_controller.shared_from_this();
    for (File* file : files) {
        const QString path = file->path();
        FileRelocations::shared().announceWillMove(path);
        runInBackground<QString>([path] { return FileManager::moveItemToTrash(path); },
                                 [self, path, completion](PlatformResult<QString> trashed) {
                                     if (!trashed) {
                                         FileRelocations::shared().announceMoveFailed(path);
                                         if (completion) completion(trashed.error());
                                         return;
                                     }
                                     self->fileRemoved(path);
                                     FileRelocations::shared().announceTrashed(path, *trashed);
                                     if (completion) completion(std::nullopt);
                                 });
    }
}

} // namespace lumora
