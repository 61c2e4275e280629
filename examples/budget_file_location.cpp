// Shows how an application points a BudgetFile at a location and where its back-up goes.
#include "file-storage/BudgetFile.h"

#include <QDir>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString const location = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                      : QDir::homePath() + QStringLiteral("/budget.xml");
    try {
        zel::file_storage::BudgetFile const file(location, QStringLiteral("~"));
        out << "Budget file: " << file.directoryPath() << '/' << file.name() << '\n';
        out << "Back-up:     " << file.directoryPath() << '/' << file.name()
            << file.backUpExtension() << '\n';
        return 0;
    } catch (zel::storage::StorageError const& error) {
        err << error.secondText() << ' ' << error.firstText() << '\n';
        return 1;
    }
}
