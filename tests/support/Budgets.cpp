#include "support/Budgets.h"

#include "file-storage/document/BudgetDocument.h"
#include "support/LogCapture.h"
#include "support/Manifest.h"

#include <QBuffer>

#include <QDate>
#include <QString>
#include <QTextStream>

#include <random>
#include <vector>

namespace zel::testing {

namespace {

using namespace accounting;
using namespace budgeting;
using namespace banking;
using orvalis::currency::Iso4217Codes;
using orvalis::currency::Money;

// A transaction seen from both of its accounts' ledgers, as the application keeps it.
void book(std::map<AccountCode, LedgerAccount>& ledgers, Transaction const& t) {
    for (auto const* side : {&t.debiting(), &t.crediting()}) {
        auto found = ledgers.find(*side);
        if (found != ledgers.end()) {
            found->second.transactions.insert_or_assign(*t.number(), t);
        }
    }
}

} // namespace

storage::BudgetState emptyBudget() {
    return {GeneralLedger({}, std::nullopt),
            Budget(WageMap(), BillMap(), DebtMap(), GoalMap(), NontrackMap()),
            storage::ItemAccountMap(),
            BankMap(),
            AccountTypeMap(),
            surveying::ReconciledSurveys()};
}

storage::BudgetState smallFullBudget() {
    // Read once: a test that acts as another user may no longer be able to read the checkout.
    static storage::BudgetState const state = [] {
        auto document = dataFile(QStringLiteral("documents/canonical/small-full.xml"));
        QBuffer device(&document);
        device.open(QIODevice::ReadOnly | QIODevice::Text);
        LogCapture const quiet;
        return file_storage::internal::loadBudgetDocument(device);
    }();
    return state;
}

storage::BudgetState randomBudget(std::uint32_t seed) {
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto index = [&](std::size_t size) {
        return static_cast<std::size_t>(pick(0, static_cast<int>(size) - 1));
    };
    static QString const pieces[] = {
        QStringLiteral("a"),    QStringLiteral("Rent"), QStringLiteral(" "),  QStringLiteral("&"),
        QStringLiteral("<"),    QStringLiteral("\""),   QStringLiteral("'"),  QStringLiteral("é"),
        QStringLiteral("日本"), QStringLiteral("😀"),    QStringLiteral("\t"), QStringLiteral("%1"),
        QStringLiteral("]]>"),  QStringLiteral("0")};
    auto text = [&](int minimum) {
        QString result;
        int const count = pick(minimum, 4);
        for (int i = 0; i < count; ++i) {
            result += pieces[index(std::size(pieces))];
        }
        return result;
    };
    auto const& codes = orvalis::currency::allIso4217Codes();
    auto money = [&] {
        return Money(pick(-1'000'000, 1'000'000) * std::int64_t{pick(1, 1000)},
                     static_cast<std::uint16_t>(pick(0, 65535)), codes[index(codes.size())]);
    };
    auto date = [&] { return QDate(pick(1900, 2200), pick(1, 12), pick(1, 28)); };

    std::vector<AccountCode> codesInUse;
    std::map<AccountCode, LedgerAccount> ledgers;
    int const accountCount = pick(1, 12);
    for (int i = 0; i < accountCount; ++i) {
        std::optional<AccountNumber> parent;
        if (!codesInUse.empty() && pick(0, 1)) {
            parent = codesInUse[index(codesInUse.size())].number();
        }
        AccountCode const c(AccountNumber(static_cast<unsigned>(pick(1, 1'000'000))), text(1),
                            parent);
        if (ledgers.find(c) != ledgers.end()) {
            continue;
        }
        codesInUse.push_back(c);
        ledgers.emplace(c, LedgerAccount{Account(static_cast<AccountTypes>(pick(0, 4)), c, money(),
                                                 pick(0, 1) == 1),
                                         {}});
    }
    int const transactionCount = pick(0, 30);
    for (int i = 0; i < transactionCount; ++i) {
        auto const& debit = codesInUse[index(codesInUse.size())];
        auto const& credit = codesInUse[index(codesInUse.size())];
        std::optional<QString> description;
        if (pick(0, 2) > 0) {
            description = text(1);
        }
        Transaction const t(date(), AccountCode(debit.number(), debit.name(), std::nullopt),
                            AccountCode(credit.number(), credit.name(), std::nullopt), money(),
                            description, TransactionNumber(static_cast<unsigned>(i + 1)),
                            static_cast<TransactionStatuses>(pick(0, 2)));
        book(ledgers, t);
    }

    Budget budget{WageMap(), BillMap(), DebtMap(), GoalMap(), NontrackMap()};
    storage::ItemAccountMap items;
    std::vector<BudgetItemIdentifier> itemIds;
    auto account = [&] { return codesInUse[index(codesInUse.size())]; };
    auto frequency = [&] { return static_cast<EventFrequency>(pick(0, 7)); };
    for (int i = pick(0, 6); i > 0; --i) {
        BudgetSource const source(text(1));
        auto const amount = money();
        auto const currency = amount.code();
        auto sameCurrency = [&] {
            return Money(pick(0, 100000), static_cast<std::uint16_t>(pick(0, 99)), currency);
        };
        try {
            switch (pick(0, 4)) {
            case 0:
                budget.wages().add(Wage(source, amount, frequency(), date()));
                items.insert<Wage>(source, account());
                itemIds.push_back({BudgetItemTypes::wage, source});
                break;
            case 1:
                budget.bills().add(Bill(source, amount, frequency(), date()));
                items.insert<Bill>(source, account());
                itemIds.push_back({BudgetItemTypes::bill, source});
                break;
            case 2:
                budget.debts().add(
                    Debt(source, amount, frequency(), date(), sameCurrency(),
                         Percentage{std::uniform_real_distribution<double>(0, 40)(random)}));
                items.insert<Debt>(source, account());
                itemIds.push_back({BudgetItemTypes::debt, source});
                break;
            case 3:
                budget.goals().add(Goal(source, amount, frequency(), date(), sameCurrency()));
                items.insert<Goal>(source, account());
                itemIds.push_back({BudgetItemTypes::goal, source});
                break;
            default:
                budget.nontracks().add(Nontrack(source, amount, frequency(), date()));
                items.insert<Nontrack>(source, account());
                itemIds.push_back({BudgetItemTypes::nontrack, source});
                break;
            }
        } catch (foundation::Error const&) {
            // The same source twice in one kind: the budget keeps the first.
        }
    }

    std::map<BankName, Bank> banks;
    AccountTypeMap types;
    for (int i = pick(0, 3); i > 0; --i) {
        BankName const name(text(1));
        std::set<AccountNumber> held;
        for (int j = pick(0, 3); j > 0; --j) {
            auto const number = account().number();
            held.insert(number);
            types[name][number] = static_cast<SupportedAccountTypes>(pick(0, 4));
        }
        banks.insert_or_assign(name, Bank(name, held, pick(0, 1) == 1));
    }

    // Reconcile some held accounts against the first bank, by name, that holds them: that is
    // the bank a reader finds for the account.
    std::map<BankAccount, surveying::ReconciledSurvey> surveys;
    std::set<AccountNumber> reconciled;
    for (auto const& [bank, accounts] : types) {
        for (auto const& [number, type] : accounts) {
            if (!reconciled.insert(number).second || pick(0, 1) == 0) {
                continue;
            }
            auto const& full = ledgers.find(AccountCode(number, std::nullopt))->first;
            BankAccount const key{bank, AccountCode(number, full.name(), std::nullopt), type};
            surveying::ReconciledSurvey::Distribution distribution;
            for (int j = itemIds.empty() ? 0 : pick(0, 3); j > 0; --j) {
                distribution.insert_or_assign(itemIds[index(itemIds.size())], money());
            }
            std::optional<QDate> on;
            if (pick(0, 1)) {
                on = date();
            }
            std::optional<QString> checksum;
            if (pick(0, 1)) {
                checksum = text(1);
            }
            surveys.emplace(key,
                            surveying::ReconciledSurvey(ReconciledBankAccount(key, money(), on),
                                                        std::move(distribution), checksum));
        }
    }

    std::optional<AccountCode> opening;
    if (pick(0, 1)) {
        auto const c = account();
        opening = AccountCode(c.number(), c.name(), std::nullopt);
    }
    return {GeneralLedger(std::move(ledgers), opening),
            std::move(budget),
            std::move(items),
            BankMap(std::move(banks)),
            std::move(types),
            surveying::ReconciledSurveys(std::move(surveys))};
}

namespace {

QString show(Money const& m) {
    return QStringLiteral("%1.%2 %3")
        .arg(m.major())
        .arg(m.minor())
        .arg(QString::fromStdString(orvalis::currency::toStdString(m.code())));
}

QString show(AccountCode const& c) {
    return QStringLiteral("%1 [%2] parent=%3")
        .arg(c.number().integer())
        .arg(c.name())
        .arg(c.parent() ? QString::number(c.parent()->integer()) : QStringLiteral("none"));
}

template <class T> QString show(std::optional<T> const& value) {
    if (!value) {
        return QStringLiteral("none");
    }
    if constexpr (std::is_same_v<T, QDate>) {
        return value->toString(Qt::ISODate);
    } else {
        return QLatin1Char('[') + *value + QLatin1Char(']');
    }
}

template <class Map, class Extra>
void describeItems(QTextStream& out, char const* kind, Map const& map,
                   storage::ItemAccountMap const& items, Extra extra) {
    using Item = typename Map::Items::mapped_type;
    for (auto const& [source, item] : map) {
        out << kind << " [" << source.name() << "] " << show(item.amount()) << ' '
            << presentationText(item.period()) << ' ' << item.nextOccurOn().toString(Qt::ISODate)
            << " account=" << show(items.at<Item>(source)) << extra(item) << '\n';
    }
}

} // namespace

std::string describe(storage::BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    QString text;
    QTextStream out(&text);
    for (auto const& [key, ledgerAccount] : ledger.ledgers()) {
        auto const& a = ledgerAccount.account;
        out << "account " << show(key) << " code=" << show(a.code()) << ' '
            << presentationText(a.type()) << ' ' << show(a.balance())
            << (a.isClosed() ? " closed" : "") << '\n';
        for (auto const& [number, t] : ledgerAccount.transactions) {
            out << "  transaction " << number.integer() << ' '
                << t.occurredOn().toString(Qt::ISODate) << " debit=" << show(t.debiting())
                << " credit=" << show(t.crediting()) << ' ' << show(t.amount()) << ' '
                << presentationText(t.status()) << " description=" << show(t.description()) << '\n';
        }
    }
    out << "opening "
        << (ledger.openingAccountCode() ? show(*ledger.openingAccountCode())
                                        : QStringLiteral("none"))
        << '\n';
    auto none = [](auto const&) { return QString(); };
    describeItems(out, "wage", budget.wages(), items, none);
    describeItems(out, "bill", budget.bills(), items, none);
    describeItems(out, "debt", budget.debts(), items, [](Debt const& d) {
        return QStringLiteral(" borrowed=%1 interest=%2")
            .arg(show(d.borrowed()), QString::number(d.interest().value, 'g', 6));
    });
    describeItems(out, "goal", budget.goals(), items,
                  [](Goal const& g) { return QStringLiteral(" final=%1").arg(show(g.final())); });
    describeItems(out, "nontrack", budget.nontracks(), items, none);
    for (auto const& [name, bank] : banks) {
        out << "bank [" << name.institution() << "]" << (bank.isClosed() ? " closed" : "");
        for (auto const& number : bank.accounts()) {
            out << ' ' << number.integer();
        }
        out << '\n';
    }
    for (auto const& [name, accounts] : types) {
        for (auto const& [number, type] : accounts) {
            out << "type [" << name.institution() << "] " << number.integer() << ' '
                << presentationText(type) << '\n';
        }
    }
    for (auto const& [key, survey] : surveys) {
        out << "survey [" << key.bank.institution() << "] " << show(key.code) << ' '
            << presentationText(key.type) << " balance=" << show(survey.reconciled().balance())
            << " on=" << show(survey.reconciled().reconciledOn())
            << " checksum=" << show(survey.checksum()) << '\n';
        for (auto const& [item, amount] : survey.distribution()) {
            out << "  distribution " << toWeak(item.type) << " [" << item.source.name() << "] "
                << show(amount) << '\n';
        }
    }
    out.flush();
    return text.toStdString();
}

} // namespace zel::testing
