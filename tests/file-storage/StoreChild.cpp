// Stores one test budget with BudgetFile::store and reports what happened; see StoreChild.h.
#include "StoreChild.h"

#include "file-storage/BudgetFile.h"

#include <QLoggingCategory>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include <sys/resource.h>

namespace {

void print(char const* kind, QString const& text) {
    std::printf("%s\t%s\n", kind, text.toUtf8().constData());
    std::fflush(stdout);
}

void record(QtMsgType type, QMessageLogContext const&, QString const& text) {
    char const* const names[] = {"debug", "warning", "critical", "fatal", "info"};
    print("log", QString::fromLatin1(names[type]) + QLatin1Char('\t') + text);
}

// Makes every later write beyond limit bytes of a file fail with EFBIG rather than kill.
bool limitFileSize(char const* limit) {
    char* end = nullptr;
    unsigned long long const bytes = std::strtoull(limit, &end, 10);
    rlimit current{};
    if (end == limit || *end != '\0' || getrlimit(RLIMIT_FSIZE, &current) != 0) {
        return false;
    }
    current.rlim_cur = static_cast<rlim_t>(bytes);
    return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &current) == 0;
}

} // namespace

int main(int argc, char** argv) {
    char const* const program = argv[0];
    if (argc > 2 && std::strcmp(argv[1], "--file-size-limit") == 0) {
        if (!limitFileSize(argv[2])) {
            std::fprintf(stderr, "%s: cannot limit the file size to %s\n", program, argv[2]);
            return 2;
        }
        argc -= 2;
        argv += 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s [--file-size-limit BYTES] PATH BUDGET [EXTENSION]\n",
                     program);
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
