#include "file-storage/common/ErrorForms.h"

namespace zel::file_storage::internal {

BudgetFileError readerError(QXmlStreamReader const& reader, QString const& message) {
    return BudgetFileError(reader.errorString(), reader.lineNumber(), reader.columnNumber(),
                           message, std::exception());
}

AttributeError attributeError(QXmlStreamReader const& reader, QLatin1String const& attribute,
                              QString const& message) {
    return AttributeError(reader.name().toString(), attribute, reader.errorString(),
                          reader.lineNumber(), reader.columnNumber(), message, std::exception());
}

AttributeError attributeError(QString const& tag, QLatin1String const& attribute,
                              QString const& message) {
    return AttributeError(tag, attribute, QString(), 0, 0, message, std::exception());
}

BudgetFileError deviceError(QIODevice const& device, QString const& message) {
    return BudgetFileError(device.errorString(), 0, 0, message, std::exception());
}

BudgetFileError contentError(QString const& message) {
    return BudgetFileError(QString(), 0, 0, message, std::exception());
}

BudgetFileError contentError(QString const& message, std::exception const& cause) {
    return BudgetFileError(QString(), 0, 0, message, cause);
}

storage::StorageError operationError(QString const& why, QString const& operation) {
    return storage::StorageError(why, operation, std::exception());
}

BinaryFileError ratesFileError(QString const& path, QString const& why) {
    return BinaryFileError(path, why, std::exception());
}

} // namespace zel::file_storage::internal
