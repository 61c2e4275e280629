// The document writer: the exact document it writes for a budget, the identifiers it gives
// out, its log records, and the values it refuses before anything but the XML declaration
// reaches the device. Every expected document below is written out by hand.
#include "file-storage/Errors.h"
#include "file-storage/internal/BudgetDocument.h"
#include "support/LogCapture.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace budgets = zel::testing;
using namespace zel::accounting;
using namespace zel::banking;
using namespace zel::budgeting;
using orvalis::currency::Iso4217Codes;
using orvalis::currency::Money;
using zel::file_storage::BudgetFileError;
using zel::file_storage::internal::storeBudgetDocument;
using zel::storage::ItemAccountMap;
using zel::surveying::ReconciledSurvey;
using zel::surveying::ReconciledSurveys;

namespace {

Money usd(std::int64_t major, std::uint16_t minor) {
    return Money(major, minor, Iso4217Codes::USD);
}
Money eur(std::int64_t major, std::uint16_t minor) {
    return Money(major, minor, Iso4217Codes::EUR);
}

AccountCode code(unsigned number, QString name = QString()) {
    return AccountCode(AccountNumber(number), std::move(name), std::nullopt);
}

// The parts of a budget state, kept apart so that a test can change any of them.
struct Parts {
    std::map<AccountCode, LedgerAccount> ledgers;
    std::optional<AccountCode> opening;
    Budget budget{WageMap(), BillMap(), DebtMap(), GoalMap(), NontrackMap()};
    ItemAccountMap items;
    std::map<BankName, Bank> banks;
    AccountTypeMap types;
    std::map<BankAccount, ReconciledSurvey> surveys;

    void account(unsigned number, QString const& name, AccountTypes type, Money balance,
                 bool closed, std::optional<unsigned> parent = std::nullopt) {
        std::optional<AccountNumber> parentNumber;
        if (parent) {
            parentNumber = AccountNumber(*parent);
        }
        AccountCode const c(AccountNumber(number), name, parentNumber);
        ledgers.emplace(c, LedgerAccount{Account(type, c, balance, closed), {}});
    }

    // Holds t in the ledgers of the given accounts.
    void hold(Transaction const& t, std::initializer_list<unsigned> accounts) {
        for (auto const number : accounts) {
            ledgers.at(code(number)).transactions.insert_or_assign(*t.number(), t);
        }
    }

    // What the writer writes. Given error, a BudgetFileError is kept there instead of thrown,
    // and what reached the device by then is given.
    QByteArray write(bool autoFormat, std::optional<BudgetFileError>* error = nullptr) const {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly | QIODevice::Text);
        try {
            storeBudgetDocument(budget, GeneralLedger(ledgers, opening), BankMap(banks), types,
                                items, ReconciledSurveys(surveys), &buffer, autoFormat);
        } catch (BudgetFileError const& thrown) {
            if (error == nullptr) {
                throw;
            }
            error->emplace(thrown);
        }
        return buffer.data();
    }
};

Parts emptyParts() {
    return Parts();
}

// Two wages and a bill sharing a name, one item of every other kind, accounts with and without
// a parent, transactions seen from both sides and from one, a transaction on one account,
// an empty and an absent description, two banks (one empty and closed) and two reconciliations,
// one with a date, a checksum and distributions, one with an empty checksum and nothing else.
Parts fullParts() {
    Parts p;
    p.account(10, QStringLiteral("Cash"), AccountTypes::asset, usd(12, 50), false);
    p.account(11, QStringLiteral("Wallet"), AccountTypes::asset, eur(-3, 5), true, 10);
    p.account(20, QStringLiteral("Salary"), AccountTypes::income, usd(0, 0), false);
    p.account(30, QStringLiteral("Rent & Co"), AccountTypes::expense, usd(0, 0), false);
    p.opening = code(10, QStringLiteral("Cash"));
    p.hold(Transaction(QDate(2026, 1, 2), code(10), code(20), usd(100, 0),
                       QStringLiteral("Pay <Jan> & \"more\""), TransactionNumber(1),
                       TransactionStatuses::cleared),
           {10, 20});
    p.hold(Transaction(QDate(2026, 1, 3), code(30), code(10), usd(40, 25), std::nullopt,
                       TransactionNumber(2), TransactionStatuses::pending),
           {10, 30});
    p.hold(Transaction(QDate(2026, 1, 4), code(11), code(11), eur(1, 0), QString(),
                       TransactionNumber(3), TransactionStatuses::reconciled),
           {11});

    BudgetSource const a(QStringLiteral("A"));
    BudgetSource const b(QStringLiteral("B"));
    p.budget.wages().add(Wage(b, usd(50, 5), EventFrequency::weekly, QDate(2026, 3, 2)));
    p.budget.wages().add(Wage(a, usd(100, 0), EventFrequency::monthly, QDate(2026, 3, 1)));
    p.items.insert<Wage>(a, code(20));
    p.items.insert<Wage>(b, code(20));
    p.budget.bills().add(Bill(a, usd(700, 0), EventFrequency::monthly, QDate(2026, 3, 5)));
    p.items.insert<Bill>(a, code(30));
    BudgetSource const card(QStringLiteral("Card"));
    p.budget.debts().add(Debt(card, usd(25, 0), EventFrequency::monthly, QDate(2026, 3, 10),
                              usd(900, 10), Percentage{0.123456789}));
    p.items.insert<Debt>(card, code(11));
    BudgetSource const trip(QStringLiteral("Trip"));
    p.budget.goals().add(
        Goal(trip, eur(10, 0), EventFrequency::fortnightly, QDate(2026, 3, 6), eur(500, 0)));
    p.items.insert<Goal>(trip, code(11));
    BudgetSource const cafe(QStringLiteral("Café"));
    p.budget.nontracks().add(Nontrack(cafe, usd(5, 50), EventFrequency::daily, QDate(2026, 3, 3)));
    p.items.insert<Nontrack>(cafe, code(10));

    BankName const one(QStringLiteral("Bank <One>"));
    BankName const old(QStringLiteral("Old Bank"));
    p.banks.emplace(one, Bank(one, {AccountNumber(11), AccountNumber(10)}, false));
    p.banks.emplace(old, Bank(old, {}, true));
    p.types[one][AccountNumber(10)] = SupportedAccountTypes::checking;
    p.types[one][AccountNumber(11)] = SupportedAccountTypes::savings;

    BankAccount const cash{one, code(10, QStringLiteral("Cash")), SupportedAccountTypes::checking};
    BankAccount const wallet{one, code(11, QStringLiteral("Wallet")),
                             SupportedAccountTypes::savings};
    p.surveys.emplace(
        wallet,
        ReconciledSurvey(ReconciledBankAccount(wallet, eur(-3, 5), std::nullopt), {}, QString()));
    p.surveys.emplace(
        cash, ReconciledSurvey(ReconciledBankAccount(cash, usd(12, 50), QDate(2026, 2, 28)),
                               {{BudgetItemIdentifier{BudgetItemTypes::wage, b}, usd(5, 50)},
                                {BudgetItemIdentifier{BudgetItemTypes::bill, a}, usd(7, 0)}},
                               QStringLiteral("abc")));
    return p;
}

QByteArray const declaration = R"(<?xml version="1.0" encoding="UTF-8"?>)";

// ---- Whole documents ---------------------------------------------------------------------------

// The documents that the writer formats, written out by hand with two spaces for each tab.
char const emptyDocument[] = R"(
<KelvoraMindrath revision="2">
  <wages/>
  <bills/>
  <debts/>
  <goals/>
  <nontracks/>
  <accounts/>
  <ledgers/>
  <banks/>
  <reconciliations/>
</KelvoraMindrath>)";

char const fullDocument[] = R"(
<KelvoraMindrath revision="2">
  <wages>
    <wage id="1" major="100" minor="0" period="Monthly" name="A" currency="USD" nextOccurOn="2026-03-01" accountId="20"/>
    <wage id="2" major="50" minor="5" period="Weekly" name="B" currency="USD" nextOccurOn="2026-03-02" accountId="20"/>
  </wages>
  <bills>
    <bill id="1" major="700" minor="0" period="Monthly" name="A" currency="USD" nextOccurOn="2026-03-05" accountId="30"/>
  </bills>
  <debts>
    <debt id="1" totalMajor="900" totalMinor="10" period="Monthly" name="Card" currency="USD" minimumMajor="25" minimumMinor="0" interest="0.123457" nextOccurOn="2026-03-10" accountId="11"/>
  </debts>
  <goals>
    <goal id="1" major="10" minor="0" period="Fortnightly" name="Trip" currency="EUR" finalMajor="500" finalMinor="0" nextOccurOn="2026-03-06" accountId="11"/>
  </goals>
  <nontracks>
    <nontrack id="1" major="5" minor="50" period="Daily" name="Café" currency="USD" nextOccurOn="2026-03-03" accountId="10"/>
  </nontracks>
  <accounts>
    <account id="10" name="Cash" type="Asset" major="12" minor="50" currency="USD" closed="false"/>
    <account id="11" name="Wallet" type="Asset" major="-3" minor="5" currency="EUR" closed="true" parentId="10"/>
    <account id="20" name="Salary" type="Income" major="0" minor="0" currency="USD" closed="false"/>
    <account id="30" name="Rent &amp; Co" type="Expense" major="0" minor="0" currency="USD" closed="false"/>
  </accounts>
  <ledgers openingAccountId="10">
    <ledger id="10">
      <transaction id="1" date="2026-01-02" accountId="20" entry="Cr" major="100" minor="0" currency="USD" status="Cleared">Pay &lt;Jan&gt; &amp; &quot;more&quot;</transaction>
      <transaction id="2" date="2026-01-03" accountId="30" entry="Dr" major="40" minor="25" currency="USD" status="Pending"/>
    </ledger>
    <ledger id="11">
      <transaction id="3" date="2026-01-04" accountId="11" entry="Dr" major="1" minor="0" currency="EUR" status="Reconciled"></transaction>
    </ledger>
    <ledger id="20">
      <transaction id="1" date="2026-01-02" accountId="10" entry="Dr" major="100" minor="0" currency="USD" status="Cleared">Pay &lt;Jan&gt; &amp; &quot;more&quot;</transaction>
    </ledger>
    <ledger id="30">
      <transaction id="2" date="2026-01-03" accountId="10" entry="Cr" major="40" minor="25" currency="USD" status="Pending"/>
    </ledger>
  </ledgers>
  <banks>
    <bank name="Bank &lt;One&gt;" closed="false">
      <account id="10" type="Checking"/>
      <account id="11" type="Savings"/>
    </bank>
    <bank name="Old Bank" closed="true"/>
  </banks>
  <reconciliations>
    <reconciliation account="10" major="12" minor="50" currency="USD" date="2026-02-28" checksum="abc">
      <distribution type="bill" id="1" major="7" minor="0" currency="USD"/>
      <distribution type="wage" id="2" major="5" minor="50" currency="USD"/>
    </reconciliation>
    <reconciliation account="11" major="-3" minor="5" currency="EUR"/>
  </reconciliations>
</KelvoraMindrath>)";

// The document that indented shows, as the writer writes it formatted (a line end before each
// line, and a tab for every two spaces of indentation) or not (neither).
QByteArray written(char const* indented, bool formatted) {
    QByteArray result;
    auto const lines = QByteArray(indented).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        qsizetype spaces = 0;
        while (spaces < lines[i].size() && lines[i][spaces] == ' ') {
            ++spaces;
        }
        if (formatted) {
            result += (i > 0 ? "\n" : "") + QByteArray(spaces / 2, '\t');
        }
        result += lines[i].mid(spaces);
    }
    return result;
}

struct Document {
    char const* name;
    Parts (*parts)();
    char const* text; // after the XML declaration, as written formatted
};

Document const documents[] = {{"EmptyBudget", emptyParts, emptyDocument},
                              {"FullBudget", fullParts, fullDocument}};

class WrittenDocument : public ::testing::TestWithParam<Document> {};

TEST_P(WrittenDocument, IsExactlyTheExpectedTextFormattedOrNot) {
    budgets::LogCapture quiet;
    auto const& expected = GetParam();
    for (bool const formatted : {false, true}) {
        EXPECT_EQ(expected.parts().write(formatted).toStdString(),
                  (declaration + written(expected.text, formatted)).toStdString());
    }
}

INSTANTIATE_TEST_SUITE_P(BudgetDocumentWriter, WrittenDocument, ::testing::ValuesIn(documents),
                         [](auto const& test) { return std::string(test.param.name); });

TEST(BudgetDocumentWriter, LogsEachStepAndEachLoggedElementAtDebugLevel) {
    budgets::LogCapture capture;
    fullParts().write(false);
    std::vector<std::string> records;
    for (auto const& record : capture.records()) {
        EXPECT_EQ(record.type, QtDebugMsg) << record.text.toStdString();
        records.push_back(record.text.toStdString());
    }
    std::vector<std::string> expected{"Preparing to write to the budget file.",
                                      "Filling application element"};
    for (std::string const kind : {"wage", "bill", "debt", "goal", "discretionary"}) {
        expected.push_back("Filling " + kind + " elements");
    }
    expected.insert(expected.end(),
                    {"Filling account, ledger, and transaction elements", "Filling bank elements",
                     "Filling reconciled bank accounts elements", "Writing budget elements"});
    for (std::string const tag :
         {"KelvoraMindrath", "wages", "wage", "wage", "bills", "bill", "debts", "debt", "goals",
          "goal", "nontracks", "nontrack", "accounts", "ledgers"}) {
        expected.push_back("Writing Element: \"" + tag + "\"");
    }
    expected.push_back("Completed writing budget elements");
    EXPECT_EQ(records, expected);
}

// ---- Values the writer refuses ------------------------------------------------------------------

// A value that the reader would refuse, or could not give back, is refused while the element
// tree is built: the device then holds the XML declaration and nothing else.
struct Refusal {
    char const* name;
    std::function<void(Parts&)> change;
    QString message;
    std::string cause = {}; // the cause's description; empty: not checked
};

Transaction transaction(unsigned number, unsigned debit, unsigned credit,
                        std::optional<QString> description = std::nullopt) {
    return Transaction(QDate(2026, 1, 5), code(debit), code(credit), usd(1, 0),
                       std::move(description), TransactionNumber(number),
                       TransactionStatuses::pending);
}

BankAccount const cash{BankName(QStringLiteral("Bank <One>")), code(10, QStringLiteral("Cash")),
                       SupportedAccountTypes::checking};

// A debt "Loan" of the given interest, booked to the account 11.
void addLoan(Parts& p, double interest) {
    BudgetSource const loan(QStringLiteral("Loan"));
    p.budget.debts().add(Debt(loan, usd(1, 0), EventFrequency::once, QDate(2026, 1, 1), usd(9, 0),
                              Percentage{interest}));
    p.items.insert<Debt>(loan, code(11));
}

Refusal const refusals[] = {
    {"EmptyItemName",
     [](Parts& p) {
         BudgetSource const none{QString()};
         p.budget.wages().add(Wage(none, usd(1, 0), EventFrequency::once, QDate(2026, 1, 1)));
         p.items.insert<Wage>(none, code(20));
     },
     "The name of a wage cannot be stored without a text."},
    {"EmptyAccountName",
     [](Parts& p) { p.account(40, QString(), AccountTypes::asset, usd(0, 0), false); },
     "The name of the account 40 cannot be stored without a text."},
    {"EmptyBankName",
     [](Parts& p) {
         BankName const none{QString()};
         p.banks.emplace(none, Bank(none, {}, false));
     },
     "The name of a bank cannot be stored without a text."},
    {"InterestThatIsNotANumber",
     [](Parts& p) { addLoan(p, std::numeric_limits<double>::quiet_NaN()); },
     "The interest of the debt 'Loan' is not a finite number."},
    {"InfiniteInterest", [](Parts& p) { addLoan(p, -std::numeric_limits<double>::infinity()); },
     "The interest of the debt 'Loan' is not a finite number."},
    {"ControlCharacterInADescription",
     [](Parts& p) {
         p.hold(transaction(4, 10, 20,
                            QStringLiteral("a\x01"
                                           "b")),
                {10, 20});
     },
     "The description of the transaction 4 of the account 10 'a\x01"
     "b' holds characters that a "
     "budget file cannot store."},
    {"NonCharacterInAnItemName",
     [](Parts& p) {
         BudgetSource const odd(QStringLiteral("x") + QChar(0xFFFF));
         p.budget.nontracks().add(
             Nontrack(odd, usd(1, 0), EventFrequency::once, QDate(2026, 1, 1)));
         p.items.insert<Nontrack>(odd, code(10));
     },
     "The name of a nontrack 'x\xEF\xBF\xBF' holds characters that a budget file cannot store."},
    {"UnpairedSurrogateInABankName",
     [](Parts& p) {
         BankName const odd(QStringLiteral("y") + QChar(0xD800));
         p.banks.emplace(odd, Bank(odd, {}, false));
     },
     // The name is given as it is, though UTF-8 cannot show it.
     QStringLiteral("The name of a bank 'y") + QChar(0xD800) +
         QStringLiteral("' holds characters that a budget file cannot store.")},
    {"NullCharacterInAChecksum",
     [](Parts& p) {
         p.surveys.erase(cash);
         p.surveys.emplace(cash,
                           ReconciledSurvey(ReconciledBankAccount(cash, usd(1, 0), std::nullopt),
                                            {}, QStringLiteral("ab") + QChar(0)));
     },
     QStringLiteral("The checksum of the reconciliation of the account 10 'ab") + QChar(0) +
         QStringLiteral("' holds characters that a budget file cannot store.")},
    {"ItemBookedToAnAccountMissingFromTheLedger",
     [](Parts& p) { p.items.insert<Wage>(BudgetSource(QStringLiteral("A")), code(99)); },
     "The wage 'A' refers to the account number 99, which is not an account of the ledger."},
    {"TransactionWithAnAccountMissingFromTheLedger",
     [](Parts& p) { p.hold(transaction(4, 99, 10), {10}); },
     "The transaction 4 of the account 10 refers to the account number 99, which is not an account "
     "of the ledger."},
    {"OpeningAccountMissingFromTheLedger", [](Parts& p) { p.opening = code(99); },
     "The opening account of the ledger refers to the account number 99, which is not an account "
     "of "
     "the ledger."},
    {"ReconciliationOfAnAccountMissingFromTheLedger",
     [](Parts& p) {
         BankAccount const missing{cash.bank, code(99, QStringLiteral("Gone")),
                                   SupportedAccountTypes::loan};
         p.types[cash.bank][AccountNumber(99)] = SupportedAccountTypes::loan;
         p.surveys.emplace(missing,
                           ReconciledSurvey(ReconciledBankAccount(missing, usd(1, 0), std::nullopt),
                                            {}, std::nullopt));
     },
     "The reconciliation of the account 99 refers to the account number 99, which is not an "
     "account of the ledger."},
    {"ReconciliationOfAnAccountNoBankHolds",
     [](Parts& p) {
         BankAccount const salary{cash.bank, code(20, QStringLiteral("Salary")),
                                  SupportedAccountTypes::checking};
         p.surveys.emplace(salary,
                           ReconciledSurvey(ReconciledBankAccount(salary, usd(1, 0), std::nullopt),
                                            {}, std::nullopt));
     },
     "The reconciliation of the account 20 names an account that no bank holds."},
    {"TransactionHeldByALedgerItDoesNotTouch",
     [](Parts& p) { p.hold(transaction(5, 10, 30), {20}); },
     "The transaction 5 of the account 20 neither debits nor credits that account."},
    {"BankAccountWithoutAType", [](Parts& p) { p.types.at(cash.bank).erase(AccountNumber(11)); },
     // The mapping is looked up, not assumed: the lookup's own error is the cause.
     "The bank 'Bank <One>' holds the account 11, which has no bank account type.", "map::at"},
};

class RefusedValue : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedValue, FailsBeforeAnythingButTheDeclarationIsWrittenAndNamesTheValue) {
    budgets::LogCapture quiet;
    auto const& refusal = GetParam();
    Parts p = fullParts();
    refusal.change(p);
    std::optional<BudgetFileError> error;
    auto const written = p.write(false, &error);
    ASSERT_TRUE(error) << "the writer accepted the value";
    EXPECT_EQ(written, declaration);
    EXPECT_EQ(error->firstText().toStdString(),
              "The budget file is not valid.  Error appears at line 0, column 0.");
    EXPECT_TRUE(error->secondText() == refusal.message) << error->secondText().toStdString();
    if (!refusal.cause.empty()) {
        EXPECT_EQ(error->causeDescription(), refusal.cause);
    }
}

INSTANTIATE_TEST_SUITE_P(BudgetDocumentWriter, RefusedValue, ::testing::ValuesIn(refusals),
                         [](auto const& test) { return std::string(test.param.name); });

} // namespace
