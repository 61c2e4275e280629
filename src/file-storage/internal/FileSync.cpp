#include "file-storage/internal/FileSync.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#if defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zel::file_storage::internal {

namespace {

FileStepHook& stepHook() {
    static FileStepHook hook;
    return hook;
}

// What the test seam decides for this step: 0 to run it, skipStep, or the errno to fail it with.
int verdict(FileStep step, QString const& path, QString const& other = QString()) {
    auto const& hook = stepHook();
    return hook ? hook(step, path, other) : 0;
}

// The failure of an errno that the test seam chose, with errno set as the system would set it;
// nothing for a verdict that is no errno.
Failure failureOf(int verdict) {
    if (verdict <= 0) {
        return std::nullopt;
    }
    errno = verdict;
    return qt_error_string(verdict);
}

// The failure that the test seam injects into this step, if any.
Failure injected(FileStep step, QString const& path, QString const& other = QString()) {
    return failureOf(verdict(step, path, other));
}

// Why the last call of the C library failed.
QString systemError() {
    return qt_error_string(errno);
}

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

// Flushes Qt's buffer of file, if any, and the system's cache to the disk.
Failure syncDevice(QFileDevice& file) {
    int const decided = verdict(FileStep::sync, file.fileName());
    if (decided == skipStep) {
        return std::nullopt;
    }
    if (auto failure = failureOf(decided)) {
        return failure;
    }
    // A write that stops part-way (a full disk) leaves Qt with the error text of some earlier
    // call; a second flush starts where the first stopped and fails with the real cause.
    if (!file.flush()) {
        file.flush();
        return file.errorString();
    }
    if (!syncHandle(file.handle())) {
        return systemError();
    }
    return std::nullopt;
}

// Writes all of bytes to file in blocks, each a step of its own, so that a test can stop the
// write part-way.
Failure writeBlocks(QFileDevice& file, QByteArray const& bytes) {
    qsizetype constexpr blockSize = qsizetype{1} << 20;
    for (qsizetype at = 0; at < bytes.size(); at += blockSize) {
        if (auto failure = injected(FileStep::write, file.fileName())) {
            return failure;
        }
        qsizetype const size = std::min(blockSize, bytes.size() - at);
        qint64 const written = file.write(bytes.constData() + at, size);
        if (written != size) {
            // A write that stops part-way (a full disk) gives no cause; writing the rest does.
            if (written >= 0) {
                file.write(bytes.constData() + at + written, size - written);
            }
            return file.errorString();
        }
    }
    return std::nullopt;
}

// The most symbolic links followed in a row, as many as Linux follows before it gives up.
int constexpr maximumLinks = 40;

#if !defined(Q_OS_WIN)
// Errors with which a file system says that it cannot sync a folder at all.
bool cannotSyncDirectories(int error) {
    return error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS;
}

// Puts everything of the file system that holds the open folder fd on the disk, the folder's
// entries included: the strongest call left where the folder itself cannot be synced. Returns
// 0 or the errno of the failure.
int syncFileSystem(int fd, QString const& path) {
    int const decided = verdict(FileStep::syncFileSystem, path);
    if (decided != 0) {
        return decided == skipStep ? 0 : decided;
    }
#if defined(Q_OS_LINUX)
    return ::syncfs(fd) == 0 ? 0 : errno;
#else
    // Elsewhere only the whole system can be asked, and sync reports nothing.
    (void)fd;
    ::sync();
    return 0;
#endif
}
#endif

} // namespace

// ---- What stands at a path -----------------------------------------------------------------

namespace {

// The folder at path as the system finds it, every link in it followed and every ".." taken
// after the link before it (which cutting the text at ".." gets wrong behind a linked folder);
// the path unchanged when the folder does not exist.
QString systemFolder(QString const& path) {
#if defined(Q_OS_WIN)
    QString const canonical = QFileInfo(path).canonicalFilePath();
#else
    char* const resolved = ::realpath(QFile::encodeName(path).constData(), nullptr);
    QString const canonical = resolved != nullptr ? QFile::decodeName(resolved) : QString();
    std::free(resolved);
#endif
    return canonical.isEmpty() ? path : canonical;
}

// Where the link at path points, as it is written in the link.
QString linkText(QString const& path) {
#if defined(Q_OS_WIN)
    return QFileInfo(path).symLinkTarget();
#else
    QByteArray buffer(4096, Qt::Uninitialized);
    auto const size = ::readlink(QFile::encodeName(path).constData(), buffer.data(),
                                 static_cast<std::size_t>(buffer.size()));
    return size < 0 ? QString() : QFile::decodeName(buffer.left(size));
#endif
}

// path split at its last slash: the folder, and the name in it.
std::pair<QString, QString> split(QString const& path) {
    auto const slash = path.lastIndexOf(QLatin1Char('/'));
    return {slash <= 0 ? QStringLiteral("/") : path.left(slash), path.mid(slash + 1)};
}

} // namespace

Failure resolveLinks(QString const& path, QString& target) {
    if (auto failure = injected(FileStep::resolve, path)) {
        return failure;
    }
    QString current = QFileInfo(path).absoluteFilePath();
    for (int links = 0; links <= maximumLinks; ++links) {
        auto const [folder, name] = split(current);
        QString const inFolder = systemFolder(folder) + QLatin1Char('/') + name;
        if (!QFileInfo(inFolder).isSymLink()) {
            target = inFolder;
            return std::nullopt;
        }
        QString const text = linkText(inFolder);
        if (text.isEmpty()) {
            return QObject::tr("The symbolic link %1 cannot be read.").arg(inFolder);
        }
        current =
            QDir::isAbsolutePath(text) ? text : split(inFolder).first + QLatin1Char('/') + text;
    }
    return qt_error_string(ELOOP);
}

Failure kindOf(QString const& path, FileKind& kind) {
    if (auto failure = injected(FileStep::inspect, path)) {
        return failure;
    }
#if defined(Q_OS_WIN)
    QFileInfo const info(path);
    kind = !info.exists()  ? FileKind::absent
           : info.isFile() ? FileKind::regular
           : info.isDir()  ? FileKind::directory
                           : FileKind::other;
#else
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            kind = FileKind::absent;
            return std::nullopt;
        }
        return systemError();
    }
    auto const mode = status.st_mode;
    kind = S_ISREG(mode)                    ? FileKind::regular
           : S_ISDIR(mode)                  ? FileKind::directory
           : S_ISCHR(mode) || S_ISBLK(mode) ? FileKind::device
           : S_ISFIFO(mode)                 ? FileKind::fifo
           : S_ISSOCK(mode)                 ? FileKind::socket
                                            : FileKind::other;
#endif
    return std::nullopt;
}

QString notARegularFile(QString const& path, FileKind kind) {
    QString const what = kind == FileKind::directory ? QObject::tr("directory")
                         : kind == FileKind::device  ? QObject::tr("device")
                         : kind == FileKind::fifo    ? QObject::tr("named pipe")
                         : kind == FileKind::socket  ? QObject::tr("socket")
                                                     : QObject::tr("special file");
    return QObject::tr("%1 is a %2, not a regular file.").arg(path, what);
}

Failure openForReading(QFile& file, QIODevice::OpenMode mode) {
    auto kind = FileKind::absent;
    if (auto failure = kindOf(file.fileName(), kind)) {
        return failure;
    }
    if (kind != FileKind::absent && kind != FileKind::regular) {
        return notARegularFile(file.fileName(), kind);
    }
    if (auto failure = injected(FileStep::open, file.fileName())) {
        return failure;
    }
    if (!file.open(mode)) {
        return file.errorString();
    }
    return std::nullopt;
}

// ---- Writing ---------------------------------------------------------------------------------

OutputFile::OutputFile(QString path) : path_(std::move(path)), file_(path_) {}

OutputFile::~OutputFile() = default;

Failure OutputFile::open() {
    if (auto failure = injected(FileStep::open, path_)) {
        return failure;
    }
    // Unbuffered: the document is written in large blocks, and a write that fails says so at
    // once rather than on some later flush.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return file_.errorString();
    }
    return std::nullopt;
}

Failure OutputFile::create() {
    if (auto failure = injected(FileStep::open, path_)) {
        return failure;
    }
    // NewOnly is O_CREAT with O_EXCL, which no symbolic link passes, dangling or not.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        return file_.errorString();
    }
    return std::nullopt;
}

Failure OutputFile::write(QByteArray const& bytes) {
    return writeBlocks(file_, bytes);
}

Failure OutputFile::sync() {
    return syncDevice(file_);
}

Failure OutputFile::close() {
    if (auto failure = injected(FileStep::close, path_)) {
        return failure;
    }
    file_.unsetError();
    file_.close();
    if (file_.error() != QFileDevice::NoError) {
        return file_.errorString();
    }
    return std::nullopt;
}

Failure copyFile(QString const& source, QString const& target,
                 std::function<void(QByteArray const& block)> const& onBlock) {
    QFile in(source);
    if (auto failure = injected(FileStep::open, source)) {
        return QObject::tr("Cannot open %1 for input: %2").arg(source, *failure);
    }
    if (!in.open(QIODevice::ReadOnly)) {
        return QObject::tr("Cannot open %1 for input: %2").arg(source, in.errorString());
    }
    // A save file would replace what stands at target; a copy never does.
    auto kind = FileKind::absent;
    if (auto failure = kindOf(target, kind)) {
        return QObject::tr("Cannot create %1 for output: %2").arg(target, *failure);
    }
    if (kind != FileKind::absent) {
        return QObject::tr("Cannot create %1 for output: %2")
            .arg(target, QObject::tr("a file of that name exists"));
    }
    QSaveFile out(target);
    if (auto failure = injected(FileStep::open, target)) {
        return QObject::tr("Cannot create %1 for output: %2").arg(target, *failure);
    }
    // Unbuffered: the blocks are large, and a write that fails says so at once.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return QObject::tr("Cannot create %1 for output: %2").arg(target, out.errorString());
    }
    // Before any data, so that no copy is readable by more than the original; a file system
    // without permissions keeps its own.
    out.setPermissions(in.permissions());
    auto const writeFailed = [&](QString const& why) {
        out.cancelWriting();
        return QObject::tr("Cannot write %1: %2").arg(target, why);
    };
    qint64 constexpr blockSize = 1 << 20;
    while (!in.atEnd()) {
        QByteArray const block = in.read(blockSize);
        if (block.isEmpty()) {
            out.cancelWriting();
            return QObject::tr("Cannot read %1: %2").arg(source, in.errorString());
        }
        if (onBlock) {
            onBlock(block);
        }
        if (auto failure = writeBlocks(out, block)) {
            return writeFailed(*failure);
        }
    }
    // The save file syncs before it names the copy too, but it ignores a failure.
    if (auto failure = syncDevice(out)) {
        return writeFailed(*failure);
    }
    if (auto failure = injected(FileStep::rename, QString(), target)) {
        return writeFailed(*failure);
    }
    if (!out.commit()) {
        return QObject::tr("Cannot write %1: %2").arg(target, out.errorString());
    }
    return std::nullopt;
}

Failure renameFile(QString const& from, QString const& to) {
    if (auto failure = injected(FileStep::rename, from, to)) {
        return failure;
    }
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink()) {
        return QObject::tr("Destination file exists");
    }
#if defined(Q_OS_WIN)
    bool const renamed = _wrename(reinterpret_cast<wchar_t const*>(from.utf16()),
                                  reinterpret_cast<wchar_t const*>(to.utf16())) == 0;
#else
    bool const renamed =
        std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
    if (!renamed) {
        return systemError();
    }
    return std::nullopt;
}

Failure replaceFile(QString const& given, QByteArray const& bytes) {
    // The file at the end of a link is replaced, beside itself, and its folder synced.
    QString path;
    if (auto failure = resolveLinks(given, path)) {
        return failure;
    }
    // The rename would put a plain file in the place of a device or a named pipe.
    auto kind = FileKind::absent;
    if (auto failure = kindOf(path, kind)) {
        return failure;
    }
    if (kind != FileKind::absent && kind != FileKind::regular) {
        return notARegularFile(path, kind);
    }
    // A save file writes a new file beside the old one and renames it over the old one only
    // when it is complete.
    QSaveFile out(path);
    if (auto failure = injected(FileStep::open, path)) {
        return failure;
    }
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return out.errorString();
    }
    if (auto failure = writeBlocks(out, bytes)) {
        out.cancelWriting();
        return failure;
    }
    // The save file syncs before the rename too, but it ignores a failure.
    if (auto failure = syncDevice(out)) {
        out.cancelWriting();
        return failure;
    }
    if (auto failure = injected(FileStep::rename, QString(), path)) {
        out.cancelWriting();
        return failure;
    }
    if (!out.commit()) {
        return out.errorString();
    }
    return syncDirectory(QFileInfo(path).absolutePath());
}

Failure removeFile(QString const& path) {
    if (auto failure = injected(FileStep::remove, path)) {
        return failure;
    }
    QFile file(path);
    if (!file.remove()) {
        return file.errorString();
    }
    return std::nullopt;
}

Failure syncDirectory(QString const& path) {
#if defined(Q_OS_WIN)
    // NTFS journals folder entries itself; a folder cannot be flushed like a file.
    int const decided = verdict(FileStep::syncDirectory, path);
    return decided == skipStep ? std::nullopt : failureOf(decided);
#else
    int const decided = verdict(FileStep::syncDirectory, path);
    if (decided == skipStep) {
        return std::nullopt;
    }
    int const fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return systemError();
    }
    int error = decided;
    if (error == 0 && !syncHandle(fd)) {
        error = errno;
    }
    if (error != 0 && cannotSyncDirectories(error)) {
        // The folder's entries can only reach the disk with everything else on its file system.
        error = syncFileSystem(fd, path);
    }
    ::close(fd);
    return error == 0 ? std::nullopt : Failure(qt_error_string(error));
#endif
}

Failure makeDirectories(QString const& path) {
    // The folders to make, the deepest first.
    QStringList missing;
    for (QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
         !QFileInfo::exists(folder) && !QFileInfo(folder).isSymLink();) {
        missing.append(folder);
        QString const parent = QFileInfo(folder).absolutePath();
        if (parent == folder) {
            break;
        }
        folder = parent;
    }
    if (auto failure = injected(FileStep::makeDirectory, path)) {
        return failure;
    }
    if (!QDir().mkpath(path)) {
        return QObject::tr("The folder %1 cannot be made.").arg(path);
    }
    // Each new folder is an entry of its parent, which only a sync of the parent makes durable:
    // without it a power loss can take the folder, and what is later written into it, away.
    for (auto const& folder : missing) {
        if (auto failure = syncDirectory(QFileInfo(folder).absolutePath())) {
            return failure;
        }
    }
    return std::nullopt;
}

// ---- Locks -----------------------------------------------------------------------------------

namespace {

// Set, as errno, when the lock file is not a regular file.
int constexpr notRegular = EISDIR;

// The lock file's handle, or -1 with errno set.
int openLockFile(QString const& path) {
#if defined(Q_OS_WIN)
    // Readable and deletable by others, so that they can wait on it and the last one remove it.
    HANDLE const handle = CreateFileW(reinterpret_cast<wchar_t const*>(path.utf16()), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EACCES;
        return -1;
    }
    return _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
#else
    // Open for writing where allowed (network file systems lock exclusively only what is open
    // for writing), for reading otherwise (enough on a local one, and all that another user's
    // lock file allows). Never waiting to open: a named pipe there would wait for a writer.
    auto const name = QFile::encodeName(path);
    int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    }
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        errno = notRegular;
        return -1;
    }
    // Readable by every user who shares the folder, whatever the maker's umask, so that all of
    // them can take the lock.
    if (fd >= 0 && status.st_uid == ::geteuid() && (status.st_mode & 0444) != 0444) {
        ::fchmod(fd, (status.st_mode & 07777) | 0444);
    }
    return fd;
#endif
}

// Takes the lock without waiting; false with errno EWOULDBLOCK when others hold it.
bool tryLock(int fd, FileLock::Mode mode) {
#if defined(Q_OS_WIN)
    OVERLAPPED whole{};
    DWORD const flags = LOCKFILE_FAIL_IMMEDIATELY |
                        (mode == FileLock::Mode::exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), flags, 0, MAXDWORD, MAXDWORD,
                   &whole)) {
        return true;
    }
    errno = GetLastError() == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : ENOLCK;
    return false;
#else
    return ::flock(fd, (mode == FileLock::Mode::exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
#endif
}

// Whether path still names the file open at fd: a holder that let go may have removed it, and
// a lock on a file that no longer has the name locks out nobody.
bool namesFile(QString const& path, int fd) {
#if defined(Q_OS_WIN)
    BY_HANDLE_FILE_INFORMATION open{};
    BY_HANDLE_FILE_INFORMATION named{};
    HANDLE const current = CreateFileW(reinterpret_cast<wchar_t const*>(path.utf16()), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (current == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool const same =
        GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &open) &&
        GetFileInformationByHandle(current, &named) &&
        open.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
        open.nFileIndexHigh == named.nFileIndexHigh && open.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(current);
    return same;
#else
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(QFile::encodeName(path).constData(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
#endif
}

void unlock(int fd) {
#if defined(Q_OS_WIN)
    OVERLAPPED whole{};
    UnlockFileEx(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), 0, MAXDWORD, MAXDWORD, &whole);
#else
    ::flock(fd, LOCK_UN);
#endif
}

void closeLockFile(int fd) {
#if defined(Q_OS_WIN)
    _close(fd);
#else
    ::close(fd);
#endif
}

} // namespace

FileLock::~FileLock() {
    release();
}

FileLock::Outcome FileLock::acquire(QString const& lockPath, Mode mode,
                                    std::chrono::milliseconds wait, QString& why) {
    using namespace std::chrono_literals;
    release();
    auto const deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    int moved = 0;
    for (;;) {
        if (auto failure = injected(FileStep::lock, lockPath)) {
            why = *failure;
            return Outcome::unavailable;
        }
        int fd = openLockFile(lockPath);
        if (fd >= 0 && injected(FileStep::lockOpened, lockPath)) {
            closeLockFile(fd);
            fd = -1;
        }
        if (fd < 0) {
            int const error = errno;
            bool const exists = QFileInfo::exists(lockPath) || QFileInfo(lockPath).isSymLink();
            if (error == notRegular) {
                why = QObject::tr("The lock file %1 is not a regular file.").arg(lockPath);
                return Outcome::refused;
            }
            why = qt_error_string(error);
            // No lock file can be made here (a folder that cannot be written, a read-only file
            // system, a folder not made yet), so nobody else holds one either. One that exists
            // but cannot be opened is somebody's: going ahead would ignore their lock.
            bool const cannotMake =
                !exists && (error == EACCES || error == EPERM || error == EROFS || error == ENOENT);
            return cannotMake ? Outcome::unavailable : Outcome::refused;
        }
        if (tryLock(fd, mode)) {
            if (namesFile(lockPath, fd)) {
                handle_ = fd;
                mode_ = mode;
                path_ = lockPath;
                return Outcome::acquired;
            }
            // Locked a file that its last holder has just removed: lock the one there now. A
            // file system whose files never keep their identity cannot be locked this way.
            closeLockFile(fd);
            if (++moved > 3) {
                why = QObject::tr("The lock file %1 does not keep its identity.").arg(lockPath);
                return Outcome::unavailable;
            }
        } else {
            int const error = errno;
            closeLockFile(fd);
            if (error != EWOULDBLOCK && error != EAGAIN) {
                why = qt_error_string(error);
                // A file system without advisory locks says so in one of these.
                bool const noLocks = error == ENOLCK || error == ENOTSUP || error == EOPNOTSUPP ||
                                     error == ENOSYS || error == EINVAL || error == EBADF;
                return noLocks ? Outcome::unavailable : Outcome::refused;
            }
            moved = 0;
        }
        auto const now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return Outcome::busy;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min<std::chrono::milliseconds>(pause * 2, 10ms);
    }
}

void FileLock::release() {
    if (handle_ < 0) {
        return;
    }
    // Only a holder that has the lock to itself removes the file: another holder, or one about
    // to lock it, still needs the name. A shared holder lets go first (not every system widens
    // a lock in place) and then removes the file only if nobody else holds it.
    if (mode_ == Mode::shared) {
        unlock(handle_);
    }
    // Held alone, the lock file cannot be removed by anyone else, so the name still names it
    // unless a shared holder let go, someone else removed the file, and a new one took the
    // name; that one belongs to others.
    if ((mode_ == Mode::exclusive || tryLock(handle_, Mode::exclusive)) &&
        namesFile(path_, handle_)) {
        (void)removeFile(path_);
    }
    closeLockFile(handle_);
    handle_ = -1;
}

// ---- Fault seam ------------------------------------------------------------------------------

char const* stepName(FileStep step) {
    switch (step) {
    case FileStep::resolve:
        return "resolve";
    case FileStep::inspect:
        return "inspect";
    case FileStep::open:
        return "open";
    case FileStep::write:
        return "write";
    case FileStep::sync:
        return "sync";
    case FileStep::close:
        return "close";
    case FileStep::rename:
        return "rename";
    case FileStep::remove:
        return "remove";
    case FileStep::syncDirectory:
        return "sync-directory";
    case FileStep::makeDirectory:
        return "make-directory";
    case FileStep::lock:
        return "lock";
    case FileStep::lockOpened:
        return "lock-opened";
    case FileStep::syncFileSystem:
        return "sync-file-system";
    }
    return "unknown";
}

void setFileStepHook(FileStepHook hook) {
    stepHook() = std::move(hook);
}

} // namespace zel::file_storage::internal
