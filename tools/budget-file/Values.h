#pragma once

#include "storage/Storage.h"

#include <QString>

#include <optional>
#include <vector>

// What export and diff read from a loaded budget, in the same way for both.
namespace zel::tool {

struct NumberedTransaction {
    unsigned number;
    accounting::Transaction const* transaction;
};

// Whether two transactions hold the same values (their accounts by number).
bool sameTransaction(accounting::Transaction const& a, accounting::Transaction const& b);

// Every transaction of the ledger once, in order of number. A transaction is held in the
// ledgers of both its accounts; where a hand-edited file holds copies of one number that
// differ, each distinct copy is kept (in the order of the ledgers that hold it), so that
// nothing the file holds is hidden.
std::vector<NumberedTransaction> transactionsOnce(accounting::GeneralLedger const& ledger);

// The amount of money as a decimal, without its currency: "1520.75", "-3.05". The minor part
// has at least two digits; one of 100 or more is written as stored, as moneyText does.
QString amountText(orvalis::currency::Money const& money);

// The number of the account that the item of kind Item and source is booked to, if any.
template <class Item>
std::optional<unsigned> itemAccount(storage::ItemAccountMap const& items,
                                    budgeting::BudgetSource const& source) {
    auto const& accounts = items.values<Item>();
    auto const found = accounts.find(source);
    if (found == accounts.end()) {
        return std::nullopt;
    }
    return found->second.number().integer();
}

} // namespace zel::tool
