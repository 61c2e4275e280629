#pragma once

#include "zel/file-storage/Export.h"
#include "zel/storage/StorageError.h"

#include <QLatin1String>
#include <QString>
#include <QtGlobal>

#include <exception>

namespace zel::file_storage {

// The budget document is not valid. The first text is a general sentence that gives the XML
// reader's error text (if any), line and column; the second is the specific message. Errors
// found while converting values, rather than by the reader, give line 0 and column 0. The line
// and column are kept too, for callers that point at the place in the file.
struct ZEL_FILE_STORAGE_EXPORT BudgetFileError : storage::StorageError {
    BudgetFileError(QString const& errorText, qint64 const& line, qint64 const& column,
                    QString const& message, std::exception const& cause);
    BudgetFileError(BudgetFileError const&);
    BudgetFileError(BudgetFileError&&) noexcept;
    BudgetFileError& operator=(BudgetFileError const&);
    BudgetFileError& operator=(BudgetFileError&&) noexcept;
    ~BudgetFileError() override;

    // Where in the document the error appears, as the first text gives it; 0 and 0 where no
    // position applies.
    qint64 line() const noexcept { return line_; }
    qint64 column() const noexcept { return column_; }

private:
    qint64 line_;
    qint64 column_;
};

// One attribute of one element of the budget document is not valid. The second text names the
// element's tag and the attribute and ends in the specific message.
struct ZEL_FILE_STORAGE_EXPORT AttributeError : BudgetFileError {
    AttributeError(QString const& tag, QLatin1String const& attribute, QString const& errorText,
                   qint64 const& line, qint64 const& column, QString const& message,
                   std::exception const& cause);
    AttributeError(AttributeError const&);
    AttributeError(AttributeError&&) noexcept;
    AttributeError& operator=(AttributeError const&);
    AttributeError& operator=(AttributeError&&) noexcept;
    ~AttributeError() override;
};

// The exchange-rates file cannot be created, opened, written or read, or holds invalid data.
// The first text names the file; the second says what is wrong.
struct ZEL_FILE_STORAGE_EXPORT BinaryFileError : storage::StorageError {
    BinaryFileError(QString const& fileName, QString const& message, std::exception const& cause);
    BinaryFileError(BinaryFileError const&);
    BinaryFileError(BinaryFileError&&) noexcept;
    BinaryFileError& operator=(BinaryFileError const&);
    BinaryFileError& operator=(BinaryFileError&&) noexcept;
    ~BinaryFileError() override;
};

} // namespace zel::file_storage
