#include "platform/application/DocumentFiles.h"

#include "platform/files/NativePath.h"

#include <QFileInfo>

#include <sys/stat.h>

namespace lumora::documentFiles {

PlatformError readError(const QString& path, PlatformError::Code code, const QString& suggestion)
{
    return PlatformError(code,
                         platformText("document.error.read", "The file “%1” couldn't be opened.").arg(NativePath::shownNameOf(path)),
                         suggestion, path);
}

PlatformError readError(const QString& path, const PlatformError& failure)
{
    return readError(path, failure.code, failure.recoverySuggestion);
}

PlatformError writeError(const QString& path, PlatformError::Code code, const QString& suggestion)
{
    return PlatformError(code,
                         platformText("document.error.write", "The document “%1” couldn't be saved.")
                             .arg(NativePath::shownNameOf(path)),
                         suggestion, path);
}

PlatformError writeError(const QString& path, const PlatformError& failure)
{
    if (!NativePath::isFolder(QFileInfo(path).absolutePath()))
        return writeError(path, PlatformError::Code::writeFailed,
                          platformText("document.error.write.noFolder",
                                       "Its folder no longer exists. Use Save As to save it somewhere else."));
    if (failure.code == PlatformError::Code::permissionDenied)
        return writeError(path, PlatformError::Code::permissionDenied,
                          platformText("document.error.write.permission",
                                       "You don't have permission to save it in that folder. "
                                       "Use Save As to save it somewhere else."));
    return writeError(path, failure.code, failure.recoverySuggestion);
}

QString safeFileName(QString name)
{
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.remove(QChar(0));
    while (name.startsWith(QLatin1Char('.'))) name.remove(0, 1);
    while (NativePath::encode(name).size() > 200) name.chop(1);
    return name.isEmpty() ? QStringLiteral("Untitled") : name;
}

std::optional<FolderIdentity> folderIdentityOf(const QString& filePath)
{
    struct stat st {};
    if (::stat(NativePath::encode(QFileInfo(filePath).absolutePath()).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return FolderIdentity{quint64(st.st_dev), quint64(st.st_ino)};
}

} // namespace lumora::documentFiles
