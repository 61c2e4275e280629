#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <chrono>
#include <functional>
#include <utility>

// The platform layer: every file operation of the budget file's and the exchange-rates file's
// loads and stores goes through here, and nowhere else asks the operating system for anything.
// Each operation reports why it failed in the system's words, so that the stores read as their
// steps and another desktop system has one place to change: the system calls themselves live in
// one source file per system.
//
// Durability: an operation that writes (File::sync, replaceFile, Folder::sync) has put its data
// on the disk, not only in the system's cache, when it succeeds; a new name is on the disk once
// its folder is synced.
//
// Other users: a folder is opened once and every name in it is then made, opened, renamed and
// removed through that open folder, never through a link at the name, so that nothing is checked
// by one name and then used by another that someone has since put there. A link is followed only
// where the system itself would follow it: in a folder that everyone may write to and only
// owners may remove from (/tmp), only a link of the user's own or of the folder's owner.
namespace zel::file_storage::internal {

// What a file operation came to: done, or failed, with why in the system's words. It cannot
// be dropped unread; where a failure changes nothing, a (void) cast says so.
class [[nodiscard]] Result {
public:
    // Done.
    Result() = default;
    static Result done() { return {}; }
    // Failed, for why.
    Result(QString why) : why_(std::move(why)), failed_(true) {}

    bool ok() const { return !failed_; }
    // Why it failed; empty when it did not.
    QString const& why() const { return why_; }

private:
    QString why_;
    bool failed_ = false;
};

// ---- What stands at a name -----------------------------------------------------------------

enum class FileKind { absent, regular, directory, device, fifo, socket, link, other };

// What stands at a name, a link not followed.
struct FileStatus {
    FileKind kind = FileKind::absent;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    uint owner = 0;
    uint group = 0;
    uint mode = 0; // the permission bits

    bool sameFileAs(FileStatus const& other) const {
        return device == other.device && inode == other.inode;
    }
};

// "%1 is a directory, not a regular file." with path for %1, for a kind other than absent and
// regular.
QString notARegularFile(QString const& path, FileKind kind);

// The name of the user with the given identifier, or the number where it has none.
QString userName(uint user);

// The identifier of the user this process acts as.
uint currentUser();

// Whether a hidden file of the library's beside a budget file (its lock file, the marker of a
// store under way, the record of the last store), owned by owner, may be trusted: only when this
// process's user or the owner of the budget file described by budget (when there is one) made
// it. Anyone else's could say anything, and keep the budget from being loaded or stored.
bool isTrustedOwner(uint owner, FileStatus const& budget);

// "%1 belongs to %2, who owns neither the budget file nor this process, so it is not trusted:
// remove it." for the hidden file at path, of owner, that isTrustedOwner refuses.
QString notTrusted(QString const& path, uint owner);

// What stands at path, following symbolic links as the system does (a link to a regular file is
// regular).
Result kindOf(QString const& path, FileKind& kind);

// Opens the regular file at path for reading with the given mode, following links as the system
// does. Fails for anything that is not a regular file, without waiting on it: reading a named
// pipe or a device could wait forever or never end.
Result openForReading(QFile& file, QIODevice::OpenMode mode);

// ---- Folders ---------------------------------------------------------------------------------

// A folder held open. Closes it when destroyed.
class Folder {
public:
    Folder() = default;
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(Folder const&) = delete;
    Folder& operator=(Folder const&) = delete;
    ~Folder();

    // Opens the folder at path, every link in path followed by the system's own rules.
    Result open(QString const& path);
    // The folder's path, as the system finds it once its links are followed.
    QString const& path() const { return path_; }
    QString pathOf(QString const& name) const;
    int handle() const { return handle_; }

    // What stands at name, a link not followed.
    Result inspect(QString const& name, FileStatus& status) const;
    // Whether the entry described by entry, a link or a file, may be used in this folder: in a
    // folder that everyone may write to and only owners may remove from (/tmp), only an entry of
    // the user's own or of the folder's owner, as the system itself follows links there and
    // opens files to write (Linux's protected_symlinks and protected_regular); elsewhere any.
    bool mayUse(FileStatus const& entry) const;
    // Where the link at name points, as it is written in the link.
    Result readLink(QString const& name, QString& text) const;
    // Removes the entry at name; a link is removed, never followed.
    Result remove(QString const& name) const;
    // Gives the entry at from the name to, in one step; never replaces anything at to.
    Result rename(QString const& from, QString const& to) const;
    // Gives the entry at from the name to, in one step, in place of what stands at to.
    Result replace(QString const& from, QString const& to) const;
    // Makes the renames, creations and removals of entries in this folder durable. Where a file
    // system cannot sync a folder at all (some network and FUSE file systems), the whole file
    // system is synced instead (on Linux; elsewhere the whole system): slower, but the entries
    // are on the disk all the same.
    Result sync() const;

private:
    int handle_ = -1;
    QString path_;
};

// Opens the folder that holds the file path names, following a symbolic link at path to its end
// (a relative link counts from the link's own folder), and gives that folder and the file's name
// in it. The end need not exist. Fails for a chain that loops or runs too long, and for a link
// that the system would not follow.
Result locate(QString const& path, Folder& folder, QString& name);

// Makes the renames, creations and removals of entries in the folder at path durable; fails when
// the folder cannot be opened.
Result syncDirectory(QString const& path);

// ---- Files -----------------------------------------------------------------------------------

// A regular file opened through its folder. Nothing is buffered here; close() without sync()
// promises nothing about the disk. The destructor closes an open file, and forgets one made
// without a name.
class File {
public:
    enum class Access { read, write };

    File() = default;
    File(File const&) = delete;
    File& operator=(File const&) = delete;
    ~File();

    QString const& path() const { return path_; }
    int handle() const { return handle_; }

    // Opens the regular file at name; a link there is refused, and so is anything else that is
    // not a regular file, without waiting on it.
    Result open(Folder const& folder, QString const& name, Access access);
    // Makes a new file at name with the given permissions (less the process's mask), open for
    // writing; fails for anything at name, a link included.
    Result create(Folder const& folder, QString const& name, uint mode);
    // Makes a file, open for reading and writing, that has no name in folder yet (or only a
    // hidden one, where the system has no unnamed files) and is to be named name, with the
    // permissions mode (less the process's mask).
    Result createUnnamed(Folder const& folder, QString const& name, uint mode);
    // Gives a file made unnamed its name, after the data has been synced; fails when anything
    // stands at the name. With replace, the file takes the place of the file at the name instead,
    // in one step.
    Result name(bool replace = false);

    Result status(FileStatus& status) const;
    // Takes the owner and group of the file described by like, where the system allows it, and
    // its permissions; a group that cannot be taken takes the group's permissions away. Where
    // the file system has no owners or permissions, the file keeps what it was made with.
    void adopt(FileStatus const& like);
    // Gives the file the permissions mode, where the file system has permissions.
    void setMode(uint mode);
    // Reads the next block of the file into block; an empty block at the end.
    Result read(QByteArray& block);
    // Starts reading and writing again at the beginning.
    Result rewind();
    // Cuts the file to nothing, and writes from its beginning.
    Result truncate();
    // Writes all of bytes, or fails.
    Result write(QByteArray const& bytes);
    // Puts what was written on the disk.
    Result sync();
    Result close();

private:
    // Notes the file's folder and name, and asks the fault seam about opening it.
    Result begin(Folder const& folder, QString const& name);

    int handle_ = -1;
    QString path_;
    Folder const* folder_ = nullptr;
    QString name_;
    QString hiddenName_; // the hidden name of a file made without a name, until it is named
};

// Copies the rest of the open file source into a new file at name in folder, with the owner,
// group and permissions of the file described by like. name names a complete copy on the disk
// or nothing: the copy is written without a name, synced, and only then named. Fails when
// anything stands at name. Each block read from source is shown to onBlock, if given, in
// order: one read serves the copy and whoever needs the bytes too.
Result copyFile(File& source, Folder const& folder, QString const& name, FileStatus const& like,
                std::function<void(QByteArray const& block)> const& onBlock = {});

// Writes the rest of the open file source into target from its beginning, cut to what it gets,
// and syncs it: the file keeps its identity, links, owner and permissions.
Result copyInto(File& source, File& target);

// Replaces the file at path (the file at the end of a link there) by one holding bytes, in one
// step: whatever fails, and whenever the process dies, path names the previous file or the new
// one complete, never a part of either. A reader never sees a partial file either. The folder's
// entry is synced as well. The new file keeps the previous file's permissions, or takes the
// usual ones of a new file, but none beyond permissions. Fails, touching nothing, when
// something other than a regular file stands at path.
Result replaceFile(QString const& path, QByteArray const& bytes, uint permissions = 07777);

Result removeFile(QString const& path);

// Makes the folder at path and any missing parents, each made durable in its parent.
Result makeDirectories(QString const& path);

// ---- Locks -----------------------------------------------------------------------------------

// An advisory lock, held through a lock file, that serialises the processes and threads that
// use it: shared holders exclude an exclusive one, and an exclusive holder excludes everyone.
// The system releases the lock when its holder ends, however it ends, so a killed holder never
// blocks anyone. The lock file is removed by the last holder to let go; one left by a killed
// holder is reused and then removed by the next one. A lock file is never opened through a
// link, its permissions are those it was made with, and one that neither this process's user
// nor the budget file's owner made is refused (isTrustedOwner): another user's lock file, which
// she could remove and make again at will, would let two holders in at once.
//
// Covers only those that take the lock: a program that writes the file without it is not held
// back, and a file system without advisory locks holds back nobody (acquire says so).
class FileLock {
public:
    enum class Mode { shared, exclusive };
    enum class Outcome {
        acquired,
        busy,        // others held it for the whole of the wait
        unavailable, // no lock can be had here: the lock file cannot be made (so nobody holds
                     // one), or the file system has no locks
        refused,     // the lock file is there but cannot be used: not a regular file, a link,
                     // another user's that cannot be opened, or a failure of the system
    };

    FileLock() = default;
    FileLock(FileLock const&) = delete;
    FileLock& operator=(FileLock const&) = delete;
    // Releases the lock if held.
    ~FileLock();

    // Waits up to wait for the lock at lockPath of the budget file described by budget (absent
    // where there is none yet); a lock file made here gets that file's owner and group where
    // the system allows it, and its read and write permissions, or the owner's alone where there
    // is no budget file. On unavailable and refused, why says what failed, naming the lock file;
    // on busy, it names the lock file's owner where that is another user.
    Outcome acquire(QString const& lockPath, Mode mode, std::chrono::milliseconds wait,
                    QString& why, FileStatus const& budget = FileStatus{});
    // Whether the lock, if held, is still held through the file at the lock's name: where
    // others may remove files from the folder, the lock file may have been removed, or replaced
    // by another that others lock. True where no lock is held.
    bool stillNamed() const;
    // The path of the lock file, once acquire was called.
    QString path() const;
    void release();

private:
    int handle_ = -1;
    Mode mode_ = Mode::shared;
    Folder folder_;
    QString name_;
};

// ---- Fault seam ------------------------------------------------------------------------------

// The steps of the operations above, by which a test names the call to break.
enum class FileStep {
    resolve,        // path
    inspect,        // path
    open,           // path (reading, writing or creating)
    write,          // path, once per block
    sync,           // path
    close,          // path
    rename,         // path to other; a copy's naming has an empty path
    remove,         // path
    syncDirectory,  // path
    makeDirectory,  // path
    lock,           // path of the lock file, before it is opened
    lockOpened,     // path of the lock file, open and not yet locked
    syncFileSystem, // path of a folder whose whole file system is synced, where the folder
                    // itself cannot be
};

char const* stepName(FileStep step);

// What a hook returns to make a sync step (sync, syncDirectory, syncFileSystem) report success
// without running, as a system that ignores the call would; other steps run as usual.
int constexpr skipStep = -1;

// Called before every step with its paths; a positive errno makes the step fail with that
// error, as if the system had refused it, without running it; skipStep makes it succeed without
// running a sync. For tests only: set it while no other thread uses this layer. An empty hook (the
// default) lets every step run.
using FileStepHook = std::function<int(FileStep step, QString const& path, QString const& other)>;
void setFileStepHook(FileStepHook hook);

} // namespace zel::file_storage::internal
