#include "settings/URLExtensions.h"

#include "platform/files/FileManager.h"
#include "platform/files/NativePath.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace lumora::url {

namespace {

QString withoutTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
    return path;
}

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// The path's components as a file manager shows them: "/" first, then
// every folder down to the item itself.
QStringList components(const QString& path)
{
    QStringList parts;
    if (path.startsWith(QLatin1Char('/'))) parts.append(QStringLiteral("/"));
    parts.append(path.split(QLatin1Char('/'), Qt::SkipEmptyParts));
    return parts;
}

} // namespace

QString uniqueFileURL(const QString& path)
{
    const QString clean = withoutTrailingSlashes(path);
    if (!exists(clean)) return clean;
    for (quint64 n = 2;; ++n) {
        const QString candidate = FileManager::numberedPath(clean, n);
        if (!exists(candidate)) return candidate;
    }
}

QString localizedName(const QString& path)
{
    return NativePath::shownNameOf(withoutTrailingSlashes(path));
}

QList<QStringList> displayNames(const QStringList& folderPaths)
{
    struct Entry {
        QStringList shown;
        QStringList pending;
    };
    QList<Entry> entries;
    for (const QString& path : folderPaths) entries.append({{}, components(withoutTrailingSlashes(path))});

    bool moved = true;
    while (moved) {
        moved = false;
        QHash<QStringList, int> counts;
        for (const Entry& e : entries) ++counts[e.shown];
        for (Entry& e : entries) {
            if (e.pending.isEmpty()) continue;
            if (!e.shown.isEmpty() && counts.value(e.shown) <= 1) continue;
            e.shown.prepend(e.pending.takeLast());
            moved = true;
        }
    }

    QList<QStringList> result;
    for (const Entry& e : entries) result.append(e.shown.mid(0, e.shown.size() - 1));
    return result;
}

AttributedDisplayName attributedDisplayName(const QString& path, const QStringList& parentComponents)
{
    AttributedDisplayName name{localizedName(path), QString()};
    QStringList shown;
    for (const QString& component : parentComponents) shown << NativePath::shownName(component);
    if (!shown.isEmpty()) name.parents = QStringLiteral(" \u2013 ") + shown.join(QLatin1Char('/'));
    return name;
}

} // namespace lumora::url
