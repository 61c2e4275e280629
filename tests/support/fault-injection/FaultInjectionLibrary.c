/* The preloadable half of the fault-injection layer: wrappers around the C library's file
 * operations that count, trace, fail or kill. How a test configures it, and what counts, is
 * described in FaultInjection.h beside this file.
 *
 * Every wrapper finds the C library's own function with dlsym(RTLD_NEXT, ...) on first use, so
 * the library also works behind a sanitizer's interceptors. The wrappers keep errno as the real
 * call left it. Nothing here allocates on the path of a call except the copy of a path that a
 * tracked descriptor keeps. */
#define _GNU_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <linux/fs.h>

/* ---- Operations -------------------------------------------------------------------------- */

enum Operation {
    opOpen,
    opRead,
    opWrite,
    opFtruncate,
    opRename,
    opLink,
    opUnlink,
    opFsync,
    opCopy,
    opClose,
    operationCount
};

static char const* const operationNames[operationCount] = {
    "open", "read", "write", "ftruncate", "rename", "link", "unlink", "fsync", "copy", "close"};

/* ---- Configuration, read once from the environment ---------------------------------------- */

enum Action { actionFail, actionFailFrom, actionKill };

static struct {
    unsigned operations; /* bit per enum Operation */
    char directory[4096];
    size_t directoryLength; /* 0: every path */
    long at;                /* 0: no fault */
    enum Action action;
    int error;
    char trace[4096];
} config;

static pthread_once_t configOnce = PTHREAD_ONCE_INIT;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static long counted; /* under lock */

static struct {
    char const* name;
    int value;
} const errorNames[] = {
    {"EIO", EIO},       {"ENOSPC", ENOSPC},       {"EDQUOT", EDQUOT},         {"EFBIG", EFBIG},
    {"EACCES", EACCES}, {"EPERM", EPERM},         {"EROFS", EROFS},           {"EEXIST", EEXIST},
    {"ENOENT", ENOENT}, {"EXDEV", EXDEV},         {"EBUSY", EBUSY},           {"EMFILE", EMFILE},
    {"EINTR", EINTR},   {"EAGAIN", EAGAIN},       {"EISDIR", EISDIR},         {"ENOTDIR", ENOTDIR},
    {"EINVAL", EINVAL}, {"ENOTEMPTY", ENOTEMPTY}, {"EOPNOTSUPP", EOPNOTSUPP}, {"EBADF", EBADF},
};

static int errorFromText(char const* text) {
    for (size_t i = 0; i < sizeof errorNames / sizeof errorNames[0]; ++i) {
        if (strcmp(errorNames[i].name, text) == 0) {
            return errorNames[i].value;
        }
    }
    int const number = atoi(text);
    return number > 0 ? number : EIO;
}

static void errorText(int error, char* buffer, size_t size) {
    for (size_t i = 0; i < sizeof errorNames / sizeof errorNames[0]; ++i) {
        if (errorNames[i].value == error) {
            snprintf(buffer, size, "%s", errorNames[i].name);
            return;
        }
    }
    snprintf(buffer, size, "%d", error);
}

static void readConfig(void) {
    char const* operations = getenv("ZEL_FAULT_OPS");
    if (operations == NULL || *operations == '\0') {
        config.operations = (1u << operationCount) - 1u;
    } else {
        char const* start = operations;
        while (*start != '\0') {
            char const* end = strchr(start, ',');
            size_t const length = end ? (size_t)(end - start) : strlen(start);
            for (int op = 0; op < operationCount; ++op) {
                if (strlen(operationNames[op]) == length &&
                    strncmp(operationNames[op], start, length) == 0) {
                    config.operations |= 1u << op;
                }
            }
            start += length;
            if (*start == ',') {
                ++start;
            }
        }
    }
    char const* directory = getenv("ZEL_FAULT_DIR");
    if (directory != NULL && *directory != '\0') {
        snprintf(config.directory, sizeof config.directory, "%s", directory);
        config.directoryLength = strlen(config.directory);
        while (config.directoryLength > 1 && config.directory[config.directoryLength - 1] == '/') {
            config.directory[--config.directoryLength] = '\0';
        }
    }
    char const* at = getenv("ZEL_FAULT_AT");
    config.at = at ? atol(at) : 0;
    char const* action = getenv("ZEL_FAULT_MODE");
    config.action = actionFail;
    if (action != NULL && strcmp(action, "fail-from") == 0) {
        config.action = actionFailFrom;
    } else if (action != NULL && strcmp(action, "kill") == 0) {
        config.action = actionKill;
    }
    char const* error = getenv("ZEL_FAULT_ERRNO");
    config.error = error ? errorFromText(error) : EIO;
    char const* trace = getenv("ZEL_FAULT_TRACE");
    if (trace != NULL) {
        snprintf(config.trace, sizeof config.trace, "%s", trace);
    }
}

/* ---- The C library's own functions -------------------------------------------------------- */

static void* next(char const* name) {
    void* const found = dlsym(RTLD_NEXT, name);
    if (found == NULL) {
        fprintf(stderr, "fault injection: no next definition of %s\n", name);
        abort();
    }
    return found;
}

/* Declares real_NAME(), which gives the next definition of NAME, found on first use. */
#define REAL(result, name, parameters)                                                             \
    typedef result(*name##_function) parameters;                                                   \
    static name##_function real_##name##_;                                                         \
    static name##_function real_##name(void) {                                                     \
        name##_function function = __atomic_load_n(&real_##name##_, __ATOMIC_ACQUIRE);             \
        if (function == NULL) {                                                                    \
            void* found = next(#name);                                                             \
            memcpy(&function, &found, sizeof found);                                               \
            __atomic_store_n(&real_##name##_, function, __ATOMIC_RELEASE);                         \
        }                                                                                          \
        return function;                                                                           \
    }

REAL(int, open, (char const*, int, ...))
REAL(int, open64, (char const*, int, ...))
REAL(int, openat, (int, char const*, int, ...))
REAL(int, openat64, (int, char const*, int, ...))
REAL(int, creat, (char const*, mode_t))
REAL(int, creat64, (char const*, mode_t))
REAL(int, __open_2, (char const*, int))
REAL(int, __open64_2, (char const*, int))
REAL(int, __openat_2, (int, char const*, int))
REAL(int, __openat64_2, (int, char const*, int))
REAL(ssize_t, read, (int, void*, size_t))
REAL(ssize_t, pread, (int, void*, size_t, off_t))
REAL(ssize_t, pread64, (int, void*, size_t, off64_t))
REAL(ssize_t, readv, (int, struct iovec const*, int))
REAL(ssize_t, write, (int, void const*, size_t))
REAL(ssize_t, pwrite, (int, void const*, size_t, off_t))
REAL(ssize_t, pwrite64, (int, void const*, size_t, off64_t))
REAL(ssize_t, writev, (int, struct iovec const*, int))
REAL(int, ftruncate, (int, off_t))
REAL(int, ftruncate64, (int, off64_t))
REAL(int, rename, (char const*, char const*))
REAL(int, renameat, (int, char const*, int, char const*))
REAL(int, renameat2, (int, char const*, int, char const*, unsigned))
REAL(int, link, (char const*, char const*))
REAL(int, linkat, (int, char const*, int, char const*, int))
REAL(int, unlink, (char const*))
REAL(int, unlinkat, (int, char const*, int))
REAL(int, remove, (char const*))
REAL(int, fsync, (int))
REAL(int, fdatasync, (int))
REAL(ssize_t, copy_file_range, (int, off64_t*, int, off64_t*, size_t, unsigned))
REAL(ssize_t, sendfile, (int, int, off_t*, size_t))
REAL(ssize_t, sendfile64, (int, int, off64_t*, size_t))
REAL(int, ioctl, (int, unsigned long, ...))
REAL(int, close, (int))

/* ---- Paths and tracked descriptors -------------------------------------------------------- */

#define trackedLimit 4096
/* Under lock: for each tracked descriptor, the path it was opened by and the open's flags. */
static char* trackedPaths[trackedLimit];
static char* trackedDetails[trackedLimit];

static int isWatched(char const* path) {
    pthread_once(&configOnce, readConfig);
    if (path == NULL) {
        return 0;
    }
    if (config.directoryLength == 0) {
        return 1;
    }
    return strncmp(path, config.directory, config.directoryLength) == 0 &&
           (path[config.directoryLength] == '\0' || path[config.directoryLength] == '/');
}

/* The absolute form of path, relative to directoryFd as the *at functions take it; "" when it
 * cannot be told (relative to an untracked descriptor). */
static void absolutePath(int directoryFd, char const* path, char* buffer, size_t size) {
    buffer[0] = '\0';
    if (path == NULL) {
        return;
    }
    if (path[0] == '/') {
        snprintf(buffer, size, "%s", path);
        return;
    }
    if (directoryFd == AT_FDCWD) {
        char cwd[4096];
        /* A path too long to hold is left unknown rather than cut to another path. */
        if (getcwd(cwd, sizeof cwd) != NULL &&
            snprintf(buffer, size, "%s/%s", cwd, path) >= (int)size) {
            buffer[0] = '\0';
        }
        return;
    }
    pthread_mutex_lock(&lock);
    if (directoryFd >= 0 && directoryFd < trackedLimit && trackedPaths[directoryFd] != NULL &&
        snprintf(buffer, size, "%s/%s", trackedPaths[directoryFd], path) >= (int)size) {
        buffer[0] = '\0';
    }
    pthread_mutex_unlock(&lock);
}

static void track(int fd, char const* path, char const* detail) {
    if (fd < 0 || fd >= trackedLimit) {
        return;
    }
    char* const pathCopy = strdup(path);
    char* const detailCopy = strdup(detail);
    pthread_mutex_lock(&lock);
    free(trackedPaths[fd]);
    free(trackedDetails[fd]);
    trackedPaths[fd] = pathCopy;
    trackedDetails[fd] = detailCopy;
    pthread_mutex_unlock(&lock);
}

static void untrack(int fd) {
    if (fd < 0 || fd >= trackedLimit) {
        return;
    }
    pthread_mutex_lock(&lock);
    free(trackedPaths[fd]);
    free(trackedDetails[fd]);
    trackedPaths[fd] = NULL;
    trackedDetails[fd] = NULL;
    pthread_mutex_unlock(&lock);
}

/* Copies the tracked path of fd, and the flags it was opened with, into the buffers (each of
 * size bytes; detail may be NULL); false when fd is not tracked. */
static int trackedPath(int fd, char* path, char* detail, size_t size) {
    int found = 0;
    if (fd >= 0 && fd < trackedLimit) {
        pthread_mutex_lock(&lock);
        if (trackedPaths[fd] != NULL) {
            snprintf(path, size, "%s", trackedPaths[fd]);
            if (detail != NULL) {
                snprintf(detail, size, "%s", trackedDetails[fd]);
            }
            found = 1;
        }
        pthread_mutex_unlock(&lock);
    }
    return found;
}

/* ---- Counting, tracing and faults --------------------------------------------------------- */

/* What a counted operation is to do. */
enum Verdict { verdictRun, verdictFail };

static void appendTrace(long index, enum Operation op, char const* function, char const* path,
                        char const* detail, char const* outcome) {
    if (config.trace[0] == '\0') {
        return;
    }
    char line[10000];
    int const length = snprintf(line, sizeof line, "%ld\t%s\t%s\t%s\t%s\t%s\n", index,
                                operationNames[op], function, path, detail, outcome);
    if (length <= 0) {
        return;
    }
    int const saved = errno;
    int const fd = real_open()(config.trace, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        size_t const size = (size_t)length < sizeof line ? (size_t)length : sizeof line - 1;
        if (real_write()(fd, line, size) < 0) {
            /* A trace that cannot be written shows as a short trace; nothing else to do. */
        }
        real_close()(fd);
    }
    errno = saved;
}

/* Counts one operation on a watched path. Returns the operation's index (0 when it does not
 * count) and whether it is to fail; kills the process when it is to die. */
static long count(enum Operation op, char const* function, char const* path, char const* detail,
                  enum Verdict* verdict) {
    pthread_once(&configOnce, readConfig);
    *verdict = verdictRun;
    if ((config.operations & (1u << op)) == 0) {
        return 0;
    }
    pthread_mutex_lock(&lock);
    long const index = ++counted;
    pthread_mutex_unlock(&lock);
    int const hit = config.at > 0 &&
                    (index == config.at || (config.action == actionFailFrom && index > config.at));
    if (hit && config.action == actionKill) {
        appendTrace(index, op, function, path, detail, "killed");
        kill(getpid(), SIGKILL);
    }
    if (hit) {
        char name[32];
        char outcome[64];
        errorText(config.error, name, sizeof name);
        snprintf(outcome, sizeof outcome, "injected %s", name);
        appendTrace(index, op, function, path, detail, outcome);
        *verdict = verdictFail;
    }
    return index;
}

/* Traces the result of an operation that ran; errno is kept. */
static void finish(long index, enum Operation op, char const* function, char const* path,
                   char const* detail, int failed) {
    if (index == 0) {
        return;
    }
    int const saved = errno;
    char outcome[64] = "ok";
    if (failed) {
        char name[32];
        errorText(saved, name, sizeof name);
        snprintf(outcome, sizeof outcome, "error %s", name);
    }
    appendTrace(index, op, function, path, detail, outcome);
    errno = saved;
}

static void openDetail(int flags, char* buffer, size_t size) {
    int const access = flags & O_ACCMODE;
    snprintf(buffer, size, "%s%s%s%s%s%s",
             access == O_RDONLY   ? "r"
             : access == O_WRONLY ? "w"
                                  : "rw",
             (flags & O_CREAT) ? ",creat" : "", (flags & O_TRUNC) ? ",trunc" : "",
             (flags & O_APPEND) ? ",append" : "", (flags & O_EXCL) ? ",excl" : "",
             (flags & O_TMPFILE) == O_TMPFILE ? ",tmpfile"
             : (flags & O_DIRECTORY)          ? ",directory"
                                              : "");
}

static int needsMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

/* ---- Wrappers ------------------------------------------------------------------------------ */

/* One open-like call: directoryFd and path as the *at functions take them; opener runs the real
 * call. Tracks the new descriptor when its path is watched. */
#define OPEN_BODY(function, directoryFd, path, flags, realCall)                                    \
    char absolute[4096];                                                                           \
    absolutePath(directoryFd, path, absolute, sizeof absolute);                                    \
    if (!isWatched(absolute)) {                                                                    \
        return realCall;                                                                           \
    }                                                                                              \
    char detail[64];                                                                               \
    openDetail(flags, detail, sizeof detail);                                                      \
    enum Verdict verdict;                                                                          \
    long const index = count(opOpen, function, absolute, detail, &verdict);                        \
    if (verdict == verdictFail) {                                                                  \
        errno = config.error;                                                                      \
        return -1;                                                                                 \
    }                                                                                              \
    int const fd = realCall;                                                                       \
    if (fd >= 0) {                                                                                 \
        track(fd, absolute, detail);                                                               \
    }                                                                                              \
    finish(index, opOpen, function, absolute, detail, fd < 0);                                     \
    return fd;

int open(char const* path, int flags, ...) {
    mode_t mode = 0;
    if (needsMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = (mode_t)va_arg(arguments, int);
        va_end(arguments);
    }
    OPEN_BODY("open", AT_FDCWD, path, flags, real_open()(path, flags, mode))
}

int open64(char const* path, int flags, ...) {
    mode_t mode = 0;
    if (needsMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = (mode_t)va_arg(arguments, int);
        va_end(arguments);
    }
    OPEN_BODY("open64", AT_FDCWD, path, flags, real_open64()(path, flags, mode))
}

int openat(int directoryFd, char const* path, int flags, ...) {
    mode_t mode = 0;
    if (needsMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = (mode_t)va_arg(arguments, int);
        va_end(arguments);
    }
    OPEN_BODY("openat", directoryFd, path, flags, real_openat()(directoryFd, path, flags, mode))
}

int openat64(int directoryFd, char const* path, int flags, ...) {
    mode_t mode = 0;
    if (needsMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = (mode_t)va_arg(arguments, int);
        va_end(arguments);
    }
    OPEN_BODY("openat64", directoryFd, path, flags, real_openat64()(directoryFd, path, flags, mode))
}

int creat(char const* path, mode_t mode) {
    OPEN_BODY("creat", AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, real_creat()(path, mode))
}

int creat64(char const* path, mode_t mode) {
    OPEN_BODY("creat64", AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, real_creat64()(path, mode))
}

int __open_2(char const* path, int flags) {
    OPEN_BODY("__open_2", AT_FDCWD, path, flags, real___open_2()(path, flags))
}

int __open64_2(char const* path, int flags) {
    OPEN_BODY("__open64_2", AT_FDCWD, path, flags, real___open64_2()(path, flags))
}

int __openat_2(int directoryFd, char const* path, int flags) {
    OPEN_BODY("__openat_2", directoryFd, path, flags, real___openat_2()(directoryFd, path, flags))
}

int __openat64_2(int directoryFd, char const* path,
                 int flags){OPEN_BODY("__openat64_2", directoryFd, path, flags,
                                      real___openat64_2()(directoryFd, path, flags))}

/* One call on a descriptor: counted when the descriptor is tracked. */
#define FD_BODY(type, op, function, fd, realCall)                                                  \
    char path[4096];                                                                               \
    char detail[4096];                                                                             \
    if (!trackedPath(fd, path, detail, sizeof path)) {                                             \
        return realCall;                                                                           \
    }                                                                                              \
    enum Verdict verdict;                                                                          \
    long const index = count(op, function, path, detail, &verdict);                                \
    if (verdict == verdictFail) {                                                                  \
        errno = config.error;                                                                      \
        return (type)-1;                                                                           \
    }                                                                                              \
    type const result = realCall;                                                                  \
    finish(index, op, function, path, detail, result < 0);                                         \
    return result;

ssize_t read(int fd, void* buffer,
             size_t size){FD_BODY(ssize_t, opRead, "read", fd, real_read()(fd, buffer, size))}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset){
    FD_BODY(ssize_t, opRead, "pread", fd, real_pread()(fd, buffer, size, offset))}

ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset){
    FD_BODY(ssize_t, opRead, "pread64", fd, real_pread64()(fd, buffer, size, offset))}

ssize_t readv(int fd, struct iovec const* vector,
              int length){FD_BODY(ssize_t, opRead, "readv", fd, real_readv()(fd, vector, length))}

ssize_t write(int fd, void const* buffer,
              size_t size){FD_BODY(ssize_t, opWrite, "write", fd, real_write()(fd, buffer, size))}

ssize_t pwrite(int fd, void const* buffer, size_t size, off_t offset){
    FD_BODY(ssize_t, opWrite, "pwrite", fd, real_pwrite()(fd, buffer, size, offset))}

ssize_t pwrite64(int fd, void const* buffer, size_t size, off64_t offset){
    FD_BODY(ssize_t, opWrite, "pwrite64", fd, real_pwrite64()(fd, buffer, size, offset))}

ssize_t writev(int fd, struct iovec const* vector, int length) {
    FD_BODY(ssize_t, opWrite, "writev", fd, real_writev()(fd, vector, length))
}

int ftruncate(int fd, off_t length) {
    FD_BODY(int, opFtruncate, "ftruncate", fd, real_ftruncate()(fd, length))
}

int ftruncate64(int fd, off64_t length) {
    FD_BODY(int, opFtruncate, "ftruncate64", fd, real_ftruncate64()(fd, length))
}

int fsync(int fd) {
    FD_BODY(int, opFsync, "fsync", fd, real_fsync()(fd))
}

int fdatasync(int fd){FD_BODY(int, opFsync, "fdatasync", fd, real_fdatasync()(fd))}

/* A copy between descriptors counts when either is tracked; the path traced is the target's
 * when it is tracked. */
#define COPY_BODY(type, function, target, source, realCall)                                        \
    char path[4096];                                                                               \
    if (!trackedPath(target, path, NULL, sizeof path) &&                                           \
        !trackedPath(source, path, NULL, sizeof path)) {                                           \
        return realCall;                                                                           \
    }                                                                                              \
    char detail[4096] = "";                                                                        \
    char sourceDetail[4096];                                                                       \
    trackedPath(source, detail, sourceDetail, sizeof detail);                                      \
    enum Verdict verdict;                                                                          \
    long const index = count(opCopy, function, path, detail, &verdict);                            \
    if (verdict == verdictFail) {                                                                  \
        errno = config.error;                                                                      \
        return -1;                                                                                 \
    }                                                                                              \
    type const result = realCall;                                                                  \
    finish(index, opCopy, function, path, detail, result < 0);                                     \
    return result;

ssize_t copy_file_range(int source, off64_t* sourceOffset, int target, off64_t* targetOffset,
                        size_t size, unsigned flags){
    COPY_BODY(ssize_t, "copy_file_range", target, source,
              real_copy_file_range()(source, sourceOffset, target, targetOffset, size, flags))}

ssize_t sendfile(int target, int source, off_t* offset, size_t size){
    COPY_BODY(ssize_t, "sendfile", target, source, real_sendfile()(target, source, offset, size))}

ssize_t sendfile64(int target, int source, off64_t* offset, size_t size) {
    COPY_BODY(ssize_t, "sendfile64", target, source,
              real_sendfile64()(target, source, offset, size))
}

int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* const argument = va_arg(arguments, void*);
    va_end(arguments);
    if (request != (unsigned long)FICLONE && request != (unsigned long)FICLONERANGE) {
        return real_ioctl()(fd, request, argument);
    }
    /* FICLONE passes the source descriptor itself as the argument. */
    int const source = request == (unsigned long)FICLONE ? (int)(intptr_t)argument : -1;
    COPY_BODY(int, "ioctl", fd, source, real_ioctl()(fd, request, argument))
}

int close(int fd) {
    char path[4096];
    char detail[4096];
    if (!trackedPath(fd, path, detail, sizeof path)) {
        return real_close()(fd);
    }
    untrack(fd);
    enum Verdict verdict;
    long const index = count(opClose, "close", path, detail, &verdict);
    /* The descriptor is gone after close whatever it reports, so a failed close still closes. */
    int const result = real_close()(fd);
    if (verdict == verdictFail) {
        errno = config.error;
        return -1;
    }
    finish(index, opClose, "close", path, detail, result < 0);
    return result;
}

/* One call on one or two paths: counted when either path is watched. */
#define PATH_BODY(op, function, directoryFd, path, otherDirectoryFd, other, realCall)              \
    char absolute[4096];                                                                           \
    char otherAbsolute[4096];                                                                      \
    absolutePath(directoryFd, path, absolute, sizeof absolute);                                    \
    absolutePath(otherDirectoryFd, other, otherAbsolute, sizeof otherAbsolute);                    \
    if (!isWatched(absolute) && !(otherAbsolute[0] != 0 && isWatched(otherAbsolute))) {            \
        return realCall;                                                                           \
    }                                                                                              \
    enum Verdict verdict;                                                                          \
    long const index = count(op, function, absolute, otherAbsolute, &verdict);                     \
    if (verdict == verdictFail) {                                                                  \
        errno = config.error;                                                                      \
        return -1;                                                                                 \
    }                                                                                              \
    int const result = realCall;                                                                   \
    finish(index, op, function, absolute, otherAbsolute, result < 0);                              \
    return result;

int rename(char const* from, char const* to) {
    PATH_BODY(opRename, "rename", AT_FDCWD, from, AT_FDCWD, to, real_rename()(from, to))
}

int renameat(int fromFd, char const* from, int toFd, char const* to) {
    PATH_BODY(opRename, "renameat", fromFd, from, toFd, to, real_renameat()(fromFd, from, toFd, to))
}

int renameat2(int fromFd, char const* from, int toFd, char const* to, unsigned flags) {
    PATH_BODY(opRename, "renameat2", fromFd, from, toFd, to,
              real_renameat2()(fromFd, from, toFd, to, flags))
}

int link(char const* from, char const* to) {
    PATH_BODY(opLink, "link", AT_FDCWD, from, AT_FDCWD, to, real_link()(from, to))
}

int linkat(int fromFd, char const* from, int toFd, char const* to, int flags) {
    PATH_BODY(opLink, "linkat", fromFd, from, toFd, to,
              real_linkat()(fromFd, from, toFd, to, flags))
}

int unlink(char const* path) {
    PATH_BODY(opUnlink, "unlink", AT_FDCWD, path, AT_FDCWD, NULL, real_unlink()(path))
}

int unlinkat(int directoryFd, char const* path, int flags) {
    PATH_BODY(opUnlink, "unlinkat", directoryFd, path, AT_FDCWD, NULL,
              real_unlinkat()(directoryFd, path, flags))
}

int remove(char const* path) {
    PATH_BODY(opUnlink, "remove", AT_FDCWD, path, AT_FDCWD, NULL, real_remove()(path))
}
