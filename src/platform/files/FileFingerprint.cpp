#include "platform/files/FileFingerprint.h"

#include <QFile>

#include <sys/stat.h>

namespace lumora {

FileFingerprint FileFingerprint::of(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) return FileFingerprint{};
    FileFingerprint f;
    f.exists = true;
    f.device = quint64(st.st_dev);
    f.inode = quint64(st.st_ino);
    f.size = qint64(st.st_size);
    f.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return f;
}

} // namespace lumora
