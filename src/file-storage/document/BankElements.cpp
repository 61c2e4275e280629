#include "file-storage/document/BankElements.h"

#include <utility>

namespace zel::file_storage::internal {

BankAccountElement::BankAccountElement(quint32 accountNumber, QString const& typeText)
    : number(accountNumber), type(typeText) {}

BankElement::BankElement(QString const& institution, bool isClosed,
                         std::vector<BankAccountElement> heldAccounts)
    : name(institution), closed(isClosed), accounts(std::move(heldAccounts)) {}

} // namespace zel::file_storage::internal
