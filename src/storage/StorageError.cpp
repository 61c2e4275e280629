#include "storage/StorageError.h"

namespace zel::storage {

// The second text names what failed and the first says why, so what() reads in that order.
StorageError::StorageError(QString const& firstText, QString const& secondText,
                           std::exception const& cause)
    : foundation::Error(secondText + QStringLiteral(" (") + firstText + QStringLiteral(")"), cause),
      firstText_(firstText), secondText_(secondText) {}

StorageError::~StorageError() = default;

} // namespace zel::storage
