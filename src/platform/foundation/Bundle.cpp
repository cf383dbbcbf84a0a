#include "platform/foundation/Bundle.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace lumora {

QString Bundle::name() { return QStringLiteral("Lumora"); }

int Bundle::buildNumber() { return LUMORA_BUILD_NUMBER; }

QUrl Bundle::website()
{
#ifdef LUMORA_WEBSITE
    const QUrl url(QStringLiteral(LUMORA_WEBSITE), QUrl::StrictMode);
    if (url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")))
        return url;
#endif
    return {};
}

QString Bundle::resourcePath(const QString& name, const QString& extension)
{
    // Resources are found by file name wherever they sit under :/resources
    // (sounds live in a folder of their own).
    static const QHash<QString, QString> index = [] {
        QHash<QString, QString> files;
        QDirIterator it(QStringLiteral(":/resources"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString fileName = QFileInfo(path).fileName();
            // The shallowest wins when two folders hold the same name.
            const auto existing = files.constFind(fileName);
            if (existing == files.constEnd() || existing->count(u'/') > path.count(u'/'))
                files.insert(fileName, path);
        }
        return files;
    }();
    const QString fileName = extension.isEmpty() ? name : name + QLatin1Char('.') + extension;
    return index.value(fileName);
}

QUrl Bundle::resourceUrl(const QString& name, const QString& extension)
{
    const QString path = resourcePath(name, extension);
    return path.isEmpty() ? QUrl() : QUrl(QStringLiteral("qrc") + path);
}

bool Bundle::hasResource(const QString& name, const QString& extension)
{
    return !resourcePath(name, extension).isEmpty();
}

QByteArray Bundle::resourceData(const QString& name, const QString& extension)
{
    QFile file(resourcePath(name, extension));
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "Lumora: the bundled resource %s.%s is missing; the installation is damaged.\n",
                     qPrintable(name), qPrintable(extension));
        std::abort();
    }
    return file.readAll();
}

std::uint8_t parseLogLevel(const QStringList& arguments)
{
    const qsizetype i = arguments.indexOf(QStringLiteral("-log"));
    if (i < 0 || i + 1 >= arguments.size()) return 0;
    bool ok = false;
    const qulonglong level = arguments.at(i + 1).toULongLong(&ok, 10);
    return ok && level <= 3 ? std::uint8_t(level) : 0;
}

std::uint8_t logLevel()
{
    static const std::uint8_t level = parseLogLevel(QCoreApplication::arguments());
    return level;
}

} // namespace lumora
