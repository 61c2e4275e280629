// The file operations on Windows: every system call of the platform layer is made here.
//
// Windows has no folder handles to open names through, so names are used by path; what stands
// at a name is looked at without following a link (a reparse point of the symbolic-link kinds),
// and new files are made with CREATE_NEW, which nothing already at the name passes. Files that
// are to be named later are made under a hidden name and marked to be deleted when closed, so
// that a process that dies leaves none behind.
#include "file-storage/files/FileSync.h"
#include "file-storage/files/FileSyncSystem.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace zel::file_storage::internal {

namespace {

std::wstring native(QString const& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

// Why the last call of the system failed.
QString lastError() {
    return errorText(static_cast<int>(::GetLastError()));
}

HANDLE osHandle(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

DWORD constexpr shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what stands at path itself, a link not followed, to look at it.
HANDLE openEntry(QString const& path) {
    return ::CreateFileW(native(path).c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
}

bool missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME;
}

// What the open handle is. Only the symbolic-link kinds of reparse point count as links: a file
// of a cloud folder is a reparse point too, and a file all the same.
bool statusOfHandle(HANDLE handle, FileStatus& status) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    bool link = false;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        link = ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
               (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK ||
                tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT);
    }
    bool const directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.kind = link                                      ? FileKind::link
                  : directory                               ? FileKind::directory
                  : ::GetFileType(handle) == FILE_TYPE_DISK ? FileKind::regular
                                                            : FileKind::device;
    status.device = info.dwVolumeSerialNumber;
    status.inode = (quint64{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    status.size = static_cast<qint64>((quint64{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    // Windows keeps owners in access lists that a new file inherits from its folder.
    status.owner = currentUser();
    status.group = 0;
    status.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    return true;
}

// What stands at path itself, a link not followed, where it can be looked at: otherwise false,
// with status as it was.
bool statusAt(QString const& path, FileStatus& status) {
    HANDLE const entry = openEntry(path);
    if (entry == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool const found = statusOfHandle(entry, status);
    ::CloseHandle(entry);
    return found;
}

// Marks the open file to be deleted when its last handle closes, or takes the mark away.
bool deleteOnClose(HANDLE handle, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                        sizeof disposition);
}

// A handle of the C library for an open file, so that Qt can read it too; closes the file and
// gives -1 when there is none.
int libraryHandle(HANDLE handle, int flags) {
    int const fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
    }
    return fd;
}

} // namespace

QString system::errorText(int error) {
    // Qt's system-error helper reads a code of GetLastError on Windows.
    return qt_error_string(error);
}

QString userName(uint) {
    return qEnvironmentVariable("USERNAME");
}

uint currentUser() {
    return 0;
}

Result kindOf(QString const& path, FileKind& kind) {
    if (auto const failure = injected(FileStep::inspect, path); !failure.ok()) {
        return failure;
    }
    QFileInfo const info(path);
    kind = !info.exists()  ? FileKind::absent
           : info.isFile() ? FileKind::regular
           : info.isDir()  ? FileKind::directory
                           : FileKind::other;
    return Result::done();
}

FileKind system::kindOfHandle(int handle) {
    FileStatus status;
    return statusOfHandle(osHandle(handle), status) ? status.kind : FileKind::other;
}

// ---- Folders ---------------------------------------------------------------------------------

// A folder's handle is kept in an int: Windows handles fit in 32 bits, so that other programs of
// either width can share them.
namespace {

HANDLE folderHandle(int handle) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

} // namespace

Folder::~Folder() {
    if (handle_ != -1) {
        ::CloseHandle(folderHandle(handle_));
    }
}

Result Folder::open(QString const& path) {
    // Held open, and not shareable for deletion, so that the folder cannot be removed or
    // replaced while names in it are used.
    HANDLE const handle =
        ::CreateFileW(native(path).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return lastError();
    }
    // FILE_FLAG_BACKUP_SEMANTICS opens a file as readily as a folder.
    FileStatus status;
    if (!statusOfHandle(handle, status) || status.kind != FileKind::directory) {
        ::CloseHandle(handle);
        return errorText(ERROR_DIRECTORY);
    }
    if (handle_ != -1) {
        ::CloseHandle(folderHandle(handle_));
    }
    handle_ = static_cast<int>(reinterpret_cast<intptr_t>(handle));
    wchar_t found[MAX_PATH * 4];
    DWORD const size =
        ::GetFinalPathNameByHandleW(handle, found, MAX_PATH * 4, FILE_NAME_NORMALIZED);
    QString final = size > 0 && size < MAX_PATH * 4
                        ? QDir::fromNativeSeparators(QString::fromWCharArray(found, size))
                        : QFileInfo(path).absoluteFilePath();
    if (final.startsWith(QLatin1String("//?/UNC/"))) {
        final = QLatin1String("//") + final.mid(8);
    } else if (final.startsWith(QLatin1String("//?/"))) {
        final = final.mid(4);
    }
    path_ = final;
    return Result::done();
}

QString Folder::pathOf(QString const& name) const {
    return path_.endsWith(QLatin1Char('/')) ? path_ + name : path_ + QLatin1Char('/') + name;
}

Result Folder::inspect(QString const& name, FileStatus& status) const {
    if (auto const failure = injected(FileStep::inspect, pathOf(name)); !failure.ok()) {
        return failure;
    }
    HANDLE const handle = openEntry(pathOf(name));
    if (handle == INVALID_HANDLE_VALUE) {
        if (missing(::GetLastError())) {
            status = FileStatus{};
            return Result::done();
        }
        return lastError();
    }
    bool const found = statusOfHandle(handle, status);
    QString const why = found ? QString() : lastError();
    ::CloseHandle(handle);
    return found ? Result::done() : Result(why);
}

bool Folder::mayUse(FileStatus const&) const {
    // Windows has no folders in which only owners may remove entries; only privileged users
    // and developers make links at all.
    return true;
}

Result Folder::readLink(QString const& name, QString& text) const {
    text = QFileInfo(pathOf(name)).symLinkTarget();
    if (text.isEmpty()) {
        return QObject::tr("The symbolic link %1 cannot be read.").arg(pathOf(name));
    }
    return Result::done();
}

Result Folder::remove(QString const& name) const {
    if (auto const failure = injected(FileStep::remove, pathOf(name)); !failure.ok()) {
        return failure;
    }
    if (!::DeleteFileW(native(pathOf(name)).c_str())) {
        return lastError();
    }
    return Result::done();
}

Result Folder::rename(QString const& from, QString const& to) const {
    if (auto const failure = injected(FileStep::rename, pathOf(from), pathOf(to)); !failure.ok()) {
        return failure;
    }
    // Without MOVEFILE_REPLACE_EXISTING, the move fails for anything at to; never a copy.
    if (!::MoveFileExW(native(pathOf(from)).c_str(), native(pathOf(to)).c_str(), 0)) {
        return lastError();
    }
    return Result::done();
}

Result Folder::replace(QString const& from, QString const& to) const {
    if (auto const failure = injected(FileStep::rename, pathOf(from), pathOf(to)); !failure.ok()) {
        return failure;
    }
    if (!::MoveFileExW(native(pathOf(from)).c_str(), native(pathOf(to)).c_str(),
                       MOVEFILE_REPLACE_EXISTING)) {
        return lastError();
    }
    return Result::done();
}

Result Folder::sync() const {
    // NTFS journals the entries of a folder itself, and a folder cannot be flushed like a file.
    // An injected failure takes the same course as on other systems: a folder that cannot be
    // synced at all falls back to the file system, which is no failure here either.
    int const decided = verdict(FileStep::syncDirectory, path_);
    if (decided == 0 || decided == skipStep) {
        return Result::done();
    }
    if (system::cannotSyncFolders(decided)) {
        int const fallback = verdict(FileStep::syncFileSystem, path_);
        return fallback == skipStep ? Result::done() : failureOf(fallback);
    }
    return failureOf(decided);
}

// ---- Files -----------------------------------------------------------------------------------

File::~File() {
    if (handle_ >= 0) {
        ::_close(handle_);
    }
    // A file made under a hidden name and never named was marked to go when closed.
}

Result File::open(Folder const& folder, QString const& name, Access access) {
    if (auto const failure = begin(folder, name); !failure.ok()) {
        return failure;
    }
    // Looked at first without following a link; a link is refused rather than followed.
    FileStatus status;
    if (statusAt(path_, status) && status.kind != FileKind::regular) {
        return notARegularFile(path_, status.kind);
    }
    HANDLE const handle =
        ::CreateFileW(native(path_).c_str(), access == Access::read ? GENERIC_READ : GENERIC_WRITE,
                      shareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return lastError();
    }
    if (!statusOfHandle(handle, status) || status.kind != FileKind::regular) {
        ::CloseHandle(handle);
        return notARegularFile(path_, status.kind);
    }
    handle_ = libraryHandle(handle, access == Access::read ? _O_RDONLY : _O_WRONLY);
    return handle_ < 0 ? Result(lastError()) : Result::done();
}

Result File::create(Folder const& folder, QString const& name, uint mode) {
    if (auto const failure = begin(folder, name); !failure.ok()) {
        return failure;
    }
    // CREATE_NEW: nothing already at the name, a link included, is used.
    HANDLE const handle = ::CreateFileW(
        native(path_).c_str(), GENERIC_READ | GENERIC_WRITE, shareAll, nullptr, CREATE_NEW,
        (mode & 0222) != 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return lastError();
    }
    handle_ = libraryHandle(handle, _O_RDWR);
    return handle_ < 0 ? Result(lastError()) : Result::done();
}

Result File::createUnnamed(Folder const& folder, QString const& name, uint) {
    if (auto const failure = begin(folder, name); !failure.ok()) {
        return failure;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString const hidden = system::hiddenNameFor(name, true);
        HANDLE const handle = ::CreateFileW(native(folder.pathOf(hidden)).c_str(),
                                            GENERIC_READ | GENERIC_WRITE | DELETE, shareAll,
                                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return lastError();
        }
        // Gone with the process, whenever it ends, until it is named.
        deleteOnClose(handle, true);
        hiddenName_ = hidden;
        handle_ = libraryHandle(handle, _O_RDWR);
        return handle_ < 0 ? Result(lastError()) : Result::done();
    }
    return errorText(ERROR_FILE_EXISTS);
}

Result File::name(bool replace) {
    if (auto const failure = injected(FileStep::rename, QString(), path_); !failure.ok()) {
        return failure;
    }
    HANDLE const handle = osHandle(handle_);
    if (!deleteOnClose(handle, false)) {
        return lastError();
    }
    QString const hidden = folder_->pathOf(hiddenName_);
    if (!::MoveFileExW(native(hidden).c_str(), native(path_).c_str(),
                       replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
        QString const why = lastError();
        deleteOnClose(handle, true);
        return why;
    }
    // Visible under its own name.
    ::SetFileAttributesW(native(path_).c_str(), FILE_ATTRIBUTE_NORMAL);
    hiddenName_.clear();
    return Result::done();
}

Result File::status(FileStatus& status) const {
    if (!statusOfHandle(osHandle(handle_), status)) {
        return lastError();
    }
    return Result::done();
}

void File::adopt(FileStatus const& like) {
    // The copy inherits its folder's access list, as the original did; only a read-only
    // original stays read-only.
    if ((like.mode & 0222) == 0 && hiddenName_.isEmpty()) {
        ::SetFileAttributesW(native(path_).c_str(), FILE_ATTRIBUTE_READONLY);
    }
}

void File::setMode(uint) {}

Result File::read(QByteArray& block) {
    block.resize(qsizetype{1} << 20);
    DWORD got = 0;
    if (!::ReadFile(osHandle(handle_), block.data(), static_cast<DWORD>(block.size()), &got,
                    nullptr)) {
        block.clear();
        return lastError();
    }
    block.resize(static_cast<qsizetype>(got));
    return Result::done();
}

Result File::rewind() {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(osHandle(handle_), start, nullptr, FILE_BEGIN)) {
        return lastError();
    }
    return Result::done();
}

Result File::truncate() {
    if (auto const failure = rewind(); !failure.ok()) {
        return failure;
    }
    if (!::SetEndOfFile(osHandle(handle_))) {
        return lastError();
    }
    return Result::done();
}

Result system::writeAll(int handle, char const* data, qsizetype size) {
    DWORD written = 0;
    if (!::WriteFile(osHandle(handle), data, static_cast<DWORD>(size), &written, nullptr) ||
        written != static_cast<DWORD>(size)) {
        return lastError();
    }
    return Result::done();
}

Result system::syncFile(int handle) {
    return ::FlushFileBuffers(osHandle(handle)) ? Result::done() : Result(lastError());
}

Result File::close() {
    if (auto const failure = injected(FileStep::close, path_); !failure.ok()) {
        return failure;
    }
    int const fd = std::exchange(handle_, -1);
    if (fd >= 0 && ::_close(fd) != 0) {
        return lastError();
    }
    return Result::done();
}

// ---- Locks -----------------------------------------------------------------------------------

int system::openLockFile(Folder const& folder, QString const& name, FileStatus const& like,
                         LockFileError& error) {
    uint const mode = like.kind == FileKind::regular ? like.mode : 0600;
    QString const path = folder.pathOf(name);
    FileStatus status;
    if (statusAt(path, status) && status.kind != FileKind::regular) {
        // A link is named as such by the caller, which looks again.
        error.notRegular = status.kind != FileKind::link;
        error.why = errorText(ERROR_CANT_ACCESS_FILE);
        return -1;
    }
    // Readable and deletable by others, so that they can wait on it and the last one remove it.
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    HANDLE handle = ::CreateFileW(native(path).c_str(), access, shareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        access = GENERIC_READ;
        handle = ::CreateFileW(native(path).c_str(), access, shareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
        handle = ::CreateFileW(
            native(path).c_str(), GENERIC_READ | GENERIC_WRITE, shareAll, nullptr, CREATE_NEW,
            (mode & 0222) != 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            DWORD const code = ::GetLastError();
            error.raced = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
            error.cannotMake = code == ERROR_ACCESS_DENIED || code == ERROR_WRITE_PROTECT ||
                               code == ERROR_PATH_NOT_FOUND;
            error.why = errorText(static_cast<int>(code));
            return -1;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        error.why = lastError();
        return -1;
    }
    if (!statusOfHandle(handle, status) || status.kind != FileKind::regular) {
        ::CloseHandle(handle);
        error.notRegular = true;
        return -1;
    }
    int const fd = libraryHandle(handle, access == GENERIC_READ ? _O_RDONLY : _O_RDWR);
    if (fd < 0) {
        error.why = lastError();
    }
    return fd;
}

system::Locking system::tryLock(int handle, FileLock::Mode mode, QString& why) {
    OVERLAPPED whole{};
    DWORD const flags = LOCKFILE_FAIL_IMMEDIATELY |
                        (mode == FileLock::Mode::exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (::LockFileEx(osHandle(handle), flags, 0, MAXDWORD, MAXDWORD, &whole)) {
        return Locking::locked;
    }
    DWORD const code = ::GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
        return Locking::busy;
    }
    why = errorText(static_cast<int>(code));
    return code == ERROR_NOT_SUPPORTED || code == ERROR_INVALID_FUNCTION ? Locking::unsupported
                                                                         : Locking::failed;
}

bool system::namesFile(Folder const& folder, QString const& name, int handle) {
    FileStatus opened;
    FileStatus named;
    HANDLE const entry = openEntry(folder.pathOf(name));
    if (entry == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool const same = statusOfHandle(osHandle(handle), opened) && statusOfHandle(entry, named) &&
                      opened.sameFileAs(named);
    ::CloseHandle(entry);
    return same;
}

uint system::ownerOf(int) {
    return currentUser();
}

void system::unlock(int handle) {
    OVERLAPPED whole{};
    ::UnlockFileEx(osHandle(handle), 0, MAXDWORD, MAXDWORD, &whole);
}

void system::closeHandle(int handle) {
    ::_close(handle);
}

} // namespace zel::file_storage::internal
