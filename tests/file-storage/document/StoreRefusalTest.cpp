// Budget states that no document can give, which the store must refuse rather than write a
// file that does not load or loads to another budget. Each case changes the small full budget
// of tests/support in one way. (A debt whose interest is not a number loads from a document and
// is stored as "nan": a row of tests/data/documents/canonical.manifest.)
#include "DocumentSupport.h"

#include "support/Budgets.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>
#include <set>
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

struct Refusal {
    char const* name;
    std::function<void(Parts&)> change;
    QString second;
    std::string cause = "std::exception";
    char const* error = "BudgetFileError";
};

void PrintTo(Refusal const& refusal, std::ostream* out) {
    *out << refusal.name;
}

QString const unstorable = QStringLiteral("' holds characters that a budget file cannot store.");
QString const missing = QStringLiteral(" refers to the account number 999, which is not an "
                                       "account of the ledger.");
QString const date = QStringLiteral(" is not valid. The attribute value to write, ");

Refusal const refusals[] = {
    {"EmptyItemName", [](Parts& p) { p.item<Wage>({}, 400); },
     "The name of a wage cannot be stored without a text."},
    {"EmptyAccountName", [](Parts& p) { p.account(600, {}); },
     "The name of the account 600 cannot be stored without a text."},
    {"EmptyBankName", [](Parts& p) { p.bank({}); },
     "The name of a bank cannot be stored without a text."},
    {"ControlCharacterInADescription",
     [](Parts& p) {
         p.hold(5, 500, 101, {101, 500}, QStringLiteral("a\x01z"));
     },
     "The description of the transaction 5 of the account 101 'a\x01z" + unstorable},
    {"NonCharacterInAnItemName", [](Parts& p) { p.item<Nontrack>(QStringLiteral("x\uFFFF"), 101); },
     "The name of a nontrack 'x\uFFFF" + unstorable},
    {"UnpairedSurrogateInABankName", [](Parts& p) { p.bank(QStringLiteral("y") + QChar(0xD800)); },
     QStringLiteral("The name of a bank 'y") + QChar(0xD800) + unstorable},
    {"NullCharacterInAChecksum",
     [](Parts& p) { p.reconcile("First Bank", 101, {}, QStringLiteral("ab") + QChar(0)); },
     QStringLiteral("The checksum of the reconciliation of the account 101 'ab") + QChar(0) +
         unstorable},
    {"InfiniteInterest",
     [](Parts& p) {
         p.item<Debt>("Loan", 200, {2026, 1, 1}, -std::numeric_limits<double>::infinity());
     },
     "The interest of the debt 'Loan' is not a finite number."},
    {"WageBookedToNoAccount", [](Parts& p) { p.item<Wage>("X", {}); },
     "The wage 'X' is booked to no ledger account."},
    {"BillBookedToNoAccount", [](Parts& p) { p.item<Bill>("X", {}); },
     "The bill 'X' is booked to no ledger account."},
    {"DebtBookedToNoAccount", [](Parts& p) { p.item<Debt>("X", {}); },
     "The debt 'X' is booked to no ledger account."},
    {"GoalBookedToNoAccount", [](Parts& p) { p.item<Goal>("X", {}); },
     "The goal 'X' is booked to no ledger account."},
    {"NontrackBookedToNoAccount", [](Parts& p) { p.item<Nontrack>("X", {}); },
     "The nontrack 'X' is booked to no ledger account."},
    {"ItemBookedToAnAccountMissingFromTheLedger", [](Parts& p) { p.item<Bill>("X", 999); },
     "The bill 'X'" + missing},
    {"TransactionWithAnAccountMissingFromTheLedger", [](Parts& p) { p.hold(5, 999, 101, {101}); },
     "The transaction 5 of the account 101" + missing},
    {"OpeningAccountMissingFromTheLedger", [](Parts& p) { p.opening = code(999); },
     "The opening account of the ledger" + missing},
    {"ReconciliationOfAnAccountMissingFromTheLedger",
     [](Parts& p) {
         p.bank("Other Bank", {AccountNumber(999)});
         p.reconcile("Other Bank", 999);
     },
     "The reconciliation of the account 999" + missing},
    {"ReconciliationOfAnAccountNoBankHolds", [](Parts& p) { p.reconcile("First Bank", 400); },
     "The reconciliation of the account 400 names an account that no bank holds."},
    {"ReconciliationGivenTwice",
     [](Parts& p) {
         p.bank("Other Bank", {AccountNumber(101)});
         p.reconcile("Other Bank", 101);
     },
     "The reconciliation of the account 101 is given twice."},
    {"DistributionToAnItemTheBudgetLacks",
     [](Parts& p) {
         p.reconcile("First Bank", 101, {{{BudgetItemTypes::bill, BudgetSource("Gas")}, dollar}});
     },
     "The budget file contains a malformed budget item ID mapping. There is not a budget source "
     "'Gas' of the type Bill.",
     "Failed to find budget source."},
    {"TransactionHeldByALedgerItDoesNotTouch", [](Parts& p) { p.hold(5, 500, 101, {400}); },
     "The transaction 5 of the account 400 neither debits nor credits that account."},
    {"BankAccountWithoutAType",
     [](Parts& p) {
         std::get<AccountTypeMap>(p.s)[BankName("First Bank")].erase(AccountNumber(102));
     },
     "The bank 'First Bank' holds the account 102, which has no bank account type.", "map::at"},
    {"AccountNumberZero", [](Parts& p) { p.account(0, "Zero"); },
     "An indexed element identifier cannot be invalid."},
    {"ItemBookedToAccountZero",
     [](Parts& p) {
         p.account(0, "Zero");
         p.item<Wage>("X", 0);
     },
     "The wage account identifier cannot be zero."},
    // The item's own check comes before the check that its account is in the ledger.
    {"ItemBookedToAccountZeroThatTheLedgerLacks", [](Parts& p) { p.item<Goal>("X", 0); },
     "The goal account identifier cannot be zero."},
    {"ReconciliationOfAccountZero", [](Parts& p) { p.reconcile("First Bank", 0); },
     "The account ID for a reconciliation element cannot be invalid."},
    {"TransactionNumberZero", [](Parts& p) { p.hold(0, 500, 101, {101}); },
     "An indexed element identifier cannot be invalid."},
    {"ItemDateAfterTheYear9999",
     [](Parts& p) {
         p.item<Goal>("X", 101, {10000, 1, 1});
     },
     "The element tag 'goal' attribute 'nextOccurOn'" + date +
         "Sat Jan 1 10000, is not a valid date.",
     "std::exception", "AttributeError"},
    {"TransactionDateBeforeTheYear1",
     [](Parts& p) {
         p.hold(5, 500, 101, {101, 500}, {}, {-1, 6, 1});
     },
     "The element tag 'transaction' attribute 'date'" + date +
         "Thu Jun 1 -001, is not a valid date.",
     "std::exception", "AttributeError"},
    {"InvalidReconciliationDate", [](Parts& p) { p.reconcile("First Bank", 101, {}, {}, QDate()); },
     "The element tag 'reconciliation' attribute 'date'" + date + ", is not a valid date.",
     "std::exception", "AttributeError"},
};

class RefusedValue : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedValue, IsRefusedWithItsTexts) {
    auto const& refusal = GetParam();
    Parts parts;
    refusal.change(parts);
    QByteArray written;
    EXPECT_EQ(
        zel::testing::errorOf([&] { zel::testing::storeDocument(parts.state(), false, &written); }),
        "class: " + std::string(refusal.error) +
            "\nfirst: The budget file is not valid.  Error appears at line 0, column 0.\n"
            "second: " +
            refusal.second.toStdString() + "\ncause: " + refusal.cause);
    // Dates are checked as they are written, after the start of the document; every other value
    // is refused while the element tree is built, before anything but the declaration.
    if (std::string_view(refusal.error) == "BudgetFileError") {
        EXPECT_EQ(written.toStdString(), R"(<?xml version="1.0" encoding="UTF-8"?>)");
    }
}

INSTANTIATE_TEST_SUITE_P(Store, RefusedValue, ::testing::ValuesIn(refusals),
                         [](auto const& test) { return std::string(test.param.name); });

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
