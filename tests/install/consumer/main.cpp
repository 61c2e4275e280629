#include <zel/file-storage/BudgetFile.h>
#include <zel/file-storage/Errors.h>

#include <iostream>

int main() {
    zel::file_storage::BudgetFile const file(QStringLiteral("/srv/budget.xml"),
                                             QStringLiteral("~"));
    std::cout << (file.directoryPath() + QLatin1Char('/') + file.name() + file.backUpExtension())
                     .toStdString()
              << '\n';
    try {
        throw zel::file_storage::BudgetFileError(QString(), 0, 0, QStringLiteral("m"),
                                                 std::exception());
    } catch (zel::storage::StorageError const& error) {
        return error.secondText() == QStringLiteral("m") ? 0 : 1;
    }
}
