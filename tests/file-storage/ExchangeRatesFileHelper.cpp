// Stores or loads the exchange-rates file in a process of its own, so that a test can choose the
// time zone (TZ) that each step runs under. Standard locations stay in Qt's test mode, under the
// application name that the calling test gives (and the home folder it passes on).
//
//     helper APPLICATION store TICKS   stores no ratios, last fetched at TICKS
//     helper APPLICATION load          prints the last-fetched ticks it loads
//
// TICKS count 100 nanoseconds since 1970-01-01 UTC. Failures are printed to stderr.

#include "file-storage/Errors.h"
#include "file-storage/ExchangeRatesFile.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: helper APPLICATION store TICKS | load\n", stderr);
        return 2;
    }
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QString::fromLocal8Bit(argv[1]));
    QCoreApplication const application(argc, argv);
    std::string const command = argv[2];

    zel::file_storage::ExchangeRatesFile const file;
    try {
        if (command == "store" && argc == 4) {
            zel::conversion::Ticks const ticks(std::stoll(argv[3]));
            file.store(zel::conversion::ConversionMap(zel::conversion::TimePoint(ticks), {}));
            return 0;
        }
        if (command == "load") {
            auto const rates = file.load();
            std::printf("%lld\n",
                        static_cast<long long>(rates.lastFetched().time_since_epoch().count()));
            return 0;
        }
    } catch (zel::storage::StorageError const& error) {
        std::fprintf(stderr, "%s\n%s\n", qPrintable(error.firstText()),
                     qPrintable(error.secondText()));
        return 1;
    }
    std::fputs("unknown command\n", stderr);
    return 2;
}
