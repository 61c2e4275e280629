#pragma once

#include "sample-budgets/SampleBudget.h"
#include "support/Budgets.h"

#include <QString>

#include <functional>
#include <stdexcept>

// The program zel_budget_file_store_child stores or loads a budget file in a process of its own,
// so that a test can kill it part-way, fail its file steps, or run several at once:
//
//     zel_budget_file_store_child [OPTIONS] store PATH BUDGET
//     zel_budget_file_store_child [OPTIONS] load PATH BUDGET...
//     zel_budget_file_store_child [OPTIONS] restore PATH BUDGET
//
// store stores the budget named BUDGET (see budgetNamed) to the absolute PATH, and prints
// "stored", TAB, its name; load loads PATH and prints which of the BUDGETs it holds ("loaded",
// TAB, the name, or "?" for none of them); restore restores PATH's back-up and prints "restored",
// TAB, the path where the replaced file is kept. Options:
//   --times N              do it N times (default once)
//   --umask OCTAL          make files with this mask (not on Windows)
//   --fail STEP            fail the step that STEP names (StoreSeam.h's text); repeatable
//   --fail-at N, --fail-from N, --kill-at N
//                          fail the N-th step, fail it and every later one, or die by SIGKILL
//                          before it runs
//   --trace                print every step ("step", TAB, StoreSeam.h's trace line)
// When a store or load throws a storage error it prints its two texts ("first", TAB, text and
// "second", TAB, text). It exits with 0 on success, 1 on a storage error and 2 on anything else.
// It prints nothing else (log records go to standard error, debug records filtered out), so
// that children side by side never block on a full pipe while they hold the lock.
namespace zel::testing::store_child {

// "empty", "small" (smallFullBudget), "random:SEED", "sample:TRANSACTIONS:SEED" (the realistic
// sample budget), or "refused": the small full budget with one bank account, 101 of
// "First Bank", missing from the account type map, which the store refuses.
inline storage::BudgetState budgetNamed(QString const& name) {
    if (name == QLatin1String("empty")) {
        return emptyBudget();
    }
    if (name == QLatin1String("small")) {
        return smallFullBudget();
    }
    if (name == QLatin1String("refused")) {
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

// What the program does with its arguments, each line it prints given to print. Threads may run
// it side by side when it has no fault or trace to install.
int storeOrLoad(QStringList arguments, std::function<void(QString const& line)> const& print);

} // namespace zel::testing::store_child
