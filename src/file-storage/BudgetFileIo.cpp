#include "file-storage/BudgetFile.h"

#include <QObject>

// Loading and storing arrive with the budget document reader and writer.
namespace zel::file_storage {

storage::BudgetState BudgetFile::load() const {
    throw storage::StorageError(QObject::tr("Not available yet."),
                                QObject::tr("The budget file, %1, failed to be loaded.").arg(name_),
                                std::exception());
}

void BudgetFile::store(accounting::GeneralLedger const&, budgeting::Budget const&,
                       storage::ItemAccountMap const&, banking::BankMap const&,
                       banking::AccountTypeMap const&, surveying::ReconciledSurveys const&) const {
    throw storage::StorageError(QObject::tr("Not available yet."),
                                QObject::tr("The budget file, %1, failed to be saved due.").arg(name_),
                                std::exception());
}

} // namespace zel::file_storage
