#pragma once

#include "zel/file-storage/Export.h"

#include <QByteArray>
#include <QString>

namespace zel::file_storage {

// Replaces the file at path (the file at the end of a symbolic link there) by one holding bytes,
// in one step, and puts the file and its name on the disk before it returns: whenever the
// process dies or the power fails, path names the previous file or the new one complete, never
// a part of either, and once it has returned, the new one. For files made from a budget, such
// as its exports, so that they are as safe as the budget file. Refuses, touching nothing, a
// path at which something other than a regular file stands.
//
// The file keeps the permissions of the file it replaces, or takes the usual ones of a new file;
// where readableAs names a file, it has none of the permissions that that file lacks, so that
// what is made from a private budget stays private.
//
// Throws storage::StorageError, with what failed underneath as its first text and "The file
// PATH failed to be saved." as its second.
ZEL_FILE_STORAGE_EXPORT void saveFile(QString const& path, QByteArray const& bytes,
                                      QString const& readableAs = QString());

} // namespace zel::file_storage
