#include "platform/files/FileFingerprint.h"

#include "platform/files/NativePath.h"

#include <QFile>
#include <QHashFunctions>

#include <sys/stat.h>

namespace lumora {

FileFingerprint FileFingerprint::of(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(NativePath::encode(path).constData(), &st) != 0) return FileFingerprint{};
    FileFingerprint f;
    f.exists = true;
    f.device = quint64(st.st_dev);
    f.inode = quint64(st.st_ino);
    f.size = qint64(st.st_size);
    f.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    f.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return f;
}

quint64 contentDigest(QByteArrayView bytes)
{
    // Two seeds and the length: a chance collision is out of the question
    // for what this decides (whether to ask the writer).
    const quint64 a = quint64(qHash(bytes, size_t(0x9E3779B97F4A7C15ull)));
    const quint64 b = quint64(qHash(bytes, size_t(0xC2B2AE3D27D4EB4Full)));
    return (a * 0x100000001B3ull) ^ b ^ quint64(bytes.size());
}

} // namespace lumora
