// Feeds arbitrary bytes to the exchange-rates reader through its file in a scratch cache
// directory. Any outcome but BinaryFileError or a good load is a finding; so is a load whose
// rates, stored again, do not load, or load to other bytes.
#include "file-storage/Errors.h"
#include "file-storage/ExchangeRatesFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {
QString ratesPath;
QString storedPath;

QByteArray contents(QString const& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader's location is the cache directory; test mode keeps it out of the user's.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("zel-fuzz-exchange-rates"));
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    auto const directory = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(directory);
    ratesPath = directory + QStringLiteral("/exchange-rates.dat");
    storedPath = directory + QStringLiteral("/stored.dat");
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
    std::optional<zel::conversion::ConversionMap> rates;
    try {
        rates.emplace(zel::file_storage::ExchangeRatesFile().load());
    } catch (zel::file_storage::BinaryFileError const&) {
        return 0;
    }
    // What loads stores, and what that store writes loads and stores as the same bytes.
    zel::file_storage::ExchangeRatesFile const stored(storedPath);
    try {
        stored.store(*rates);
        auto const first = contents(storedPath);
        stored.store(stored.load());
        if (contents(storedPath) != first) {
            std::fprintf(stderr, "The rates stored again are other bytes.\n");
            std::abort();
        }
    } catch (zel::file_storage::BinaryFileError const& error) {
        std::fprintf(stderr, "The rates that loaded do not store and load again: %s\n",
                     error.what());
        std::abort();
    }
    return 0;
}
