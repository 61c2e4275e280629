// check: whether a budget file loads, and what it holds.
#include "Tool.h"

#include <QJsonObject>

#include <set>

namespace zel::tool {

namespace {

struct Counts {
    std::size_t accounts = 0;
    std::size_t transactions = 0;
    std::size_t wages = 0, bills = 0, debts = 0, goals = 0, nontracks = 0;
    std::size_t banks = 0;
    std::size_t reconciliations = 0;
};

Counts countsOf(storage::BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    Counts counts;
    counts.accounts = ledger.ledgers().size();
    // A transaction is kept in the ledgers of both its accounts; count it once.
    std::set<unsigned> numbers;
    for (auto const& [code, account] : ledger.ledgers()) {
        for (auto const& [number, transaction] : account.transactions) {
            numbers.insert(number.integer());
        }
    }
    counts.transactions = numbers.size();
    counts.wages = budget.wages().size();
    counts.bills = budget.bills().size();
    counts.debts = budget.debts().size();
    counts.goals = budget.goals().size();
    counts.nontracks = budget.nontracks().size();
    counts.banks = banks.size();
    counts.reconciliations = surveys.size();
    return counts;
}

} // namespace

int check(Streams io, QString const& file, Options const& options) {
    auto const budgetFile = budgetFileAt(io, options, file, true);
    if (!budgetFile) {
        return 1;
    }
    try {
        auto const counts = countsOf(budgetFile->load());
        if (options.json) {
            printJson(io, file, true,
                      {{QStringLiteral("accounts"), qint64(counts.accounts)},
                       {QStringLiteral("transactions"), qint64(counts.transactions)},
                       {QStringLiteral("budgetItems"),
                        QJsonObject{{QStringLiteral("wages"), qint64(counts.wages)},
                                    {QStringLiteral("bills"), qint64(counts.bills)},
                                    {QStringLiteral("debts"), qint64(counts.debts)},
                                    {QStringLiteral("goals"), qint64(counts.goals)},
                                    {QStringLiteral("nontracks"), qint64(counts.nontracks)}}},
                       {QStringLiteral("banks"), qint64(counts.banks)},
                       {QStringLiteral("reconciliations"), qint64(counts.reconciliations)}});
        } else {
            io.out << file << ": OK: " << counts.accounts << " accounts, " << counts.transactions
                   << " transactions, budget items: " << counts.wages << " wages, " << counts.bills
                   << " bills, " << counts.debts << " debts, " << counts.goals << " goals, "
                   << counts.nontracks << " nontracks; " << counts.banks << " banks, "
                   << counts.reconciliations << " reconciliations\n";
        }
        return 0;
    } catch (storage::StorageError const& error) {
        if (options.json) {
            printJson(io, file, false, {{QStringLiteral("error"), errorObject(error)}});
        } else {
            io.out << file << ": NOT VALID\n  " << error.firstText() << "\n  " << error.secondText()
                   << '\n';
            if (auto const cause = causeOf(error); !cause.isEmpty()) {
                io.out << "  Cause: " << cause << '\n';
            }
        }
        return 1;
    }
}

} // namespace zel::tool
