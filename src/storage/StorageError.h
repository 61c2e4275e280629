#pragma once

#include "foundation/Error.h"

#include <QString>

namespace zel::storage {

// A failure to keep or fetch stored data. It carries two texts whose meaning depends on the
// thrower: a specific reason and the operation that failed, or a general sentence about the
// file and a specific message. Both are kept exactly as given; what() says both.
class StorageError : public foundation::Error {
public:
    StorageError(QString const& firstText, QString const& secondText, std::exception const& cause);
    StorageError(StorageError const&) = default;
    StorageError(StorageError&&) noexcept = default;
    StorageError& operator=(StorageError const&) = default;
    StorageError& operator=(StorageError&&) noexcept = default;
    ~StorageError() override;

    QString const& firstText() const noexcept { return firstText_; }
    QString const& secondText() const noexcept { return secondText_; }

private:
    QString firstText_;
    QString secondText_;
};

} // namespace zel::storage
