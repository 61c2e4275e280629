// Any document that loads must survive a save: stored to memory and loaded again, it must load,
// and storing that again must write the same bytes. A budget that loads but cannot be loaded
// back once stored would leave the user, after one save, with a budget file that no longer
// opens. The store may refuse a budget with a library error; it must not accept one that it
// cannot give back.
#include "file-storage/Errors.h"
#include "file-storage/document/BudgetDocument.h"

#include <QBuffer>
#include <QLoggingCategory>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

using zel::storage::BudgetState;

std::optional<BudgetState> load(QByteArray document) {
    QBuffer buffer(&document);
    buffer.open(QIODevice::ReadOnly | QIODevice::Text);
    try {
        return zel::file_storage::internal::loadBudgetDocument(buffer);
    } catch (zel::storage::StorageError const&) {
        return std::nullopt;
    }
}

QByteArray store(BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    QByteArray document;
    QBuffer buffer(&document);
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    zel::file_storage::internal::storeBudgetDocument(budget, ledger, banks, types, items, surveys,
                                                     &buffer, false);
    return document;
}

[[noreturn]] void finding(char const* what, QByteArray const& document) {
    std::fprintf(stderr, "%s\nThe stored document:\n%s\n", what, document.constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    auto const loaded =
        load(QByteArray(reinterpret_cast<char const*>(data), static_cast<qsizetype>(size)));
    if (!loaded) {
        return 0;
    }
    QByteArray stored;
    try {
        stored = store(*loaded);
    } catch (zel::file_storage::BudgetFileError const&) {
        // Refused before anything is written: the budget file would keep the previous budget.
        return 0;
    }
    auto const reloaded = load(stored);
    if (!reloaded) {
        finding("A stored document does not load.", stored);
    }
    if (store(*reloaded) != stored) {
        finding("A stored document, loaded and stored again, gives other bytes.", stored);
    }
    return 0;
}
