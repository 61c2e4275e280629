#pragma once

#include "file-storage/files/FileSync.h"

// What the file operations share between their portable part and the one source file per
// system that makes the system calls. Nothing outside the platform layer includes this.
namespace zel::file_storage::internal::system {

// ---- The fault seam, for the system's calls ----------------------------------------------------

// What the test seam decides for this step: 0 to run it, skipStep, or the errno to fail it with.
int verdict(FileStep step, QString const& path, QString const& other = QString());

// The failure of an errno that the test seam chose, with errno set as the C library would set
// it; nothing for a verdict that is no errno.
Result failureOf(int verdict);

// The failure that the test seam injects into this step, if any.
Result injected(FileStep step, QString const& path, QString const& other = QString());

// The system's words for one of its error codes: an errno value on POSIX systems, a code of
// GetLastError on Windows.
QString errorText(int error);

// The C library's words for an errno value, the same on every system.
QString errnoText(int error);

// Writes all of size bytes at data to the file open at handle, or fails.
Result writeAll(int handle, char const* data, qsizetype size);

// Puts what was written to the file open at handle on the disk.
Result syncFile(int handle);

// What the file open at the C library's handle is.
FileKind kindOfHandle(int handle);

// Whether the errno value is one with which a file system says that it cannot sync a folder at
// all, rather than that the sync failed.
bool cannotSyncFolders(int error);

// A name for a hidden file beside the file to be named name, unlikely to be taken: ".NAME." and
// eight random letters and digits, of one case only where the system does not tell names apart
// by case.
QString hiddenNameFor(QString const& name, bool namesIgnoreCase);

// ---- Locks -------------------------------------------------------------------------------------

// Why a lock file could not be opened.
struct LockFileError {
    bool raced = false;      // another holder made the file between the look and the making
    bool notRegular = false; // something other than a regular file stands at its name
    bool cannotMake = false; // there is none, and none can be made (a folder that cannot be
                             // written, a read-only file system, a missing folder)
    QString why;             // the system's words
};

// Opens, or makes, the lock file at name in folder; never through a link, and never waiting on a
// named pipe. A lock file made here gets the owner, group and read and write permissions of the
// file described by like, where the system allows it (File::adopt), or the owner's permissions
// alone when like is absent. The handle, or -1 with error saying why.
int openLockFile(Folder const& folder, QString const& name, FileStatus const& like,
                 LockFileError& error);

enum class Locking {
    locked,
    busy,        // others hold it
    unsupported, // the file system has no advisory locks
    failed,
};

// Takes the lock without waiting; why says what failed, for unsupported and failed.
Locking tryLock(int handle, FileLock::Mode mode, QString& why);

// Whether name in folder still names the file open at handle: a holder that let go may have
// removed it, and a lock on a file that no longer has the name locks out nobody.
bool namesFile(Folder const& folder, QString const& name, int handle);

// The owner of the file open at handle.
uint ownerOf(int handle);

void unlock(int handle);

void closeHandle(int handle);

} // namespace zel::file_storage::internal::system

namespace zel::file_storage::internal {

// The system files call these by their names alone.
using system::errorText;
using system::failureOf;
using system::injected;
using system::verdict;

} // namespace zel::file_storage::internal
