// Feeds arbitrary bytes to the salvage, as the damaged document and, split at a byte the input
// chooses, as its back-up. Any outcome but a library error or a salvaged budget that stores
// and loads back is a finding: a crash, a hang, a sanitizer report, another exception type.
#include "file-storage/BudgetDocumentSalvage.h"
#include "file-storage/Errors.h"
#include "file-storage/document/BudgetDocument.h"

#include <QBuffer>
#include <QLoggingCategory>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QLoggingCategory::setFilterRules(
        QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    QByteArray const bytes(reinterpret_cast<char const*>(data), static_cast<qsizetype>(size));
    // A first byte of 0 to 127 makes the input one damaged document; another splits it in two.
    std::optional<QByteArray> backUp;
    QByteArray damaged = bytes;
    if (size > 1 && data[0] >= 128) {
        auto const split = 1 + qsizetype(size - 1) * (data[0] - 128) / 128;
        damaged = bytes.mid(1, split - 1);
        backUp = bytes.mid(split);
    }
    try {
        auto const salvage = zel::file_storage::salvageBudgetDocument(damaged, backUp);
        auto const& [ledger, budget, items, banks, types, surveys] = salvage.budget;
        QByteArray stored;
        QBuffer out(&stored);
        out.open(QIODevice::WriteOnly);
        zel::file_storage::internal::storeBudgetDocument(budget, ledger, banks, types, items,
                                                         surveys, &out, false);
        QBuffer in(&stored);
        in.open(QIODevice::ReadOnly);
        (void)zel::file_storage::internal::loadBudgetDocument(in);
    } catch (zel::storage::StorageError const&) {
        // Refused with a library error.
    }
    return 0;
}
