#include "platform/files/FileRelocations.h"

namespace lumora {

FileRelocations& FileRelocations::shared()
{
    static FileRelocations instance;
    return instance;
}

void FileRelocations::announceWillMove(const QString& path)
{
    ++m_moving[path];
    emit willMove(path);
}

void FileRelocations::announceMoved(const QString& from, const QString& to)
{
    moveEnded(from);
    emit didMove(from, to);
}

void FileRelocations::announceTrashed(const QString& path, const QString& pathInTrash)
{
    moveEnded(path);
    emit didTrash(path, pathInTrash);
}

void FileRelocations::announceMoveFailed(const QString& path)
{
    moveEnded(path);
    emit moveFailed(path);
}

void FileRelocations::moveEnded(const QString& path)
{
    const auto moving = m_moving.find(path);
    if (moving == m_moving.end()) return;
    if (--moving.value() == 0) m_moving.erase(moving);
}

bool FileRelocations::isMoving(const QString& path) const
{
    for (auto moving = m_moving.cbegin(); moving != m_moving.cend(); ++moving)
        if (!relocated(path, moving.key(), moving.key()).isEmpty()) return true;
    return false;
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
