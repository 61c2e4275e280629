#include "file-storage/BudgetDocumentInspection.h"

#include "file-storage/document/BudgetDocument.h"
#include "file-storage/document/inspection/Scan.h"

#include <QBuffer>

#include <exception>

namespace zel::file_storage {

using internal::ConversionPlace;
using internal::inspection::Scan;

DocumentInspection inspectBudgetDocument(QByteArray const& bytes) {
    return Scan(bytes).run();
}

storage::BudgetState loadBudgetDocument(QByteArray const& bytes) {
    QBuffer device;
    device.setData(bytes);
    // As the load opens a budget file.
    device.open(QIODevice::ReadOnly | QIODevice::Text);
    return internal::loadBudgetDocument(device);
}

std::optional<DocumentPlace> placeOfRefusal(QByteArray const& bytes) {
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    ConversionPlace place;
    try {
        internal::loadBudgetDocument(device, &place);
        return std::nullopt;
    } catch (BudgetFileError const& error) {
        // Only the conversion's refusals come without a place of their own.
        if (error.line() != 0 || error.column() != 0 || place.element == nullptr) {
            return std::nullopt;
        }
    } catch (std::exception const&) {
        return std::nullopt;
    }
    Scan scan(bytes, &place);
    scan.run();
    return scan.targetPlace();
}

} // namespace zel::file_storage
