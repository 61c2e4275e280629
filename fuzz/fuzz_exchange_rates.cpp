// Feeds arbitrary bytes to the exchange-rates reader through its file in a scratch cache
// directory. Any outcome but BinaryFileError or a good load is a finding.
#include "file-storage/Errors.h"
#include "file-storage/ExchangeRatesFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <cstddef>
#include <cstdint>

namespace {
QString ratesPath;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader's location is the cache directory; test mode keeps it out of the user's.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("zel-fuzz-exchange-rates"));
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    auto const directory = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(directory);
    ratesPath = directory + QStringLiteral("/exchange-rates.dat");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    {
        QFile file(ratesPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        file.write(reinterpret_cast<char const*>(data), static_cast<qint64>(size));
    }
    try {
        auto const rates = zel::file_storage::ExchangeRatesFile().load();
        (void)rates;
    } catch (zel::file_storage::BinaryFileError const&) {
    }
    return 0;
}
