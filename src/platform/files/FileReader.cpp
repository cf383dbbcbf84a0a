#include "platform/files/FileReader.h"

#include "platform/files/FileWriter.h"
#include "platform/files/NativePath.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace lumora {

namespace {

PlatformError readError(const QString& path, PlatformError::Code code, const QString& reason)
{
    return PlatformError(code,
                         platformText("file.error.read", "The file “%1” couldn't be read.")
                             .arg(NativePath::shownNameOf(path)),
                         reason, path);
}

PlatformError errnoError(const QString& path, int error, const QString& operation)
{
    PlatformError::Code code = PlatformError::Code::readFailed;
    if (error == ENOENT) code = PlatformError::Code::fileNotFound;
    else if (error == EACCES || error == EPERM) code = PlatformError::Code::permissionDenied;
    if (error == ENOENT)
        return readError(path, code, platformText("file.error.read.missing", "There is no file at that location."));
    return readError(path, code, fileErrorReason(error, operation));
}

// Why something that is not a regular file cannot be read as one.
std::optional<PlatformError> kindError(const QString& path, mode_t mode)
{
    const auto refuse = [&](const char* key, const char* english) {
        return readError(path, PlatformError::Code::notAFile, platformText(key, english));
    };
    if (S_ISREG(mode)) return std::nullopt;
    if (S_ISDIR(mode)) return refuse("file.error.read.folder", "It is a folder, not a file.");
    if (S_ISFIFO(mode)) return refuse("file.error.read.fifo", "It is a named pipe, not a file.");
    if (S_ISSOCK(mode)) return refuse("file.error.read.socket", "It is a socket, not a file.");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return refuse("file.error.read.device", "It is a device, not a file.");
    return refuse("file.error.read.special", "It is not a regular file.");
}

// The kernel's virtual file systems: their files are regular to stat, but
// many report a size of 0 or 4096 whatever they hold, some never end
// (/proc/kcore), and some wait for events when read (/proc/kmsg, tracefs's
// trace_pipe).
bool isVirtualFileSystem(const struct statfs& fs)
{
    switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case SELINUX_MAGIC:
    case SMACK_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BINFMTFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case 0x62656570: // configfs
    case 0x65735543: // fusectl
        return true;
    default:
        return false;
    }
}

std::optional<PlatformError> virtualFileError(const QString& path, const struct statfs& fs)
{
    if (!isVirtualFileSystem(fs)) return std::nullopt;
    return readError(path, PlatformError::Code::notAFile,
                     platformText("file.error.read.virtual", "It is one of the system's virtual files, not a file on a disk."));
}

PlatformError tooLargeError(const QString& path, qint64 size, qint64 maximum)
{
    return readError(path, PlatformError::Code::tooLarge,
                     platformText("file.error.read.tooLarge",
                                  "It is %1, larger than the %2 Lumora can open.")
                         .arg(formattedFileSize(size), formattedFileSize(maximum)));
}

} // namespace

QString formattedFileSize(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

PlatformStatus checkFileForReading(const QString& path, const FileReadOptions& options)
{
    const QByteArray name = NativePath::encode(path);
    if (name.isEmpty()) return errnoError(path, ENOENT, platformText("file.step.open", "Opening the file"));
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return errnoError(path, errno, platformText("file.step.open", "Opening the file"));
    if (auto refused = kindError(path, st.st_mode)) return *refused;
    if (options.diskFilesOnly) {
        struct statfs fs {};
        if (::statfs(name.constData(), &fs) != 0)
            return errnoError(path, errno, platformText("file.step.open", "Opening the file"));
        if (auto refused = virtualFileError(path, fs)) return *refused;
    }
    if (options.maximumSize >= 0 && st.st_size > options.maximumSize)
        return tooLargeError(path, st.st_size, options.maximumSize);
    return {};
}

PlatformResult<QByteArray> readFileSafely(const QString& path, const FileReadOptions& options)
{
    const detail::FaultPathScope scope(QFileInfo(path).absoluteFilePath());
    const QByteArray name = NativePath::encode(path);
    // Looked at before it is opened: opening a pipe would wait for a writer.
    if (PlatformStatus checked = checkFileForReading(path, options); !checked) return checked.error();
    struct stat st {};

    // Non-blocking, in case something else took its place meanwhile.
    int fd = -1;
    if (const int fault = detail::injectedFileFault("openRead")) {
        errno = fault;
    } else {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }
    if (fd < 0) return errnoError(path, errno, platformText("file.step.open", "Opening the file"));
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    if (::fstat(fd, &st) != 0) return errnoError(path, errno, platformText("file.step.read", "Reading the file"));
    if (auto refused = kindError(path, st.st_mode)) return *refused;
    if (options.diskFilesOnly) {
        struct statfs fs {};
        if (::fstatfs(fd, &fs) != 0) return errnoError(path, errno, platformText("file.step.read", "Reading the file"));
        if (auto refused = virtualFileError(path, fs)) return *refused;
    }
    if (options.maximumSize >= 0 && st.st_size > options.maximumSize)
        return tooLargeError(path, st.st_size, options.maximumSize);

    QByteArray bytes;
    // The size may be wrong (files of /proc say 0) or change while reading:
    // read to the end, within the bound.
    qint64 capacity = std::max<qint64>(st.st_size + 1, 4096);
    if (options.maximumSize >= 0) capacity = std::min(capacity, options.maximumSize + 1);
    bytes.resize(capacity);
    qint64 filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (options.maximumSize >= 0 && filled > options.maximumSize)
                return tooLargeError(path, filled, options.maximumSize);
            qint64 grown = bytes.size() * 2;
            if (options.maximumSize >= 0) grown = std::min(grown, options.maximumSize + 1);
            bytes.resize(grown);
        }
        ssize_t n = -1;
        if (const int fault = detail::injectedFileFault("read")) {
            errno = fault;
        } else {
            n = ::read(fd, bytes.data() + filled, size_t(bytes.size() - filled));
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            return errnoError(path, errno, platformText("file.step.read", "Reading the file"));
        }
        if (n == 0) break;
        filled += n;
    }
    if (options.maximumSize >= 0 && filled > options.maximumSize)
        return tooLargeError(path, filled, options.maximumSize);
    bytes.resize(filled);
    if (bytes.capacity() - filled > 65536) bytes.squeeze();
    return bytes;
}

} // namespace lumora
