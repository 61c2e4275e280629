#include "file-storage/files/FileSync.h"

#include "file-storage/common/Log.h"
#include "file-storage/files/FileSyncSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

namespace zel::file_storage::internal {

namespace {

FileStepHook& stepHook() {
    static FileStepHook hook;
    return hook;
}

// The most symbolic links followed in a row, as many as Linux follows before it gives up.
int constexpr maximumLinks = 40;

// path split at its last slash: the folder, and the name in it.
std::pair<QString, QString> split(QString const& path) {
    auto const slash = path.lastIndexOf(QLatin1Char('/'));
    return {slash <= 0 ? QStringLiteral("/") : path.left(slash), path.mid(slash + 1)};
}

} // namespace

// ---- Fault seam --------------------------------------------------------------------------------

int system::verdict(FileStep step, QString const& path, QString const& other) {
    auto const& hook = stepHook();
    return hook ? hook(step, path, other) : 0;
}

Result system::failureOf(int verdict) {
    if (verdict <= 0) {
        return Result::done();
    }
    errno = verdict;
    return errnoText(verdict);
}

QString system::errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

Result system::injected(FileStep step, QString const& path, QString const& other) {
    return failureOf(verdict(step, path, other));
}

// ---- Alike on every system ---------------------------------------------------------------------

bool system::cannotSyncFolders(int error) {
    return error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS ||
           error == EBADF;
}

QString system::hiddenNameFor(QString const& name, bool namesIgnoreCase) {
    static char const letters[] = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QString hidden = QLatin1Char('.') + name + QLatin1Char('.');
    for (int i = 0; i < 8; ++i) {
        hidden +=
            QLatin1Char(letters[QRandomGenerator::system()->bounded(namesIgnoreCase ? 36 : 62)]);
    }
    return hidden;
}

// ---- What stands at a name ---------------------------------------------------------------------

QString notARegularFile(QString const& path, FileKind kind) {
    QString const what = kind == FileKind::directory ? QObject::tr("directory")
                         : kind == FileKind::device  ? QObject::tr("device")
                         : kind == FileKind::fifo    ? QObject::tr("named pipe")
                         : kind == FileKind::socket  ? QObject::tr("socket")
                         : kind == FileKind::link    ? QObject::tr("symbolic link")
                                                     : QObject::tr("special file");
    return QObject::tr("%1 is a %2, not a regular file.").arg(path, what);
}

bool isTrustedOwner(uint owner, FileStatus const& budget) {
    return owner == currentUser() || (budget.kind == FileKind::regular && owner == budget.owner);
}

QString notTrusted(QString const& path, uint owner) {
    return QObject::tr("%1 belongs to %2, who owns neither the budget file nor this process, so "
                       "it is not trusted: remove it.")
        .arg(path, userName(owner));
}

Result openForReading(QFile& file, QIODevice::OpenMode mode) {
    QString const path = file.fileName();
    // Looked at before it is opened: opening some devices does something.
    auto kind = FileKind::absent;
    if (auto const failure = kindOf(path, kind); !failure.ok()) {
        return failure;
    }
    if (kind != FileKind::absent && kind != FileKind::regular) {
        return notARegularFile(path, kind);
    }
    if (auto const failure = system::injected(FileStep::open, path); !failure.ok()) {
        return failure;
    }
    if (!file.open(mode)) {
        return file.errorString();
    }
    // And what was opened looked at again: something else may have taken the name since.
    kind = system::kindOfHandle(file.handle());
    if (kind != FileKind::regular) {
        file.close();
        return notARegularFile(path, kind);
    }
    return Result::done();
}

// ---- Folders -----------------------------------------------------------------------------------

Folder::Folder(Folder&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        // The folder held so far is closed as this goes.
        Folder const closing(std::move(*this));
        handle_ = std::exchange(other.handle_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

Result locate(QString const& path, Folder& folder, QString& name) {
    if (auto const failure = system::injected(FileStep::resolve, path); !failure.ok()) {
        return failure;
    }
    QString current = QFileInfo(path).absoluteFilePath();
    for (int links = 0; links <= maximumLinks; ++links) {
        auto const [folderPath, leaf] = split(current);
        Folder opened;
        if (auto const failure = opened.open(folderPath); !failure.ok()) {
            return failure;
        }
        FileStatus status;
        if (auto const failure = opened.inspect(leaf, status); !failure.ok()) {
            return failure;
        }
        if (status.kind != FileKind::link) {
            folder = std::move(opened);
            name = leaf;
            return Result::done();
        }
        // Another user's link in a folder that everyone writes to could send the store to any
        // file the user may write; the system refuses to follow such a link, and so does this.
        if (!opened.mayUse(status)) {
            return QObject::tr("The symbolic link %1 belongs to %2 in a folder that every user "
                               "may write to, so it is not followed.")
                .arg(opened.pathOf(leaf), userName(status.owner));
        }
        QString text;
        if (!opened.readLink(leaf, text).ok() || text.isEmpty()) {
            return QObject::tr("The symbolic link %1 cannot be read.").arg(opened.pathOf(leaf));
        }
        current = QDir::isAbsolutePath(text) ? text : opened.pathOf(text);
    }
    return system::errnoText(ELOOP);
}

Result syncDirectory(QString const& path) {
    Folder folder;
    if (auto const failure = folder.open(path); !failure.ok()) {
        return failure;
    }
    return folder.sync();
}

// ---- Files -------------------------------------------------------------------------------------

Result File::begin(Folder const& folder, QString const& name) {
    folder_ = &folder;
    name_ = name;
    path_ = folder.pathOf(name);
    return system::injected(FileStep::open, path_);
}

namespace {

// Reads the rest of source, block by block, into write, showing each block to onBlock first.
Result pass(File& source, std::function<Result(QByteArray const&)> const& write,
            std::function<void(QByteArray const& block)> const& onBlock) {
    QByteArray block;
    for (;;) {
        if (auto const failure = source.read(block); !failure.ok()) {
            return QObject::tr("Cannot read %1: %2").arg(source.path(), failure.why());
        }
        if (block.isEmpty()) {
            return Result::done();
        }
        if (onBlock) {
            onBlock(block);
        }
        if (auto const failure = write(block); !failure.ok()) {
            return failure;
        }
    }
}

} // namespace

Result File::write(QByteArray const& bytes) {
    // In blocks, each a step of its own, so that a test can stop the write part-way.
    qsizetype constexpr blockSize = qsizetype{1} << 20;
    for (qsizetype at = 0; at < bytes.size(); at += blockSize) {
        if (auto const failure = system::injected(FileStep::write, path_); !failure.ok()) {
            return failure;
        }
        auto const size = std::min(blockSize, bytes.size() - at);
        if (auto const failure = system::writeAll(handle_, bytes.constData() + at, size);
            !failure.ok()) {
            return failure;
        }
    }
    return Result::done();
}

Result File::sync() {
    int const decided = system::verdict(FileStep::sync, path_);
    if (decided == skipStep) {
        return Result::done();
    }
    if (auto const failure = system::failureOf(decided); !failure.ok()) {
        return failure;
    }
    return system::syncFile(handle_);
}

Result copyFile(File& source, Folder const& folder, QString const& name, FileStatus const& like,
                std::function<void(QByteArray const& block)> const& onBlock) {
    File copy;
    // Readable by its maker alone until it has the original's owner and permissions.
    if (auto const failure = copy.createUnnamed(folder, name, 0600); !failure.ok()) {
        return QObject::tr("Cannot create %1 for output: %2")
            .arg(folder.pathOf(name), failure.why());
    }
    copy.adopt(like);
    auto const writeFailed = [&](QString const& why) {
        return QObject::tr("Cannot write %1: %2").arg(copy.path(), why);
    };
    if (auto const failure = pass(
            source,
            [&](QByteArray const& block) {
                auto const notWritten = copy.write(block);
                return notWritten.ok() ? notWritten : Result(writeFailed(notWritten.why()));
            },
            onBlock);
        !failure.ok()) {
        return failure;
    }
    if (auto const failure = copy.sync(); !failure.ok()) {
        return writeFailed(failure.why());
    }
    if (auto const failure = copy.name(); !failure.ok()) {
        FileStatus there;
        bool const taken = folder.inspect(name, there).ok() && there.kind != FileKind::absent;
        return taken ? QObject::tr("Cannot create %1 for output: %2")
                           .arg(copy.path(), QObject::tr("a file of that name exists"))
                     : writeFailed(failure.why());
    }
    return copy.close();
}

Result copyInto(File& source, File& target) {
    if (auto const failure = target.truncate(); !failure.ok()) {
        return failure;
    }
    if (auto const failure =
            pass(source, [&](QByteArray const& block) { return target.write(block); }, {});
        !failure.ok()) {
        return failure;
    }
    return target.sync();
}

Result replaceFile(QString const& path, QByteArray const& bytes, uint permissions) {
    // The file at the end of a link is replaced, beside itself, and its folder synced.
    Folder folder;
    QString name;
    if (auto const failure = locate(path, folder, name); !failure.ok()) {
        return failure;
    }
    // The rename would put a plain file in the place of a device or a named pipe.
    FileStatus previous;
    if (auto const failure = folder.inspect(name, previous); !failure.ok()) {
        return failure;
    }
    if (previous.kind != FileKind::absent && previous.kind != FileKind::regular) {
        return notARegularFile(folder.pathOf(name), previous.kind);
    }
    bool const exists = previous.kind == FileKind::regular;
    // Written without a name beside the old file, and put in its place only when complete.
    File out;
    if (auto const failure =
            out.createUnnamed(folder, name, (exists ? previous.mode : 0666) & permissions);
        !failure.ok()) {
        return failure;
    }
    if (exists) {
        out.setMode(previous.mode & permissions);
    }
    Result failure = out.write(bytes);
    if (failure.ok()) {
        failure = out.sync();
    }
    if (failure.ok()) {
        failure = out.name(true);
    }
    if (failure.ok()) {
        failure = out.close();
    }
    if (failure.ok()) {
        failure = folder.sync();
    }
    return failure;
}

Result removeFile(QString const& path) {
    if (auto const failure = system::injected(FileStep::remove, path); !failure.ok()) {
        return failure;
    }
    QFile file(path);
    if (!file.remove()) {
        return file.errorString();
    }
    return Result::done();
}

Result makeDirectories(QString const& path) {
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
    if (auto const failure = system::injected(FileStep::makeDirectory, path); !failure.ok()) {
        return failure;
    }
    if (!QDir().mkpath(path)) {
        return QObject::tr("The folder %1 cannot be made.").arg(path);
    }
    // Each new folder is an entry of its parent, which only a sync of the parent makes durable:
    // without it a power loss can take the folder, and what is later written into it, away.
    for (auto const& folder : missing) {
        if (auto const failure = syncDirectory(QFileInfo(folder).absolutePath()); !failure.ok()) {
            return failure;
        }
    }
    return Result::done();
}

// ---- Locks -------------------------------------------------------------------------------------

namespace {

// Why the lock file at name in folder, which cannot be opened for why, cannot be used.
QString unusableLock(Folder const& folder, QString const& name, QString const& why) {
    FileStatus status;
    QString const path = folder.pathOf(name);
    if (!folder.inspect(name, status).ok() || status.kind == FileKind::absent) {
        return QObject::tr("The lock file %1 cannot be opened: %2").arg(path, why);
    }
    switch (status.kind) {
    case FileKind::regular:
        break;
    case FileKind::link:
        return QObject::tr("The lock file %1 is a symbolic link, which is never followed.")
            .arg(path);
    default:
        return QObject::tr("The lock file %1 is not a regular file.").arg(path);
    }
    if (status.owner != currentUser()) {
        return QObject::tr("The lock file %1, which belongs to %2, cannot be opened: %3")
            .arg(path, userName(status.owner), why);
    }
    return QObject::tr("The lock file %1 cannot be opened: %2").arg(path, why);
}

// What the lock file at lockPath, name in folder, that cannot be opened for the reason error
// gives, comes to.
FileLock::Outcome unopened(Folder const& folder, QString const& name, QString const& lockPath,
                           system::LockFileError const& error, QString& why) {
    if (error.notRegular) {
        why = QObject::tr("The lock file %1 is not a regular file.").arg(lockPath);
        return FileLock::Outcome::refused;
    }
    // No lock file can be made where there is none (a folder that cannot be written, a read-only
    // file system), so nobody else holds one either. One that exists but cannot be opened is
    // somebody's: going ahead would ignore their lock.
    if (error.cannotMake) {
        why = error.why;
        return FileLock::Outcome::unavailable;
    }
    why = unusableLock(folder, name, error.why);
    return FileLock::Outcome::refused;
}

} // namespace

FileLock::~FileLock() {
    release();
}

FileLock::Outcome FileLock::acquire(QString const& lockPath, Mode mode,
                                    std::chrono::milliseconds wait, QString& why,
                                    FileStatus const& budget) {
    using namespace std::chrono_literals;
    release();
    auto const deadline = std::chrono::steady_clock::now() + wait;
    auto pause = std::chrono::milliseconds(1);
    int moved = 0;
    auto const [folderPath, name] = split(QFileInfo(lockPath).absoluteFilePath());
    if (auto const failure = folder_.open(folderPath); !failure.ok()) {
        // No folder, no lock file either; the operation that follows says why.
        why = failure.why();
        return Outcome::unavailable;
    }
    name_ = name;
    for (;;) {
        if (auto const failure = system::injected(FileStep::lock, lockPath); !failure.ok()) {
            why = failure.why();
            return Outcome::unavailable;
        }
        system::LockFileError error;
        int fd = system::openLockFile(folder_, name_, budget, error);
        if (fd >= 0 && !isTrustedOwner(system::ownerOf(fd), budget)) {
            why = notTrusted(lockPath, system::ownerOf(fd));
            system::closeHandle(fd);
            return Outcome::refused;
        }
        if (fd >= 0) {
            if (auto const failure = system::injected(FileStep::lockOpened, lockPath);
                !failure.ok()) {
                system::closeHandle(fd);
                fd = -1;
                error.why = failure.why();
            }
        }
        if (fd < 0) {
            if (error.raced && std::chrono::steady_clock::now() < deadline) {
                continue; // another holder has just made it: open theirs
            }
            return unopened(folder_, name_, lockPath, error, why);
        }
        QString notLocked;
        auto const locking = system::tryLock(fd, mode, notLocked);
        switch (locking) {
        case system::Locking::locked:
            if (system::namesFile(folder_, name_, fd)) {
                handle_ = fd;
                mode_ = mode;
                return Outcome::acquired;
            }
            // Locked a file that its last holder has just removed: lock the one there now. A
            // file system whose files never keep their identity cannot be locked this way.
            system::closeHandle(fd);
            if (++moved > 3) {
                why = QObject::tr("The lock file %1 does not keep its identity.").arg(lockPath);
                return Outcome::unavailable;
            }
            continue;
        case system::Locking::unsupported:
        case system::Locking::failed:
            system::closeHandle(fd);
            why = QObject::tr("The lock file %1 cannot be locked: %2").arg(lockPath, notLocked);
            return locking == system::Locking::unsupported ? Outcome::unavailable
                                                           : Outcome::refused;
        case system::Locking::busy:
            break;
        }
        uint const owner = system::ownerOf(fd);
        system::closeHandle(fd);
        moved = 0;
        auto const now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            // Whose lock file it is, where another user's.
            why =
                owner == currentUser()
                    ? QString()
                    : QObject::tr("The lock file %1 belongs to %2.").arg(lockPath, userName(owner));
            return Outcome::busy;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min<std::chrono::milliseconds>(pause * 2, 10ms);
    }
}

bool FileLock::stillNamed() const {
    return handle_ < 0 || system::namesFile(folder_, name_, handle_);
}

QString FileLock::path() const {
    return folder_.pathOf(name_);
}

void FileLock::release() {
    if (handle_ < 0) {
        return;
    }
    // Only a holder that has the lock to itself removes the file: another holder, or one about
    // to lock it, still needs the name. A shared holder lets go first (not every system widens
    // a lock in place) and then removes the file only if nobody else holds it.
    if (mode_ == Mode::shared) {
        system::unlock(handle_);
    }
    // Held alone, the lock file cannot be removed by anyone else, so the name still names it
    // unless a shared holder let go, someone else removed the file, and a new one took the
    // name; that one belongs to others.
    QString ignored;
    if ((mode_ == Mode::exclusive ||
         system::tryLock(handle_, Mode::exclusive, ignored) == system::Locking::locked) &&
        system::namesFile(folder_, name_, handle_)) {
        // Left behind, it holds nothing: the next holder reuses it and removes it. One that another
        // holder has removed meanwhile is no failure.
        if (auto const failure = folder_.remove(name_);
            !failure.ok() && system::namesFile(folder_, name_, handle_)) {
            ZEL_LOG_WARNING().noquote()
                << QStringLiteral("Failed to remove the lock file %1 due to %2.")
                       .arg(folder_.pathOf(name_), failure.why());
        }
    }
    system::closeHandle(handle_);
    handle_ = -1;
}

// ---- Fault seam --------------------------------------------------------------------------------

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
