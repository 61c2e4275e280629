#include "file-storage/Errors.h"

#include <QObject>

namespace zel::file_storage {

namespace {

// The placeholders are filled one at a time, so text put in for %1 takes part in the later
// substitutions; stored messages may rely on that.
QString budgetFileSentence(QString const& errorText, qint64 line, qint64 column) {
    return QObject::tr("The budget file is not valid. %1 Error appears at line %2, column %3.")
        .arg(errorText.isEmpty() ? QString() : QLatin1Char(' ') + errorText)
        .arg(line)
        .arg(column);
}

} // namespace

BudgetFileError::BudgetFileError(QString const& errorText, qint64 const& line, qint64 const& column,
                                 QString const& message, std::exception const& cause)
    : storage::StorageError(budgetFileSentence(errorText, line, column), message, cause),
      line_(line), column_(column) {}

BudgetFileError::BudgetFileError(BudgetFileError const&) = default;
BudgetFileError::BudgetFileError(BudgetFileError&&) noexcept = default;
BudgetFileError& BudgetFileError::operator=(BudgetFileError const&) = default;
BudgetFileError& BudgetFileError::operator=(BudgetFileError&&) noexcept = default;
BudgetFileError::~BudgetFileError() = default;

AttributeError::AttributeError(QString const& tag, QLatin1String const& attribute,
                               QString const& errorText, qint64 const& line, qint64 const& column,
                               QString const& message, std::exception const& cause)
    : BudgetFileError(errorText, line, column,
                      QObject::tr("The element tag '%1' attribute '%2' is not valid. %3")
                          .arg(tag)
                          .arg(attribute)
                          .arg(message),
                      cause) {}

AttributeError::AttributeError(AttributeError const&) = default;
AttributeError::AttributeError(AttributeError&&) noexcept = default;
AttributeError& AttributeError::operator=(AttributeError const&) = default;
AttributeError& AttributeError::operator=(AttributeError&&) noexcept = default;
AttributeError::~AttributeError() = default;

BinaryFileError::BinaryFileError(QString const& fileName, QString const& message,
                                 std::exception const& cause)
    : storage::StorageError(QObject::tr("The binary file, %1, is not valid.").arg(fileName),
                            message, cause) {}

BinaryFileError::BinaryFileError(BinaryFileError const&) = default;
BinaryFileError::BinaryFileError(BinaryFileError&&) noexcept = default;
BinaryFileError& BinaryFileError::operator=(BinaryFileError const&) = default;
BinaryFileError& BinaryFileError::operator=(BinaryFileError&&) noexcept = default;
BinaryFileError::~BinaryFileError() = default;

} // namespace zel::file_storage
