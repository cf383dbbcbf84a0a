#pragma once

#include <QString>

// Small path arithmetic shared by the library's tree and its file
// operations. Paths here are absolute and clean, with "/" as separator.
namespace lumora::filepaths {

inline QString lastComponent(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

inline QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Strictly inside folder (the folder itself is not).
inline bool isInside(const QString& path, const QString& folder)
{
    return path.size() > folder.size() && path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('/');
}

} // namespace lumora::filepaths
