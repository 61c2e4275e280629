#include "file-storage/SaveFile.h"

#include "file-storage/internal/ErrorForms.h"
#include "file-storage/internal/FileSync.h"

#include <QObject>

namespace zel::file_storage {

void saveFile(QString const& path, QByteArray const& bytes) {
    if (auto failure = internal::replaceFile(path, bytes)) {
        throw internal::operationError(*failure,
                                       QObject::tr("The file %1 failed to be saved.").arg(path));
    }
}

} // namespace zel::file_storage
