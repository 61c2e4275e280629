// Feeds arbitrary bytes to the budget document reader. Any outcome but a library error or a
// good load is a finding: a crash, a hang, a sanitizer report, or another exception type.
#include "file-storage/Errors.h"
#include "file-storage/document/BudgetDocument.h"

#include <QBuffer>
#include <QLoggingCategory>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<char const*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly | QIODevice::Text);
    try {
        auto const state = zel::file_storage::internal::loadBudgetDocument(buffer);
        (void)state;
    } catch (zel::storage::StorageError const&) {
        // Refused with a library error: the expected outcome for broken input.
    }
    return 0;
}
