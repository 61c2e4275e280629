#include "file-storage/document/StoredTexts.h"

#include <array>
#include <vector>

namespace zel::file_storage::internal {

QString currencyText(orvalis::currency::Money const& money) {
    // Filled once, thread-safely, then only read.
    static std::vector<QString> const texts = [] {
        std::vector<QString> result;
        for (auto const code : orvalis::currency::allIso4217Codes()) {
            auto const index = static_cast<std::size_t>(code);
            result.resize(std::max(result.size(), index + 1));
            result[index] = QString::fromStdString(orvalis::currency::toStdString(code));
        }
        return result;
    }();
    auto const index = static_cast<std::size_t>(money.code());
    if (index < texts.size()) {
        return texts[index];
    }
    // Not an active code: let the currency library say so.
    return QString::fromStdString(orvalis::currency::toStdString(money.code()));
}

QString statusText(accounting::TransactionStatuses status) {
    using accounting::TransactionStatuses;
    static std::array<QString, 3> const texts{
        accounting::presentationText(TransactionStatuses::pending),
        accounting::presentationText(TransactionStatuses::cleared),
        accounting::presentationText(TransactionStatuses::reconciled)};
    switch (status) {
    case TransactionStatuses::pending:
        return texts[0];
    case TransactionStatuses::cleared:
        return texts[1];
    case TransactionStatuses::reconciled:
        return texts[2];
    }
    return accounting::presentationText(status);
}

} // namespace zel::file_storage::internal
