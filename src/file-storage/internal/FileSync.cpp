#include "file-storage/internal/FileSync.h"

#include <QFile>
#include <QObject>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>

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

bool copyFile(QString const& source, QString const& target, QString& error) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        error = QObject::tr("Cannot open %1 for input: %2").arg(source, in.errorString());
        return false;
    }
    // A save file would replace what stands at target; a copy never does.
    if (QFile::exists(target)) {
        error = QObject::tr("Cannot create %1 for output: %2")
                    .arg(target, QObject::tr("a file of that name exists"));
        return false;
    }
    QSaveFile out(target);
    // Unbuffered: the blocks are large, and a write that fails says so at once.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = QObject::tr("Cannot create %1 for output: %2").arg(target, out.errorString());
        return false;
    }
    // Before any data, so that no copy is readable by more than the original; a file system
    // without permissions keeps its own.
    out.setPermissions(in.permissions());
    auto const writeFailed = [&](QString const& why) {
        error = QObject::tr("Cannot write %1: %2").arg(target, why);
        out.cancelWriting();
        return false;
    };
    qint64 constexpr blockSize = 64 * 1024;
    while (!in.atEnd()) {
        QByteArray const block = in.read(blockSize);
        if (block.isEmpty()) {
            error = QObject::tr("Cannot read %1: %2").arg(source, in.errorString());
            out.cancelWriting();
            return false;
        }
        qint64 const written = out.write(block);
        if (written != block.size()) {
            // A write that stops part-way (a full disk) gives no cause; writing the rest does.
            if (written >= 0) {
                out.write(block.mid(written));
            }
            return writeFailed(out.errorString());
        }
    }
    // The save file syncs before it names the copy too, but it ignores a failure.
    if (!syncFile(out)) {
        int const syncError = errno;
        return writeFailed(out.error() != QFileDevice::NoError ? out.errorString()
                                                               : qt_error_string(syncError));
    }
    if (!out.commit()) {
        error = QObject::tr("Cannot write %1: %2").arg(target, out.errorString());
        return false;
    }
    return true;
}

bool renameFile(QString const& from, QString const& to, QString& error) {
    if (QFile::exists(to)) {
        error = QObject::tr("Destination file exists");
        return false;
    }
#if defined(Q_OS_WIN)
    bool const renamed = _wrename(reinterpret_cast<wchar_t const*>(from.utf16()),
                                  reinterpret_cast<wchar_t const*>(to.utf16())) == 0;
#else
    bool const renamed =
        std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
    if (!renamed) {
        error = qt_error_string(errno);
    }
    return renamed;
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
