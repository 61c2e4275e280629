#pragma once

#include "sample-budgets/SampleBudget.h"
#include "support/Budgets.h"

#include <QString>

#include <stdexcept>

// The program zel_budget_file_store_child stores one budget with BudgetFile::store, so that a
// test can run a store in a process of its own (under the fault-injection layer, or to kill
// it part-way).
//
//     zel_budget_file_store_child [--file-size-limit BYTES] PATH BUDGET [EXTENSION]
//
// stores the budget named BUDGET (see budgetNamed) to the absolute PATH, with the back-up
// extension EXTENSION (default "~"). With --file-size-limit it first limits the size of the
// files it writes to BYTES (RLIMIT_FSIZE, with SIGXFSZ ignored), so that a write beyond it
// fails with EFBIG as on a full disk. On standard output it prints one line per log record
// ("log", TAB, debug/info/warning/critical/fatal, TAB, text) and, when the store throws a
// storage error, its two texts ("first", TAB, text and "second", TAB, text). It exits with 0
// when the store succeeds, 1 on a storage error and 2 on any other exception.
namespace zel::testing::store_child {

// "empty", "small" (smallFullBudget), "random:SEED", "sample:TRANSACTIONS:SEED" (the realistic
// sample budget), or "untyped": the small full budget with one bank account, 101 of
// "First Bank", missing from the account type map, which the writer refuses.
inline storage::BudgetState budgetNamed(QString const& name) {
    if (name == QLatin1String("empty")) {
        return emptyBudget();
    }
    if (name == QLatin1String("small")) {
        return smallFullBudget();
    }
    if (name == QLatin1String("untyped")) {
        auto state = smallFullBudget();
        std::get<banking::AccountTypeMap>(state)
            .at(banking::BankName(QStringLiteral("First Bank")))
            .erase(accounting::AccountNumber(101));
        return state;
    }
    if (name.startsWith(QLatin1String("random:"))) {
        return randomBudget(name.mid(7).toUInt());
    }
    if (name.startsWith(QLatin1String("sample:"))) {
        auto const numbers = name.mid(7).split(QLatin1Char(':'));
        if (numbers.size() == 2) {
            return sample::sampleBudget(numbers[0].toUInt(), numbers[1].toUInt());
        }
    }
    throw std::invalid_argument("unknown budget name");
}

} // namespace zel::testing::store_child
