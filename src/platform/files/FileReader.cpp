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
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

PlatformError readError(const QString& path, PlatformError::Code code, const QString& reason)
{
    return PlatformError(code,
                         platformText("file.error.read", "The file “%1” couldn't be read.")
                             .arg(NativePath::shown(QFileInfo(path).fileName())),
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

PlatformResult<QByteArray> readFileSafely(const QString& path, const FileReadOptions& options)
{
    const detail::FaultPathScope scope(QFileInfo(path).absoluteFilePath());
    const QByteArray name = NativePath::encode(path);
    // Looked at before it is opened: opening a pipe would wait for a writer.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return errnoError(path, errno, platformText("file.step.open", "Opening the file"));
    if (auto refused = kindError(path, st.st_mode)) return *refused;
    if (options.maximumSize >= 0 && st.st_size > options.maximumSize)
        return tooLargeError(path, st.st_size, options.maximumSize);

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
