#pragma once

#include <QFileDevice>
#include <QString>

// Making written data durable: the one place that asks the operating system to put a file's
// data, or a directory's entries, on the disk before it reports success.
namespace zel::file_storage::internal {

// Flushes Qt's buffer and the operating system's cache of an open file to the disk. False,
// with the device's error set where Qt reports one, when either fails.
bool syncFile(QFileDevice& file);

// Opens the file at path and syncs it as above.
bool syncFile(QString const& path);

// Makes the renames, creations and removals of entries in the directory durable. Where the
// platform keeps directory entries durable by itself this does nothing and succeeds.
bool syncDirectory(QString const& path);

} // namespace zel::file_storage::internal
