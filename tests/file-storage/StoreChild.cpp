// Stores one test budget with BudgetFile::store and reports what happened; see StoreChild.h.
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"

#include <QLoggingCategory>
#include <QString>

#include <cstdio>
#include <exception>

namespace {

void print(char const* kind, QString const& text) {
    std::printf("%s\t%s\n", kind, text.toUtf8().constData());
    std::fflush(stdout);
}

void record(QtMsgType type, QMessageLogContext const&, QString const& text) {
    char const* const names[] = {"debug", "warning", "critical", "fatal", "info"};
    print("log", QString::fromLatin1(names[type]) + QLatin1Char('\t') + text);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PATH BUDGET [EXTENSION]\n", argv[0]);
        return 2;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
    qInstallMessageHandler(record);
    try {
        auto const state = zel::testing::store_child::budgetNamed(QString::fromLocal8Bit(argv[2]));
        auto const& [ledger, budget, items, banks, types, surveys] = state;
        zel::file_storage::BudgetFile const file(QString::fromLocal8Bit(argv[1]),
                                                 argc > 3 ? QString::fromLocal8Bit(argv[3])
                                                          : QStringLiteral("~"));
        file.store(ledger, budget, items, banks, types, surveys);
    } catch (zel::storage::StorageError const& error) {
        print("first", error.firstText());
        print("second", error.secondText());
        return 1;
    } catch (std::exception const& error) {
        print("what", QString::fromLocal8Bit(error.what()));
        return 2;
    }
    return 0;
}
