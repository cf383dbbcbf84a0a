#include "platform/files/FileRelocations.h"

namespace lumora {

FileRelocations& FileRelocations::shared()
{
    static FileRelocations instance;
    return instance;
}

QString FileRelocations::relocated(const QString& path, const QString& from, const QString& to)
{
    if (from.isEmpty() || path.isEmpty()) return {};
    if (path == from) return to;
    if (path.size() > from.size() && path.startsWith(from) && path.at(from.size()) == QLatin1Char('/'))
        return to + path.mid(from.size());
    return {};
}

} // namespace lumora
