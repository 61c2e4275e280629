#include "file-storage/internal/FileSync.h"

#include <QFile>

#if defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zel::file_storage::internal {

namespace {

bool syncHandle(int fd) {
#if defined(Q_OS_WIN)
    auto const handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
#elif defined(Q_OS_DARWIN)
    // fsync on macOS leaves the data in the drive's cache; only F_FULLFSYNC reaches the disk.
    return fcntl(fd, F_FULLFSYNC) == 0 || fsync(fd) == 0;
#else
    return fsync(fd) == 0;
#endif
}

} // namespace

bool syncFile(QFileDevice& file) {
    // A write that stops part-way (a full disk) leaves Qt with the error text of some earlier
    // call; a second flush starts where the first stopped and fails with the real cause.
    if (!file.flush()) {
        file.flush();
        return false;
    }
    return syncHandle(file.handle());
}

bool syncFile(QString const& path) {
    // Windows only flushes handles opened for writing; opening for appending changes nothing.
    QFile file(path);
#if defined(Q_OS_WIN)
    auto const mode = QIODevice::WriteOnly | QIODevice::Append;
#else
    auto const mode = QIODevice::ReadOnly;
#endif
    return file.open(mode) && syncFile(file);
}

bool syncDirectory(QString const& path) {
#if defined(Q_OS_WIN)
    // NTFS journals directory entries itself; a directory cannot be flushed like a file.
    Q_UNUSED(path);
    return true;
#else
    int const fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool const synced = syncHandle(fd);
    ::close(fd);
    return synced;
#endif
}

} // namespace zel::file_storage::internal
