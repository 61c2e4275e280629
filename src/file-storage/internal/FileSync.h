#pragma once

#include <QFileDevice>
#include <QString>

// Making written data durable: the one place that asks the operating system to put a file's
// data, or a directory's entries, on the disk before it reports success.
namespace zel::file_storage::internal {

// Flushes Qt's buffer and the operating system's cache of an open file to the disk. False,
// with the device's error set where Qt reports one, when either fails.
bool syncFile(QFileDevice& file);

// Copies the file at source to a new file at target, with the source's permissions. The copy
// is written to an unnamed file where the platform has one, put on the disk through the handle
// that wrote it (a failed write-back is reported there, and only once), and named target only
// then: target names a complete copy on the disk or nothing. False, with why in error, when any
// step fails or a file already stands at target.
bool copyFile(QString const& source, QString const& target, QString& error);

// Gives the file at from the name to in one step of the file system. Unlike QFile::rename it
// never falls back to copying, which removes the original before the copy is on the disk.
// False, with why in error, when the rename fails or a file already stands at to.
bool renameFile(QString const& from, QString const& to, QString& error);

// Makes the renames, creations and removals of entries in the directory durable. Where the
// platform keeps directory entries durable by itself this does nothing and succeeds.
bool syncDirectory(QString const& path);

} // namespace zel::file_storage::internal
