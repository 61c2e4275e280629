#include "file-storage/SaveFile.h"

#include "file-storage/common/ErrorForms.h"
#include "file-storage/files/FileSync.h"

#include <QFileInfo>
#include <QObject>

namespace zel::file_storage {

void saveFile(QString const& path, QByteArray const& bytes, QString const& readableAs) {
    uint permissions = 07777;
    if (!readableAs.isEmpty()) {
        // The owner's alone when the file's own cannot be told.
        QFileDevice::Permissions const those = QFileInfo(readableAs).permissions();
        permissions = (those & QFileDevice::ReadOwner ? 0400 : 0) |
                      (those & QFileDevice::WriteOwner ? 0200 : 0) |
                      (those & QFileDevice::ReadGroup ? 0040 : 0) |
                      (those & QFileDevice::WriteGroup ? 0020 : 0) |
                      (those & QFileDevice::ReadOther ? 0004 : 0) |
                      (those & QFileDevice::WriteOther ? 0002 : 0);
        if (permissions == 0) {
            permissions = 0600;
        }
    }
    if (auto const failure = internal::replaceFile(path, bytes, permissions); !failure.ok()) {
        throw internal::operationError(failure.why(),
                                       QObject::tr("The file %1 failed to be saved.").arg(path));
    }
}

} // namespace zel::file_storage
