#include "sample-budgets/SampleBudget.h"

#include <QDate>
#include <QString>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

namespace zel::sample {

namespace {

using namespace accounting;
using namespace budgeting;
using namespace banking;
using orvalis::currency::Iso4217Codes;
using orvalis::currency::Money;

// The standard distributions differ between standard libraries; drawing straight from the
// engine keeps a seed's budget the same everywhere.
class Dice {
public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}
    // A number from low to high, both included.
    std::uint32_t between(std::uint32_t low, std::uint32_t high) {
        return low + static_cast<std::uint32_t>(engine_() % (std::uint64_t{high} - low + 1));
    }
    template <class T, std::size_t N> T const& pick(std::array<T, N> const& choices) {
        return choices[between(0, N - 1)];
    }
    template <class T> T const& pick(std::vector<T> const& choices) {
        return choices[between(0, static_cast<std::uint32_t>(choices.size() - 1))];
    }

private:
    std::mt19937 engine_;
};

Money money(std::uint32_t cents, Iso4217Codes code = Iso4217Codes::USD) {
    return Money(cents / 100, static_cast<std::uint16_t>(cents % 100), code);
}

AccountCode bare(AccountCode const& code) {
    return AccountCode(code.number(), code.name(), std::nullopt);
}

struct Chart {
    std::map<AccountCode, LedgerAccount> ledgers;
    std::vector<AccountCode> cash;     // where money is paid from and into
    std::vector<AccountCode> cards;    // liabilities that purchases go on
    std::vector<AccountCode> income;   // where wages come from
    std::vector<AccountCode> expenses; // where spending goes
    std::vector<AccountCode> savings;  // where goals put money
    AccountCode opening;

    AccountCode add(unsigned number, QString name, AccountTypes type,
                    std::optional<unsigned> parent, Money balance, bool closed = false) {
        std::optional<AccountNumber> parentNumber;
        if (parent) {
            parentNumber = AccountNumber(*parent);
        }
        AccountCode code(AccountNumber(number), std::move(name), parentNumber);
        ledgers.emplace(code, LedgerAccount{Account(type, code, balance, closed), {}});
        return code;
    }
};

Chart chartOfAccounts(std::uint32_t transactions, Dice& dice) {
    Chart chart;
    chart.add(1000, QStringLiteral("Assets"), AccountTypes::asset, std::nullopt, money(0));
    chart.cash.push_back(chart.add(1010, QStringLiteral("Everyday Checking"), AccountTypes::asset,
                                   1000, money(dice.between(50'000, 900'000))));
    chart.cash.push_back(chart.add(1020, QStringLiteral("Joint Checking"), AccountTypes::asset,
                                   1000, money(dice.between(10'000, 300'000))));
    chart.savings.push_back(chart.add(1100, QStringLiteral("Emergency Savings"),
                                      AccountTypes::asset, 1000,
                                      money(dice.between(100'000, 2'000'000))));
    chart.savings.push_back(chart.add(1110, QStringLiteral("Holiday Fund (EUR)"),
                                      AccountTypes::asset, 1000,
                                      money(dice.between(10'000, 500'000), Iso4217Codes::EUR)));
    chart.add(1200, QStringLiteral("Brokerage"), AccountTypes::asset, 1000,
              money(dice.between(0, 9'000'000)));
    chart.add(1300, QStringLiteral("Old Savings"), AccountTypes::asset, 1000, money(0), true);

    chart.add(2000, QStringLiteral("Liabilities"), AccountTypes::liability, std::nullopt, money(0));
    chart.cards.push_back(chart.add(2010, QStringLiteral("Visa Card"), AccountTypes::liability,
                                    2000, money(dice.between(0, 300'000))));
    chart.cards.push_back(chart.add(2020, QStringLiteral("Store Card"), AccountTypes::liability,
                                    2000, money(dice.between(0, 50'000))));
    chart.add(2100, QStringLiteral("Car Loan"), AccountTypes::liability, 2000,
              money(dice.between(500'000, 2'000'000)));

    chart.opening = chart.add(3000, QStringLiteral("Opening Balances"), AccountTypes::equity,
                              std::nullopt, money(0));

    chart.add(4000, QStringLiteral("Income"), AccountTypes::income, std::nullopt, money(0));
    chart.income.push_back(
        chart.add(4010, QStringLiteral("Salary"), AccountTypes::income, 4000, money(0)));
    chart.income.push_back(chart.add(4020, QStringLiteral("Interest & Dividends"),
                                     AccountTypes::income, 4000, money(0)));
    chart.income.push_back(
        chart.add(4030, QStringLiteral("Side Work"), AccountTypes::income, 4000, money(0)));

    static std::array const categories{
        QStringLiteral("Rent"),       QStringLiteral("Groceries"),
        QStringLiteral("Utilities"),  QStringLiteral("Transport"),
        QStringLiteral("Dining Out"), QStringLiteral("Health"),
        QStringLiteral("Insurance"),  QStringLiteral("Phone & Internet"),
        QStringLiteral("Gifts"),      QStringLiteral("Clothing"),
        QStringLiteral("Education"),  QStringLiteral("Home Repairs")};
    chart.add(5000, QStringLiteral("Expenses"), AccountTypes::expense, std::nullopt, money(0));
    // A heavier ledger brings finer spending categories.
    std::uint32_t const expenseCount = 12 + transactions / 50;
    for (std::uint32_t i = 0; i < expenseCount; ++i) {
        QString name = categories[i % categories.size()];
        if (i >= categories.size()) {
            name += QStringLiteral(" %1").arg(i / categories.size() + 1);
        }
        chart.expenses.push_back(
            chart.add(5010 + 10 * i, name, AccountTypes::expense, 5000, money(0)));
    }
    return chart;
}

void book(Chart& chart, Transaction const& t) {
    for (auto const* side : {&t.debiting(), &t.crediting()}) {
        chart.ledgers.find(*side)->second.transactions.insert_or_assign(*t.number(), t);
    }
}

void bookTransactions(Chart& chart, std::uint32_t count, Dice& dice) {
    static std::array const descriptions{
        QStringLiteral("Weekly shop"),          QStringLiteral("Monthly rent"),
        QStringLiteral("Power bill"),           QStringLiteral("Train pass"),
        QStringLiteral("Dinner with friends"),  QStringLiteral("Pharmacy"),
        QStringLiteral("Birthday present"),     QStringLiteral("Café & bakery"),
        QStringLiteral("Online order <#4512>"), QStringLiteral("Fuel"),
        QStringLiteral("Book: \"Thrift\""),     QStringLiteral("Plumber")};
    QDate const today(2026, 11, 30);
    // At least a year of history, more for a heavier ledger.
    auto const days = static_cast<std::uint32_t>(std::max<std::uint32_t>(400, count / 20));
    QDate const start = today.addDays(-static_cast<qint64>(days));

    // The opening balances count among the transactions asked for.
    unsigned number = 1;
    for (auto const& account : chart.cash) {
        if (count == 0) {
            return;
        }
        --count;
        book(chart,
             Transaction(start, bare(account), chart.opening, money(dice.between(10'000, 500'000)),
                         QStringLiteral("Opening balance"), TransactionNumber(number++),
                         TransactionStatuses::reconciled));
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        // Dates grow along the numbers, as they do in a real ledger.
        QDate const date = start.addDays(
            static_cast<qint64>(std::uint64_t{i} * days / std::max<std::uint32_t>(count, 1)));
        auto const age = date.daysTo(today);
        auto const status = age > 60   ? TransactionStatuses::reconciled
                            : age > 10 ? TransactionStatuses::cleared
                                       : TransactionStatuses::pending;
        std::optional<QString> description;
        if (dice.between(0, 3) > 0) {
            description = dice.pick(descriptions);
        }
        AccountCode debit = bare(dice.pick(chart.expenses));
        AccountCode credit = bare(dice.pick(chart.cash));
        auto amount = money(dice.between(100, 25'000));
        switch (dice.between(0, 9)) {
        case 0: // income arrives
            debit = bare(dice.pick(chart.cash));
            credit = bare(dice.pick(chart.income));
            amount = money(dice.between(50'000, 600'000));
            break;
        case 1: // a purchase on a card
            credit = bare(dice.pick(chart.cards));
            break;
        case 2: // paying a card off
            debit = bare(dice.pick(chart.cards));
            amount = money(dice.between(5'000, 200'000));
            break;
        case 3: // saving
            debit = bare(dice.pick(chart.savings));
            if (debit.number().integer() == 1110) {
                amount = money(dice.between(1'000, 50'000), Iso4217Codes::EUR);
            }
            break;
        default: // spending from cash
            break;
        }
        book(chart, Transaction(date, debit, credit, amount, description,
                                TransactionNumber(number++), status));
    }
}

Budget budgetItems(Chart const& chart, std::uint32_t transactions, Dice& dice,
                   storage::ItemAccountMap& items, std::vector<BudgetItemIdentifier>& identifiers) {
    Budget budget{WageMap(), BillMap(), DebtMap(), GoalMap(), NontrackMap()};
    QDate const soon(2026, 12, 1);
    static std::array const frequencies{EventFrequency::weekly, EventFrequency::fortnightly,
                                        EventFrequency::monthly, EventFrequency::quarterly,
                                        EventFrequency::annually};
    static std::array const currencies{Iso4217Codes::USD, Iso4217Codes::USD, Iso4217Codes::EUR,
                                       Iso4217Codes::GBP, Iso4217Codes::CAD, Iso4217Codes::JPY};
    auto next = [&] { return soon.addDays(dice.between(0, 60)); };

    auto const wages = std::array{QStringLiteral("Salary"), QStringLiteral("Side Work"),
                                  QStringLiteral("Dividends")};
    for (std::size_t i = 0; i < wages.size(); ++i) {
        BudgetSource const source(wages[i]);
        budget.wages().add(Wage(source, money(dice.between(20'000, 600'000), dice.pick(currencies)),
                                i == 0 ? EventFrequency::monthly : dice.pick(frequencies), next()));
        items.insert<Wage>(source, chart.income[i % chart.income.size()]);
        identifiers.push_back({BudgetItemTypes::wage, source});
    }
    // One bill per spending category, so a heavier budget has more of them.
    std::uint32_t const billCount = std::min<std::uint32_t>(
        static_cast<std::uint32_t>(chart.expenses.size()), 8 + transactions / 200);
    for (std::uint32_t i = 0; i < billCount; ++i) {
        auto const& account = chart.expenses[i];
        BudgetSource const source(account.name());
        budget.bills().add(Bill(source, money(dice.between(1'000, 250'000), dice.pick(currencies)),
                                dice.pick(frequencies), next()));
        items.insert<Bill>(source, account);
        identifiers.push_back({BudgetItemTypes::bill, source});
    }
    auto const debts = std::array{QStringLiteral("Visa Card"), QStringLiteral("Car Loan")};
    for (auto const& name : debts) {
        BudgetSource const source(name);
        auto const code = dice.pick(currencies);
        budget.debts().add(
            Debt(source, money(dice.between(2'000, 60'000), code), EventFrequency::monthly, next(),
                 money(dice.between(100'000, 3'000'000), code),
                 Percentage{static_cast<double>(dice.between(100, 2999)) / 10000.0}));
        items.insert<Debt>(source, chart.cards.front());
        identifiers.push_back({BudgetItemTypes::debt, source});
    }
    auto const goals =
        std::array{QStringLiteral("Emergency Fund"), QStringLiteral("Holiday in Lisbon"),
                   QStringLiteral("New Laptop")};
    for (std::size_t i = 0; i < goals.size(); ++i) {
        BudgetSource const source(goals[i]);
        auto const code = i == 1 ? Iso4217Codes::EUR : Iso4217Codes::USD;
        budget.goals().add(Goal(source, money(dice.between(5'000, 50'000), code),
                                EventFrequency::monthly, next(),
                                money(dice.between(100'000, 1'500'000), code)));
        items.insert<Goal>(source, chart.savings[i % chart.savings.size()]);
        identifiers.push_back({BudgetItemTypes::goal, source});
    }
    auto const nontracks = std::array{QStringLiteral("Pocket Money"), QStringLiteral("Coffee ☕"),
                                      QStringLiteral("Hobbies & Games")};
    for (auto const& name : nontracks) {
        BudgetSource const source(name);
        budget.nontracks().add(Nontrack(source,
                                        money(dice.between(1'000, 20'000), dice.pick(currencies)),
                                        EventFrequency::weekly, next()));
        items.insert<Nontrack>(source, chart.cash.front());
        identifiers.push_back({BudgetItemTypes::nontrack, source});
    }
    return budget;
}

} // namespace

storage::BudgetState sampleBudget(std::uint32_t transactions, std::uint32_t seed) {
    Dice dice(seed);
    auto chart = chartOfAccounts(transactions, dice);
    bookTransactions(chart, transactions, dice);
    storage::ItemAccountMap items;
    std::vector<BudgetItemIdentifier> identifiers;
    auto budget = budgetItems(chart, transactions, dice, items, identifiers);

    // Banks hold the cash, savings and card accounts; a heavier budget spreads them over
    // more banks, each account held by exactly one.
    static std::array const bankNames{
        QStringLiteral("First Street Bank"), QStringLiteral("Harbour Credit Union"),
        QStringLiteral("Northern Savings"), QStringLiteral("Online Bank AG")};
    std::vector<std::pair<AccountCode, SupportedAccountTypes>> held;
    for (auto const& c : chart.cash) {
        held.emplace_back(c, SupportedAccountTypes::checking);
    }
    for (auto const& c : chart.savings) {
        held.emplace_back(c, SupportedAccountTypes::savings);
    }
    for (auto const& c : chart.cards) {
        held.emplace_back(c, SupportedAccountTypes::creditCard);
    }
    held.emplace_back(chart.ledgers.find(AccountCode(AccountNumber(1200), std::nullopt))->first,
                      SupportedAccountTypes::investment);
    held.emplace_back(chart.ledgers.find(AccountCode(AccountNumber(2100), std::nullopt))->first,
                      SupportedAccountTypes::loan);
    auto const bankCount = std::min<std::size_t>(bankNames.size(), 2 + transactions / 5000);
    std::map<BankName, Bank> banks;
    AccountTypeMap types;
    std::map<BankName, std::set<AccountNumber>> holdings;
    for (std::size_t i = 0; i < held.size(); ++i) {
        BankName const name(bankNames[i % bankCount]);
        holdings[name].insert(held[i].first.number());
        types[name][held[i].first.number()] = held[i].second;
    }
    for (std::size_t i = 0; i < bankCount; ++i) {
        BankName const name(bankNames[i]);
        banks.emplace(name, Bank(name, holdings[name], false));
    }

    // Reconcile the cash and card accounts, spreading their balance over a few budget items.
    std::map<BankAccount, surveying::ReconciledSurvey> surveys;
    for (auto const& [bank, accounts] : types) {
        for (auto const& [number, type] : accounts) {
            if (type != SupportedAccountTypes::checking &&
                type != SupportedAccountTypes::creditCard &&
                type != SupportedAccountTypes::savings) {
                continue;
            }
            auto const& full = chart.ledgers.find(AccountCode(number, std::nullopt))->first;
            BankAccount const key{bank, bare(full), type};
            surveying::ReconciledSurvey::Distribution distribution;
            for (auto n = dice.between(1, 4); n > 0; --n) {
                distribution.insert_or_assign(dice.pick(identifiers),
                                              money(dice.between(100, 100'000)));
            }
            std::optional<QDate> on;
            std::optional<QString> checksum;
            if (dice.between(0, 3) > 0) {
                on = QDate(2026, 11, 1).addDays(dice.between(0, 28));
                checksum = QString::number(dice.between(0, 0xFFFFFF), 16).rightJustified(6, u'0');
            }
            surveys.emplace(key,
                            surveying::ReconciledSurvey(
                                ReconciledBankAccount(key, money(dice.between(0, 900'000)), on),
                                std::move(distribution), checksum));
        }
    }

    auto const opening = bare(chart.opening);
    return {GeneralLedger(std::move(chart.ledgers), opening),
            std::move(budget),
            std::move(items),
            BankMap(std::move(banks)),
            std::move(types),
            surveying::ReconciledSurveys(std::move(surveys))};
}

} // namespace zel::sample
