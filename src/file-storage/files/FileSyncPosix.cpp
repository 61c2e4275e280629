// The file operations on Linux and the other POSIX systems: every system call of the platform
// layer is made here.
#include "file-storage/files/FileSync.h"
#include "file-storage/files/FileSyncSystem.h"

#include <QObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zel::file_storage::internal {

namespace {

QByteArray encoded(QString const& name) {
    return QFile::encodeName(name);
}

// Why the last system call failed.
QString lastError() {
    return errorText(errno);
}

FileKind kindOfMode(mode_t mode) {
    return S_ISREG(mode)                    ? FileKind::regular
           : S_ISDIR(mode)                  ? FileKind::directory
           : S_ISLNK(mode)                  ? FileKind::link
           : S_ISCHR(mode) || S_ISBLK(mode) ? FileKind::device
           : S_ISFIFO(mode)                 ? FileKind::fifo
           : S_ISSOCK(mode)                 ? FileKind::socket
                                            : FileKind::other;
}

FileStatus statusOf(struct stat const& status) {
    return {kindOfMode(status.st_mode),
            static_cast<quint64>(status.st_dev),
            static_cast<quint64>(status.st_ino),
            static_cast<qint64>(status.st_size),
            static_cast<uint>(status.st_uid),
            static_cast<uint>(status.st_gid),
            static_cast<uint>(status.st_mode & 07777)};
}

bool syncHandle(int fd) {
#if defined(Q_OS_DARWIN)
    // fsync on macOS leaves the data in the drive's cache; only F_FULLFSYNC reaches the disk.
    return ::fcntl(fd, F_FULLFSYNC) == 0 || ::fsync(fd) == 0;
#else
    return ::fsync(fd) == 0;
#endif
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

// Opens name in the folder at dir with flags: never through a link at name, and never waiting
// on a named pipe. The handle blocks as usual once open.
int openAt(int dir, QString const& name, int flags, mode_t mode = 0) {
    int fd = -1;
    do {
        fd = ::openat(dir, encoded(name).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                      mode);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

// Gives the entry at from the name to, in one step, never replacing anything at to. Returns 0
// or the errno of the failure.
int renameNoReplace(int dir, QByteArray const& from, QByteArray const& to) {
#if defined(Q_OS_LINUX)
    if (::renameat2(dir, from.constData(), dir, to.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return errno;
    }
#endif
    // A second name, then the first one removed: no moment without the file, none in which to
    // holds anything but the file.
    if (::linkat(dir, from.constData(), dir, to.constData(), 0) != 0) {
        return errno;
    }
    return ::unlinkat(dir, from.constData(), 0) == 0 ? 0 : errno;
}

// Gives the file open at fd the owner, group and permissions of the file described by like.
// Only a privileged process can give a file to another user, and only to a group of its own;
// whatever cannot be taken, the permissions never reach further than the original's.
void adoptHandle(int fd, FileStatus const& like) {
    if (::fchown(fd, static_cast<uid_t>(like.owner), static_cast<gid_t>(like.group)) != 0) {
        (void)::fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(like.group));
    }
    struct stat now {};
    uint mode = like.mode & 0777;
    if (::fstat(fd, &now) != 0 || now.st_gid != static_cast<gid_t>(like.group)) {
        mode &= ~uint{0070};
    }
    (void)::fchmod(fd, static_cast<mode_t>(mode));
}

#if defined(O_TMPFILE)
// Whether an open file with no name can be given one: through its entry under /proc.
bool canNameUnnamedFiles() {
    static bool const can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}
#endif

} // namespace

QString system::errorText(int error) {
    return qt_error_string(error);
}

QString userName(uint user) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(static_cast<uid_t>(user), &entry, buffer, sizeof buffer, &found) == 0 &&
        found != nullptr) {
        return QString::fromLocal8Bit(found->pw_name);
    }
    return QString::number(user);
}

uint currentUser() {
    return static_cast<uint>(::geteuid());
}

Result kindOf(QString const& path, FileKind& kind) {
    if (auto const failure = injected(FileStep::inspect, path); !failure.ok()) {
        return failure;
    }
    struct stat status {};
    if (::stat(encoded(path).constData(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            kind = FileKind::absent;
            return Result::done();
        }
        return lastError();
    }
    kind = kindOfMode(status.st_mode);
    return Result::done();
}

FileKind system::kindOfHandle(int handle) {
    struct stat status {};
    return ::fstat(handle, &status) == 0 ? kindOfMode(status.st_mode) : FileKind::other;
}

// ---- Folders ---------------------------------------------------------------------------------

Folder::~Folder() {
    if (handle_ >= 0) {
        ::close(handle_);
    }
}

Result Folder::open(QString const& path) {
    int fd = ::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#if defined(O_PATH)
    // A folder that may be entered but not listed can still hold the file; such a handle names
    // entries, though it cannot be synced.
    if (fd < 0 && errno == EACCES) {
        fd = ::open(encoded(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
#endif
    if (fd < 0) {
        return lastError();
    }
    if (handle_ >= 0) {
        ::close(handle_);
    }
    handle_ = fd;
    // The path of what was opened, as the system found it, for messages and for the links that
    // count from it.
    QByteArray opened(4096, Qt::Uninitialized);
    auto const size = ::readlink(("/proc/self/fd/" + QByteArray::number(fd)).constData(),
                                 opened.data(), static_cast<std::size_t>(opened.size()));
    if (size > 0 && opened.startsWith('/')) {
        path_ = QFile::decodeName(opened.left(size));
    } else {
        char* const resolved = ::realpath(encoded(path).constData(), nullptr);
        path_ = resolved != nullptr ? QFile::decodeName(resolved) : path;
        std::free(resolved);
    }
    return Result::done();
}

QString Folder::pathOf(QString const& name) const {
    return path_ == QLatin1String("/") ? path_ + name : path_ + QLatin1Char('/') + name;
}

Result Folder::inspect(QString const& name, FileStatus& status) const {
    if (auto const failure = injected(FileStep::inspect, pathOf(name)); !failure.ok()) {
        return failure;
    }
    struct stat found {};
    if (::fstatat(handle_, encoded(name).constData(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            status = FileStatus{};
            return Result::done();
        }
        return lastError();
    }
    status = statusOf(found);
    return Result::done();
}

bool Folder::mayUse(FileStatus const& entry) const {
    struct stat folder {};
    if (::fstat(handle_, &folder) != 0) {
        return false;
    }
    bool const shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || entry.owner == ::geteuid() || entry.owner == folder.st_uid;
}

Result Folder::readLink(QString const& name, QString& text) const {
    QByteArray buffer(4096, Qt::Uninitialized);
    auto const size = ::readlinkat(handle_, encoded(name).constData(), buffer.data(),
                                   static_cast<std::size_t>(buffer.size()));
    if (size < 0) {
        return lastError();
    }
    text = QFile::decodeName(buffer.left(size));
    return Result::done();
}

Result Folder::remove(QString const& name) const {
    if (auto const failure = injected(FileStep::remove, pathOf(name)); !failure.ok()) {
        return failure;
    }
    if (::unlinkat(handle_, encoded(name).constData(), 0) != 0) {
        return lastError();
    }
    return Result::done();
}

Result Folder::rename(QString const& from, QString const& to) const {
    if (auto const failure = injected(FileStep::rename, pathOf(from), pathOf(to)); !failure.ok()) {
        return failure;
    }
    if (int const error = renameNoReplace(handle_, encoded(from), encoded(to))) {
        return errorText(error);
    }
    return Result::done();
}

Result Folder::replace(QString const& from, QString const& to) const {
    if (auto const failure = injected(FileStep::rename, pathOf(from), pathOf(to)); !failure.ok()) {
        return failure;
    }
    if (::renameat(handle_, encoded(from).constData(), handle_, encoded(to).constData()) != 0) {
        return lastError();
    }
    return Result::done();
}

Result Folder::sync() const {
    int const decided = verdict(FileStep::syncDirectory, path_);
    if (decided == skipStep) {
        return Result::done();
    }
    int error = decided;
    if (error == 0 && !syncHandle(handle_)) {
        error = errno;
    }
    if (error != 0 && system::cannotSyncFolders(error)) {
        // The folder's entries can only reach the disk with everything else on its file system.
        error = syncFileSystem(handle_, path_);
    }
    return error == 0 ? Result::done() : Result(errorText(error));
}

// ---- Files -----------------------------------------------------------------------------------

File::~File() {
    if (handle_ >= 0) {
        ::close(handle_);
    }
    if (!hiddenName_.isEmpty()) {
        ::unlinkat(folder_->handle(), encoded(hiddenName_).constData(), 0);
    }
}

Result File::open(Folder const& folder, QString const& name, Access access) {
    if (auto const failure = begin(folder, name); !failure.ok()) {
        return failure;
    }
    int const fd = openAt(folder.handle(), name, access == Access::read ? O_RDONLY : O_WRONLY);
    if (fd < 0) {
        int const error = errno;
        FileStatus status;
        if (folder.inspect(name, status).ok() && status.kind == FileKind::link) {
            return notARegularFile(path_, FileKind::link);
        }
        return errorText(error);
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return notARegularFile(path_, kindOfMode(status.st_mode));
    }
    handle_ = fd;
    return Result::done();
}

Result File::create(Folder const& folder, QString const& name, uint mode) {
    if (auto const failure = begin(folder, name); !failure.ok()) {
        return failure;
    }
    // O_EXCL: no link passes, dangling or not, and nothing already there is used.
    int const fd =
        openAt(folder.handle(), name, O_WRONLY | O_CREAT | O_EXCL, static_cast<mode_t>(mode));
    if (fd < 0) {
        return lastError();
    }
    handle_ = fd;
    return Result::done();
}

Result File::createUnnamed(Folder const& folder, QString const& name, uint mode) {
    if (auto const failure = begin(folder, name); !failure.ok()) {
        return failure;
    }
#if defined(O_TMPFILE)
    if (canNameUnnamedFiles()) {
        int const fd = ::openat(folder.handle(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC,
                                static_cast<mode_t>(mode));
        if (fd >= 0) {
            handle_ = fd;
            return Result::done();
        }
        // Where the file system has no unnamed files, a hidden name serves.
        if (errno != EISDIR && errno != EOPNOTSUPP && errno != EINVAL && errno != ENOENT) {
            return lastError();
        }
    }
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString const hidden = system::hiddenNameFor(name, false);
        int const fd =
            openAt(folder.handle(), hidden, O_RDWR | O_CREAT | O_EXCL, static_cast<mode_t>(mode));
        if (fd >= 0) {
            handle_ = fd;
            hiddenName_ = hidden;
            return Result::done();
        }
        if (errno != EEXIST) {
            return lastError();
        }
    }
    return errorText(EEXIST);
}

Result File::name(bool replace) {
    if (auto const failure = injected(FileStep::rename, QString(), path_); !failure.ok()) {
        return failure;
    }
    int const dir = folder_->handle();
    QByteArray const target = encoded(name_);
    if (hiddenName_.isEmpty()) {
        // An unnamed file gets a name through its entry under /proc; to replace a file, it gets
        // a hidden one first and is renamed over it.
        QByteArray const entry = "/proc/self/fd/" + QByteArray::number(handle_);
        if (!replace) {
            if (::linkat(AT_FDCWD, entry.constData(), dir, target.constData(), AT_SYMLINK_FOLLOW) !=
                0) {
                return lastError();
            }
            return Result::done();
        }
        for (int attempt = 0; hiddenName_.isEmpty(); ++attempt) {
            QString const hidden = system::hiddenNameFor(name_, false);
            if (::linkat(AT_FDCWD, entry.constData(), dir, encoded(hidden).constData(),
                         AT_SYMLINK_FOLLOW) == 0) {
                hiddenName_ = hidden;
            } else if (errno != EEXIST || attempt >= 100) {
                return lastError();
            }
        }
    }
    QByteArray const hidden = encoded(hiddenName_);
    int const error =
        replace ? (::renameat(dir, hidden.constData(), dir, target.constData()) == 0 ? 0 : errno)
                : renameNoReplace(dir, hidden, target);
    if (error != 0) {
        return errorText(error);
    }
    hiddenName_.clear();
    return Result::done();
}

Result File::status(FileStatus& status) const {
    struct stat found {};
    if (::fstat(handle_, &found) != 0) {
        return lastError();
    }
    status = statusOf(found);
    return Result::done();
}

void File::adopt(FileStatus const& like) {
    adoptHandle(handle_, like);
}

void File::setMode(uint mode) {
    (void)::fchmod(handle_, static_cast<mode_t>(mode & 07777));
}

Result File::read(QByteArray& block) {
    block.resize(qsizetype{1} << 20);
    for (;;) {
        auto const size = ::read(handle_, block.data(), static_cast<std::size_t>(block.size()));
        if (size >= 0) {
            block.resize(size);
            return Result::done();
        }
        if (errno != EINTR) {
            block.clear();
            return lastError();
        }
    }
}

Result File::rewind() {
    if (::lseek(handle_, 0, SEEK_SET) != 0) {
        return lastError();
    }
    return Result::done();
}

Result File::truncate() {
    if (::ftruncate(handle_, 0) != 0) {
        return lastError();
    }
    return rewind();
}

Result system::writeAll(int handle, char const* data, qsizetype size) {
    for (qsizetype done = 0; done < size;) {
        auto const written = ::write(handle, data + done, static_cast<std::size_t>(size - done));
        if (written < 0 && errno != EINTR) {
            return lastError();
        }
        done += std::max<qsizetype>(written, 0);
    }
    return Result::done();
}

Result system::syncFile(int handle) {
    return syncHandle(handle) ? Result::done() : Result(lastError());
}

Result File::close() {
    if (auto const failure = injected(FileStep::close, path_); !failure.ok()) {
        return failure;
    }
    int const fd = std::exchange(handle_, -1);
    // The handle is gone whatever close says; retrying could close another thread's file.
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
        return lastError();
    }
    return Result::done();
}

// ---- Locks -----------------------------------------------------------------------------------

int system::openLockFile(Folder const& folder, QString const& name, FileStatus const& like,
                         LockFileError& error) {
    // Open for writing where allowed (network file systems lock exclusively only what is open
    // for writing), for reading otherwise (enough on a local one, and all that another user's
    // lock file allows).
    int fd = openAt(folder.handle(), name, O_RDWR);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd = openAt(folder.handle(), name, O_RDONLY);
    }
    if (fd < 0 && errno == ENOENT) {
        fd = openAt(folder.handle(), name, O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            error.raced = errno == EEXIST;
            error.cannotMake =
                errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOENT;
            error.why = lastError();
            return -1;
        }
        // A new lock file takes the budget file's owner and its permissions, whatever the
        // maker's mask: those who may read the budget may then lock it, and one left by a
        // privileged process killed while it held it stays the budget owner's to reuse.
        if (like.kind == FileKind::regular) {
            FileStatus lockLike = like;
            lockLike.mode &= 0666;
            adoptHandle(fd, lockLike);
        }
    }
    if (fd < 0) {
        error.why = lastError();
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        error.notRegular = true;
        return -1;
    }
    return fd;
}

system::Locking system::tryLock(int handle, FileLock::Mode mode, QString& why) {
    if (::flock(handle, (mode == FileLock::Mode::exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
        return Locking::locked;
    }
    int const error = errno;
    if (error == EWOULDBLOCK || error == EAGAIN) {
        return Locking::busy;
    }
    why = errorText(error);
    // A file system without advisory locks says so in one of these.
    bool const unsupported = error == ENOLCK || error == ENOTSUP || error == EOPNOTSUPP ||
                             error == ENOSYS || error == EINVAL || error == EBADF;
    return unsupported ? Locking::unsupported : Locking::failed;
}

bool system::namesFile(Folder const& folder, QString const& name, int handle) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(handle, &opened) == 0 &&
           ::fstatat(folder.handle(), encoded(name).constData(), &named, AT_SYMLINK_NOFOLLOW) ==
               0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

uint system::ownerOf(int handle) {
    struct stat status {};
    return ::fstat(handle, &status) == 0 ? static_cast<uint>(status.st_uid) : currentUser();
}

void system::unlock(int handle) {
    ::flock(handle, LOCK_UN);
}

void system::closeHandle(int handle) {
    ::close(handle);
}

} // namespace zel::file_storage::internal
