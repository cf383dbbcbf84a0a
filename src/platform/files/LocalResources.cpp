#include "platform/files/LocalResources.h"

#include "platform/files/FileReader.h"

#include <QDir>

namespace lumora {

namespace {

FileReadOptions resourceOptions(qint64 maximumSize)
{
    FileReadOptions options;
    options.maximumSize = maximumSize;
    options.diskFilesOnly = true;
    return options;
}

// A path from the root. (QDir::isAbsolutePath also takes ":name", Qt's
// own resources, which are not files.)
bool isAbsolute(const QString& path) { return path.startsWith(QLatin1Char('/')); }

} // namespace

std::optional<QString> localResourcePath(const QUrl& url, const QString& folder)
{
    if (!url.isValid()) return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("file")) {
        // A share on another machine (file://server/...) is not this computer's.
        const QString host = url.host();
        if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) return std::nullopt;
        const QString path = url.path(QUrl::FullyDecoded);
        if (!isAbsolute(path)) return std::nullopt;
        return QDir::cleanPath(path);
    }
    if (!scheme.isEmpty() || !url.host().isEmpty()) return std::nullopt;
    const QString path = url.path(QUrl::FullyDecoded);
    if (path.isEmpty()) return std::nullopt;
    if (isAbsolute(path)) return QDir::cleanPath(path);
    if (!isAbsolute(folder)) return std::nullopt;
    return QDir::cleanPath(folder + QLatin1Char('/') + path);
}

PlatformStatus checkLocalResource(const QString& path, qint64 maximumSize)
{
    return checkFileForReading(path, resourceOptions(maximumSize));
}

PlatformResult<QByteArray> readLocalResource(const QString& path, qint64 maximumSize)
{
    return readFileSafely(path, resourceOptions(maximumSize));
}

} // namespace lumora
