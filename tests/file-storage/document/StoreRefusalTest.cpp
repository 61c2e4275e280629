// Budget states that no document can give, which the store must refuse rather than write a
// file that does not load or loads to another budget: the changes to the small full budget of
// tests/support in tests/data/documents/refused-values.manifest. (A debt whose interest is not a
// number loads from a document and is stored as "nan": a row of canonical.manifest.)
#include "DocumentSupport.h"

#include "support/Budgets.h"
#include "support/Manifest.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using namespace zel::accounting;
using namespace zel::banking;
using namespace zel::budgeting;
using zel::storage::BudgetState;
using zel::surveying::ReconciledSurvey;
using zel::surveying::ReconciledSurveys;

orvalis::currency::Money const dollar(1, 0, orvalis::currency::Iso4217Codes::USD);

AccountCode code(unsigned number, QString const& name = {}) {
    return AccountCode(AccountNumber(number), name, std::nullopt);
}

// The small full budget, in parts that a case can change.
struct Parts {
    BudgetState s = zel::testing::smallFullBudget();
    std::map<AccountCode, LedgerAccount> ledgers = std::get<GeneralLedger>(s).ledgers();
    std::optional<AccountCode> opening = std::get<GeneralLedger>(s).openingAccountCode();
    BankMap::Banks banks{std::get<BankMap>(s).begin(), std::get<BankMap>(s).end()};
    ReconciledSurveys::Surveys surveys{std::get<ReconciledSurveys>(s).begin(),
                                       std::get<ReconciledSurveys>(s).end()};

    BudgetState state() const {
        auto result = s;
        std::get<GeneralLedger>(result) = GeneralLedger(ledgers, opening);
        std::get<BankMap>(result) = BankMap(banks);
        std::get<ReconciledSurveys>(result) = ReconciledSurveys(surveys);
        return result;
    }

    // An item of kind Item named name, due on, booked to account unless none.
    template <class Item>
    void item(QString const& name, std::optional<unsigned> account, QDate on = {2026, 1, 1},
              double interest = 0.1) {
        BudgetSource const source(name);
        auto& budget = std::get<Budget>(s);
        auto const once = EventFrequency::once;
        if constexpr (std::is_same_v<Item, Wage>) {
            budget.wages().add(Wage(source, dollar, once, on));
        } else if constexpr (std::is_same_v<Item, Bill>) {
            budget.bills().add(Bill(source, dollar, once, on));
        } else if constexpr (std::is_same_v<Item, Debt>) {
            budget.debts().add(Debt(source, dollar, once, on, dollar, Percentage{interest}));
        } else if constexpr (std::is_same_v<Item, Goal>) {
            budget.goals().add(Goal(source, dollar, once, on, dollar));
        } else {
            budget.nontracks().add(Nontrack(source, dollar, once, on));
        }
        if (account) {
            std::get<zel::storage::ItemAccountMap>(s).insert<Item>(source, code(*account));
        }
    }

    // A transaction of one dollar, held in the ledgers of the given accounts.
    void hold(unsigned number, unsigned debit, unsigned credit, std::vector<unsigned> in,
              std::optional<QString> description = {}, QDate on = {2026, 1, 5}) {
        for (auto const n : in) {
            ledgers.at(code(n)).transactions.insert_or_assign(
                TransactionNumber(number),
                Transaction(on, code(debit), code(credit), dollar, description,
                            TransactionNumber(number), TransactionStatuses::pending));
        }
    }

    void account(unsigned number, QString const& name) {
        ledgers.emplace(
            code(number, name),
            LedgerAccount{Account(AccountTypes::asset, code(number, name), dollar, false), {}});
    }

    void bank(QString const& name, std::set<AccountNumber> const& accounts = {}) {
        for (auto const& number : accounts) {
            std::get<AccountTypeMap>(s)[BankName(name)][number] = SupportedAccountTypes::checking;
        }
        banks.insert_or_assign(BankName(name), Bank(BankName(name), accounts, false));
    }

    // Reconciles the account at the bank, replacing a reconciliation of that bank account.
    void reconcile(QString const& bank, unsigned account,
                   ReconciledSurvey::Distribution distribution = {},
                   std::optional<QString> checksum = {}, std::optional<QDate> on = {}) {
        BankAccount const key{BankName(bank), code(account), SupportedAccountTypes::checking};
        surveys.insert_or_assign(key, ReconciledSurvey(ReconciledBankAccount(key, dollar, on),
                                                       std::move(distribution), checksum));
    }
};

// A text of the manifest, each \uXXXX in it turned into that UTF-16 unit.
QString unescaped(QString text) {
    for (auto at = text.indexOf(QLatin1String("\\u")); at >= 0;
         at = text.indexOf(QLatin1String("\\u"), at + 1)) {
        text.replace(at, 6, QChar(text.mid(at + 2, 4).toUShort(nullptr, 16)));
    }
    return text;
}

// "Y M D", "invalid" (a date that is no date), or nothing ("-" or no field).
std::optional<QDate> dateOf(QStringList const& fields, qsizetype at) {
    if (fields.size() <= at || fields[at] == QLatin1String("-")) {
        return std::nullopt;
    }
    auto const n = fields[at].split(QLatin1Char(' '));
    return n.size() == 3 ? QDate(n[0].toInt(), n[1].toInt(), n[2].toInt()) : QDate();
}

// Makes one change line of the manifest (see its head) to parts.
void change(Parts& p, std::string const& line) {
    QStringList f;
    for (auto const& field : QString::fromStdString(line).split(QLatin1Char('|'))) {
        f << (field.trimmed().isEmpty() ? QString() : unescaped(field.trimmed()));
    }
    auto const n = [&](qsizetype at) { return f[at].toUInt(); };
    auto const text = [&](qsizetype at) {
        return f.size() <= at || f[at] == QLatin1String("-") ? std::nullopt : std::optional(f[at]);
    };
    auto const& op = f[0];
    if (op == QLatin1String("item")) {
        auto const account = f[3] == QLatin1String("-") ? std::nullopt : std::optional(n(3));
        QDate const on = dateOf(f, 4).value_or(QDate(2026, 1, 1));
        double const interest = f.size() > 5 ? std::stod(f[5].toStdString()) : 0.1;
        auto const add = [&]<class Item>(std::type_identity<Item>) {
            p.item<Item>(f[2], account, on, interest);
        };
        f[1] == QLatin1String("wage")   ? add(std::type_identity<Wage>())
        : f[1] == QLatin1String("bill") ? add(std::type_identity<Bill>())
        : f[1] == QLatin1String("debt") ? add(std::type_identity<Debt>())
        : f[1] == QLatin1String("goal") ? add(std::type_identity<Goal>())
                                        : add(std::type_identity<Nontrack>());
    } else if (op == QLatin1String("account")) {
        p.account(n(1), f[2]);
    } else if (op == QLatin1String("bank")) {
        std::set<AccountNumber> accounts;
        for (qsizetype i = 2; i < f.size(); ++i) {
            accounts.insert(AccountNumber(n(i)));
        }
        p.bank(f[1], accounts);
    } else if (op == QLatin1String("hold")) {
        std::vector<unsigned> in;
        for (auto const& number : f[4].split(QLatin1Char(' '))) {
            in.push_back(number.toUInt());
        }
        p.hold(n(1), n(2), n(3), in, text(5), dateOf(f, 6).value_or(QDate(2026, 1, 5)));
    } else if (op == QLatin1String("reconcile")) {
        ReconciledSurvey::Distribution distribution;
        if (auto const item = text(5)) {
            auto const words = item->split(QLatin1Char(' '));
            distribution.insert_or_assign({toBudgetItemTypes(words[0]), BudgetSource(words[1])},
                                          dollar);
        }
        p.reconcile(f[1], n(2), distribution, text(3), dateOf(f, 4));
    } else if (op == QLatin1String("opening")) {
        p.opening = code(n(1));
    } else {
        std::get<AccountTypeMap>(p.s)[BankName(f[1])].erase(AccountNumber(n(2)));
    }
}

class RefusedValue : public ::testing::TestWithParam<zel::testing::Record> {};

TEST_P(RefusedValue, IsRefusedWithItsTexts) {
    auto const& row = GetParam();
    Parts parts;
    for (auto const& line : row.values("change")) {
        change(parts, line);
    }
    std::string const error = row.has("class") ? row.value("class") : "BudgetFileError";
    QByteArray written;
    EXPECT_EQ(
        zel::testing::errorOf([&] { zel::testing::storeDocument(parts.state(), false, &written); }),
        "class: " + error +
            "\nfirst: The budget file is not valid.  Error appears at line 0, column 0.\n"
            "second: " +
            unescaped(row.text("second")).toStdString() +
            "\ncause: " + (row.has("cause") ? row.value("cause") : "std::exception"));
    // Dates are checked as they are written, after the start of the document; every other value
    // is refused while the element tree is built, before anything but the declaration.
    if (error == "BudgetFileError") {
        EXPECT_EQ(written.toStdString(), R"(<?xml version="1.0" encoding="UTF-8"?>)");
    }
}

INSTANTIATE_TEST_SUITE_P(Store, RefusedValue,
                         ::testing::ValuesIn(zel::testing::readManifest(
                             QStringLiteral("documents/refused-values.manifest"))),
                         zel::testing::recordName);

// A reader refuses an empty checksum and reads an empty description as none, so neither is
// written: the document loads, with neither value.
TEST(StoredValue, EmptyChecksumAndDescriptionAreLeftOutAndLoadAsNone) {
    Parts parts;
    parts.hold(5, 500, 101, {101}, QString());
    parts.reconcile("First Bank", 101, {}, QString());
    auto const text = zel::testing::describe(
        zel::testing::loadDocument(zel::testing::storeDocument(parts.state())));
    EXPECT_NE(text.find(" 1.0 USD Pending description=none\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" balance=1.0 USD on=none checksum=none\n"), std::string::npos) << text;
}

} // namespace
