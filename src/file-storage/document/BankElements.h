#pragma once

#include "file-storage/document/DocumentFormat.h"
#include "file-storage/document/TableElement.h"

#include <QString>
#include <QtGlobal>

#include <vector>

// The user's banks in the budget document: "banks" of "bank", each holding "account" elements
// that name a ledger account and the bank's type of it. Nothing here is checked on
// construction: any number and any text is kept as given.
namespace zel::file_storage::internal {

// A ledger account that a bank holds. Its "id" is a plain number, not an identifier of an
// indexed element: 0 is accepted.
struct BankAccountElement final : LeafElement<BankAccountElement> {
    static constexpr format::Element const& form_ = format::elementAt(names::bank, names::account);

    quint32 number = 0;
    // Display text of the bank's type of the account.
    QString type;

    BankAccountElement() = default;
    BankAccountElement(quint32 number, QString const& type);

    static constexpr auto fields() {
        return std::tuple{&BankAccountElement::number, &BankAccountElement::type};
    }
};

struct BankElement final : ParentElement<BankElement, BankAccountElement> {
    static constexpr format::Element const& form_ = format::elementAt(names::banks, names::bank);

    QString name;
    bool closed = false;
    std::vector<BankAccountElement> accounts;
    static constexpr auto children_ = &BankElement::accounts;

    BankElement() = default;
    BankElement(QString const& name, bool closed, std::vector<BankAccountElement> accounts);

    static constexpr auto fields() { return std::tuple{&BankElement::name, &BankElement::closed}; }
};

struct BanksElement final : ParentElement<BanksElement, BankElement> {
    static constexpr format::Element const& form_ =
        format::elementAt(names::application, names::banks);

    std::vector<BankElement> banks;
};

} // namespace zel::file_storage::internal
