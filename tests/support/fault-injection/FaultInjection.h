#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <vector>

// Fault injection for tests: real file operations that fail, or a process that dies, at a
// chosen step.
//
// The layer has two halves. A small shared library (built from FaultInjectionLibrary.c) is
// preloaded with LD_PRELOAD into a child process that a test starts. It wraps the C library's
// file operations, finds the real ones with dlsym(RTLD_NEXT, ...), and counts every call that
// concerns a watched directory. At the N-th counted call it makes that call fail with a chosen
// errno (without performing it), or fail at N and every later counted call, or kills the
// process with SIGKILL before the call runs. It can also append one line per counted call to a
// trace file. This header is the other half: it builds the child's environment from a Plan and
// reads the trace back.
//
// Operations, by the names a Plan and the trace use:
//   open       open, open64, openat, openat64, creat, creat64 and their fortified forms
//   read       read, pread, pread64, readv
//   write      write, pwrite, pwrite64, writev
//   ftruncate  ftruncate, ftruncate64
//   rename     rename, renameat, renameat2
//   link       link, linkat
//   unlink     unlink, unlinkat, remove
//   fsync      fsync, fdatasync
//   copy       copy_file_range, sendfile, sendfile64, ioctl FICLONE and FICLONERANGE
//   close      close (a failed close still closes the descriptor, as on Linux)
// Qt 6.4's QFile::copy opens an unnamed file (O_TMPFILE) in the target's directory, tries
// FICLONE, then sendfile (falling back to read and write), syncs it with fdatasync and names it
// with linkat from /proc/self/fd; QFile::rename uses renameat2 with RENAME_NOREPLACE;
// QFile::remove uses unlink.
//
// What counts: a call on a path counts when its path, or either path of a rename or link, is
// the watched directory or lies under it; a call on a descriptor counts when the descriptor was
// opened through a watched path (an unnamed file counts under its directory's path), until it
// is closed. Descriptors made by dup, dup2 or fcntl are not followed. Paths are compared as
// given (made absolute against the working directory or a followed directory descriptor), not
// resolved through symbolic links, so watch a canonical path. Only the operations named in the
// plan count; counting starts at 1 and is shared by all of them.
//
// Environment variables read by the preloaded library (once, at its first call):
//   ZEL_FAULT_OPS    comma-separated operation names that count; unset or empty: all
//   ZEL_FAULT_DIR    the watched directory; unset or empty: every path
//   ZEL_FAULT_AT     N, the counted call to act on; unset or 0: none (only count and trace)
//   ZEL_FAULT_MODE   "fail" (the N-th call only, the default), "fail-from" (N and every later
//                    counted call) or "kill" (SIGKILL before the N-th call runs)
//   ZEL_FAULT_ERRNO  the errno of an injected failure, by name (EIO, ENOSPC, EDQUOT, EFBIG,
//                    EACCES, EPERM, EROFS, EEXIST, ENOENT, EXDEV, EBUSY, EMFILE, EINTR, EAGAIN,
//                    EISDIR, ENOTDIR, EINVAL, ENOTEMPTY, EOPNOTSUPP, EBADF) or number; default EIO
//   ZEL_FAULT_TRACE  a file to which one line per counted call is appended (keep it outside
//                    the watched directory):
//                        index TAB operation TAB function TAB path TAB detail TAB outcome
//                    detail is the access and flags of an open ("w,creat,trunc", "r,directory",
//                    "rw,tmpfile") and, for a call on a descriptor, those of the open that made
//                    it; the second path of a rename or link; the source of a copy. outcome is
//                    "ok", "error ENAME" (the real call failed), "injected ENAME" or "killed".
//
// A child built with AddressSanitizer refuses a library preloaded before the sanitizer's own
// unless ASAN_OPTIONS holds verify_asan_link_order=0; environment() adds it.
//
// A typical use runs the child once with a trace and no fault, picks the index of the step to
// break from the trace, sets the same files up again, and runs the child with the fault at
// that index: the same program over the same files makes the same calls in the same order.
namespace zel::testing::fault_injection {

enum class Action {
    fail,     // the N-th counted call fails
    failFrom, // the N-th and every later counted call fail
    kill,     // the process is killed before the N-th counted call
};

struct Plan {
    QStringList operations; // empty: all
    QString directory;      // empty: every path
    long at = 0;            // 0: no fault
    Action action = Action::fail;
    QString error = QStringLiteral("EIO");
    QString tracePath; // empty: no trace
};

// The path of the preloaded library.
QString libraryPath();

// base with the variables that load the library into a child and carry plan to it.
QProcessEnvironment
environment(Plan const& plan, QProcessEnvironment base = QProcessEnvironment::systemEnvironment());

// One line of a trace.
struct TraceEntry {
    long index = 0;
    QString operation;
    QString function;
    QString path;
    QString detail;
    QString outcome;
};

// The lines of a trace file, in order; none when the file does not exist.
std::vector<TraceEntry> readTrace(QString const& path);

} // namespace zel::testing::fault_injection
