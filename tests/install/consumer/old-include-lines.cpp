#include <file-storage/BudgetFile.h>
#include <money/Currency.h>

int main() {
    zel::file_storage::BudgetFile const file(QStringLiteral("/srv/budget.xml"),
                                             QStringLiteral("~"));
    return file.name() == QStringLiteral("budget.xml") ? 0 : 1;
}
