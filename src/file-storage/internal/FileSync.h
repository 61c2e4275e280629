#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// The platform layer: every file operation of the budget file's and the exchange-rates file's
// loads and stores goes through here, and nowhere else asks the operating system for anything.
// Each operation reports why it failed in the system's words, so that the stores read as their
// steps and another desktop system has this one place to change.
//
// Durability: an operation that writes (copyFile, replaceFile, OutputFile::sync,
// syncDirectory) has put its data on the disk, not only in the system's cache, when it
// succeeds.
namespace zel::file_storage::internal {

// Why a file operation failed, in the system's words; nothing when it succeeded.
using Failure = std::optional<QString>;

// ---- What stands at a path -----------------------------------------------------------------

// The file that path finally names: path itself when it is no symbolic link, otherwise the
// end of its chain of links (a relative link counts from the link's own folder). The end need
// not exist. Fails for a chain that loops or runs too long.
Failure resolveLinks(QString const& path, QString& target);

enum class FileKind { absent, regular, directory, device, fifo, socket, other };

// What stands at path, following symbolic links (a link to a regular file is regular).
Failure kindOf(QString const& path, FileKind& kind);

// "%1 is a directory, not a regular file." with path for %1, for a kind other than absent and
// regular.
QString notARegularFile(QString const& path, FileKind kind);

// Opens the regular file at path for reading with the given mode. Fails, without opening, for
// anything that is not a regular file: reading a named pipe or a device could wait forever or
// never end.
Failure openForReading(QFile& file, QIODevice::OpenMode mode);

// ---- Writing ---------------------------------------------------------------------------------

// A file written in place: opening truncates it (or creates it), so that it keeps its links,
// its permissions and its owner. Nothing is buffered here; close() without sync() promises
// nothing about the disk. The destructor closes an open file.
class OutputFile {
public:
    explicit OutputFile(QString path);
    OutputFile(OutputFile const&) = delete;
    OutputFile& operator=(OutputFile const&) = delete;
    ~OutputFile();

    QString const& path() const { return path_; }

    Failure open();
    // Makes the file, which must not exist yet: fails for anything at path, a symbolic link
    // included, so that nothing is written where another user's link points.
    Failure create();
    // Writes all of bytes, or fails.
    Failure write(QByteArray const& bytes);
    // Puts what was written on the disk.
    Failure sync();
    Failure close();

private:
    QString path_;
    QFile file_;
};

// Copies the regular file at source to a new file at target, with the source's permissions.
// target names a complete copy on the disk or nothing: the copy is written under another name
// (none, where the platform has unnamed files), synced through the handle that wrote it, and
// only then named target. Fails when a file already stands at target. Each block read from
// source is shown to onBlock, if given, in order: one read serves the copy and whoever needs the
// bytes too.
Failure copyFile(QString const& source, QString const& target,
                 std::function<void(QByteArray const& block)> const& onBlock = {});

// Gives the file at from the name to in one step of the file system. Never replaces a file at
// to, and never falls back to copying (which removes the original before the copy is on the
// disk).
Failure renameFile(QString const& from, QString const& to);

// Replaces the file at path by one holding bytes, in one step: whatever fails, and whenever the
// process dies, path names the previous file or the new one complete, never a part of either.
// A reader never sees a partial file either. The folder's entry is synced as well. Fails,
// touching nothing, when something other than a regular file stands at path.
Failure replaceFile(QString const& path, QByteArray const& bytes);

Failure removeFile(QString const& path);

// Makes the renames, creations and removals of entries in the folder at path durable. Where a
// file system cannot sync a folder at all (some network and FUSE file systems), the whole file
// system that holds it is synced instead (on Linux; elsewhere the whole system): slower, but
// the entries are on the disk all the same. Fails when the folder cannot be opened.
Failure syncDirectory(QString const& path);

// Makes the folder at path and any missing parents, each made durable in its parent.
Failure makeDirectories(QString const& path);

// ---- Locks -----------------------------------------------------------------------------------

// An advisory lock, held through a lock file, that serialises the processes and threads that
// use it: shared holders exclude an exclusive one, and an exclusive holder excludes everyone.
// The system releases the lock when its holder ends, however it ends, so a killed holder never
// blocks anyone. The lock file is removed by the last holder to let go; one left by a killed
// holder is reused and then removed by the next one.
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
        refused,     // the lock file is there but cannot be used: not a regular file, another
                     // user's that cannot be opened, or a failure of the system
    };

    FileLock() = default;
    FileLock(FileLock const&) = delete;
    FileLock& operator=(FileLock const&) = delete;
    // Releases the lock if held.
    ~FileLock();

    // Waits up to wait for the lock at lockPath. On unavailable and refused, why says what
    // failed.
    Outcome acquire(QString const& lockPath, Mode mode, std::chrono::milliseconds wait,
                    QString& why);
    void release();

private:
    int handle_ = -1;
    Mode mode_ = Mode::shared;
    QString path_;
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
