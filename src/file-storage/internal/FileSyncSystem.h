#pragma once

#include "file-storage/internal/FileSync.h"

// What the file operations share between their portable part and the one source file per
// system that makes the system calls. Nothing outside the platform layer includes this.
namespace zel::file_storage::internal::system {

// ---- The fault seam, for the system's calls ----------------------------------------------------

// What the test seam decides for this step: 0 to run it, skipStep, or the errno to fail it with.
int verdict(FileStep step, QString const& path, QString const& other = QString());

// The failure of an errno that the test seam chose, with errno set as the system would set it;
// nothing for a verdict that is no errno.
Failure failureOf(int verdict);

// The failure that the test seam injects into this step, if any.
Failure injected(FileStep step, QString const& path, QString const& other = QString());

// The system's words for an errno value.
QString errorText(int error);

// ---- Locks -------------------------------------------------------------------------------------

// Set, as errno, when the lock file is not a regular file.
int constexpr notRegular = -2;

// Opens, or makes with the permissions mode, the lock file at name in folder; never through a
// link, and never waiting on a named pipe. The handle, or -1 with errno set (EEXIST when another
// holder made the file between the two).
int openLockFile(Folder const& folder, QString const& name, uint mode);

// Takes the lock without waiting; false with errno EWOULDBLOCK when others hold it.
bool tryLock(int handle, FileLock::Mode mode);

// Whether name in folder still names the file open at handle: a holder that let go may have
// removed it, and a lock on a file that no longer has the name locks out nobody.
bool namesFile(Folder const& folder, QString const& name, int handle);

// The owner of the file open at handle.
uint ownerOf(int handle);

void unlock(int handle);

void closeHandle(int handle);

// Whether errno error says that the file system has no advisory locks.
bool meansNoLocks(int error);

// Whether errno error says that a file cannot be made for want of permission or a writable
// file system, or because its folder is missing.
bool meansCannotMake(int error);

// Whether errno error says that a lock is held by others.
bool meansBusy(int error);

} // namespace zel::file_storage::internal::system
