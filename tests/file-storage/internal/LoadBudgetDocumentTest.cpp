// Loading hand-written budget documents: the values they give, the order and precedence rules
// between repeated values, and every way a document is refused.
#include "LoadDocumentSupport.h"

#include "file-storage/BudgetFile.h"
#include "file-storage/Errors.h"
#include "file-storage/internal/BudgetDocument.h"
#include "support/Budgets.h"
#include "support/LogCapture.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace budgets = zel::testing;
namespace documents = zel::testing::documents;

using namespace zel::accounting;
using namespace zel::banking;
using namespace zel::budgeting;
namespace surveying = zel::surveying;
using documents::Cause;
using documents::document;
using documents::load;
using documents::LoadFailure;
using documents::LoadFailures;
using documents::malformed;
using documents::notFound;
using documents::refused;
using zel::file_storage::AttributeError;
using zel::file_storage::BudgetFileError;
using zel::storage::BudgetState;
using zel::storage::StorageError;

namespace {

// Element texts, one element a line.

QByteArray collection(char const* tag, QByteArray const& content) {
    return "<" + QByteArray(tag) + ">\n" + content + "</" + QByteArray(tag) + ">\n";
}

QByteArray account(int id, char const* name, char const* extra = "", char const* type = "Asset",
                   char const* currency = "USD") {
    return QByteArray(R"(<account id=")") + QByteArray::number(id) + R"(" name=")" + name +
           R"(" type=")" + type + R"(" major="0" minor="0" currency=")" + currency +
           R"(" closed="false")" + extra + "/>\n";
}

QByteArray transaction(int id, int other, char const* entry, char const* currency = "USD",
                       char const* status = "Cleared", int major = 1) {
    return QByteArray(R"(<transaction id=")") + QByteArray::number(id) +
           R"(" date="2026-01-02" accountId=")" + QByteArray::number(other) + R"(" entry=")" +
           entry + R"(" major=")" + QByteArray::number(major) + R"(" minor="0" currency=")" +
           currency + R"(" status=")" + status + R"("/>)" + "\n";
}

QByteArray ledger(int id, QByteArray const& transactions) {
    return "<ledger id=\"" + QByteArray::number(id) + "\">\n" + transactions + "</ledger>\n";
}

// A wage, bill or nontrack.
QByteArray item(char const* tag, int id, char const* name, int accountId,
                char const* currency = "USD", char const* period = "Monthly") {
    return "<" + QByteArray(tag) + R"( id=")" + QByteArray::number(id) +
           R"(" major="10" minor="0" name=")" + name + R"(" currency=")" + currency +
           R"(" period=")" + period + R"(" nextOccurOn="2026-03-01" accountId=")" +
           QByteArray::number(accountId) + "\"/>\n";
}

QByteArray debt(int id, char const* name, int accountId, char const* currency = "USD") {
    return QByteArray(R"(<debt id=")") + QByteArray::number(id) +
           R"(" totalMajor="250" totalMinor="0" period="Monthly" name=")" + name +
           R"(" currency=")" + currency +
           R"(" minimumMajor="35" minimumMinor="0" interest="5.25" nextOccurOn="2026-03-10" accountId=")" +
           QByteArray::number(accountId) + "\"/>\n";
}

QByteArray goal(int id, char const* name, int accountId, char const* currency = "EUR") {
    return QByteArray(R"(<goal id=")") + QByteArray::number(id) +
           R"(" major="100" minor="0" period="Fortnightly" name=")" + name + R"(" currency=")" +
           currency + R"(" finalMajor="2000" finalMinor="0" nextOccurOn="2026-03-06" accountId=")" +
           QByteArray::number(accountId) + "\"/>\n";
}

QByteArray bank(char const* name, QByteArray const& accounts, bool closed = false) {
    return QByteArray(R"(<bank name=")") + name + R"(" closed=")" + (closed ? "true" : "false") +
           "\">\n" + accounts + "</bank>\n";
}

QByteArray bankAccount(int id, char const* type = "Checking") {
    return QByteArray(R"(<account id=")") + QByteArray::number(id) + R"(" type=")" + type +
           "\"/>\n";
}

QByteArray reconciliation(int accountId, QByteArray const& distributions, int major = 1,
                          char const* currency = "USD") {
    return QByteArray(R"(<reconciliation account=")") + QByteArray::number(accountId) +
           R"(" major=")" + QByteArray::number(major) + R"(" minor="0" currency=")" + currency +
           "\">\n" + distributions + "</reconciliation>\n";
}

QByteArray distribution(char const* type, int id, int major = 1, char const* currency = "USD") {
    return QByteArray(R"(<distribution type=")") + type + R"(" id=")" + QByteArray::number(id) +
           R"(" major=")" + QByteArray::number(major) + R"(" minor="0" currency=")" + currency +
           "\"/>\n";
}

// Two accounts, 10 and 20, that most documents below book to.
QByteArray const twoAccounts = collection("accounts", account(10, "Checking", R"( parentId="1")") +
                                                          account(20, "Card", "", "Liability"));

// A wage and a bill with the same identifier, and account 10 held by one bank: enough for a
// reconciliation to name budget items.
QByteArray const reconcilable = collection("wages", item("wage", 1, "Salary", 10)) +
                                collection("bills", item("bill", 1, "Rent", 20)) + twoAccounts +
                                collection("banks", bank("First Bank", bankAccount(10)));

AccountCode number(unsigned n) {
    return AccountCode(AccountNumber(n), std::nullopt);
}

LedgerAccount const& ledgerAccount(BudgetState const& state, unsigned n) {
    return std::get<GeneralLedger>(state).ledgers().at(number(n));
}

QString codeText(AccountCode const& code) {
    return QStringLiteral("%1 %2 %3")
        .arg(code.number().integer())
        .arg(code.name())
        .arg(code.parent() ? QString::number(code.parent()->integer()) : QStringLiteral("-"));
}

std::vector<QString> sources(WageMap const& wages) {
    std::vector<QString> names;
    for (auto const& [source, wage] : wages) {
        names.push_back(source.name());
    }
    return names;
}

// The one survey of a state, as bank, account and type.
surveying::ReconciledSurvey const& onlySurvey(BudgetState const& state) {
    auto const& surveys = std::get<surveying::ReconciledSurveys>(state);
    EXPECT_EQ(surveys.size(), 1u);
    return surveys.begin()->second;
}

// ---- Whole documents ----

QByteArray const fullBody = R"(<wages>
<wage id="1" major="3000" minor="0" name="Salary" currency="USD" period="Monthly" nextOccurOn="2026-03-15" accountId="400"/>
<wage id="2" major="500" minor="50" name="Bonus" currency="USD" period="Annually" nextOccurOn="2026-12-20" accountId="400"/>
</wages>
<bills>
<bill id="1" major="1200" minor="0" name="Rent" currency="USD" period="Monthly" nextOccurOn="2026-03-01" accountId="500"/>
</bills>
<debts>
<debt id="1" totalMajor="250" totalMinor="0" period="Monthly" name="Card" currency="USD" minimumMajor="35" minimumMinor="0" interest="0.1999" nextOccurOn="2026-03-10" accountId="200"/>
</debts>
<goals>
<goal id="1" major="100" minor="0" period="Fortnightly" name="Holiday" currency="EUR" finalMajor="2000" finalMinor="0" nextOccurOn="2026-03-06" accountId="102"/>
</goals>
<nontracks>
<!-- spending that is not tracked item by item -->
<nontrack id="1" major="40" minor="25" period="Weekly" name="Coffee &amp; cake" currency="USD" nextOccurOn="2026-03-02" accountId="101"/>
</nontracks>
<accounts>
<account id="100" name="Assets" type="Asset" major="0" minor="0" currency="USD" closed="false"/>
<account id="101" name="Checking" type="Asset" major="1520" minor="75" currency="USD" closed="false" parentId="100"/>
<account id="102" name="Savings" type="Asset" major="-3" minor="5" currency="EUR" closed="true" parentId="100"/>
<account id="200" name="Credit Card" type="Liability" major="-250" minor="0" currency="USD" closed="false"/>
<account id="300" name="Opening Balances" type="Equity" major="1000" minor="0" currency="USD" closed="false"/>
<account id="400" name="Salary" type="Income" major="3000" minor="0" currency="USD" closed="false"/>
<account id="500" name="Rent" type="Expense" major="1200" minor="0" currency="USD" closed="false"/>
</accounts>
<ledgers openingAccountId="300">
<ledger id="101">
<transaction id="1" date="2026-01-01" accountId="300" entry="Cr" major="1000" minor="0" currency="USD" status="Reconciled">Opening balance</transaction>
<transaction id="2" date="2026-01-15" accountId="400" entry="Cr" major="3000" minor="0" currency="USD" status="Cleared"/>
</ledger>
<?editor keep?>
<ledger id="500">
<transaction id="3" date="2026-02-01" accountId="101" entry="Cr" major="1200" minor="0" currency="USD" status="Pending">February &lt;rent&gt;</transaction>
</ledger>
</ledgers>
<banks>
<bank name="First Bank" closed="false">
<account id="101" type="Checking"/>
<account id="102" type="Savings"/>
</bank>
<bank name="Credit Union" closed="true">
<account id="200" type="Credit Card"/>
</bank>
</banks>
<reconciliations>
<reconciliation account="101" major="1520" minor="75" currency="USD" date="2026-02-28" checksum="c0ffee">
<distribution type="bill" id="1" major="1200" minor="0" currency="USD"/>
<distribution type="wage" id="2" major="320" minor="75" currency="USD"/>
</reconciliation>
<reconciliation account="200" major="-250" minor="0" currency="USD"/>
</reconciliations>
)";

// Every value of the document above, as the test support describes a state.
std::string const fullState =
    R"(account 100 [Assets] parent=none code=100 [Assets] parent=none Asset 0.0 USD
account 101 [Checking] parent=100 code=101 [Checking] parent=100 Asset 1520.75 USD
  transaction 1 2026-01-01 debit=101 [Checking] parent=none credit=300 [Opening Balances] parent=none 1000.0 USD Reconciled description=[Opening balance]
  transaction 2 2026-01-15 debit=101 [Checking] parent=none credit=400 [Salary] parent=none 3000.0 USD Cleared description=none
account 102 [Savings] parent=100 code=102 [Savings] parent=100 Asset -3.5 EUR closed
account 200 [Credit Card] parent=none code=200 [Credit Card] parent=none Liability -250.0 USD
account 300 [Opening Balances] parent=none code=300 [Opening Balances] parent=none Equity 1000.0 USD
account 400 [Salary] parent=none code=400 [Salary] parent=none Income 3000.0 USD
account 500 [Rent] parent=none code=500 [Rent] parent=none Expense 1200.0 USD
  transaction 3 2026-02-01 debit=500 [Rent] parent=none credit=101 [Checking] parent=none 1200.0 USD Pending description=[February <rent>]
opening 300 [Opening Balances] parent=none
wage [Bonus] 500.50 USD Annually 2026-12-20 account=400 [Salary] parent=none
wage [Salary] 3000.0 USD Monthly 2026-03-15 account=400 [Salary] parent=none
bill [Rent] 1200.0 USD Monthly 2026-03-01 account=500 [Rent] parent=none
debt [Card] 35.0 USD Monthly 2026-03-10 account=200 [Credit Card] parent=none borrowed=250.0 USD interest=0.1999
goal [Holiday] 100.0 EUR Fortnightly 2026-03-06 account=102 [Savings] parent=100 final=2000.0 EUR
nontrack [Coffee & cake] 40.25 USD Weekly 2026-03-02 account=101 [Checking] parent=100
bank [Credit Union] closed 200
bank [First Bank] 101 102
type [Credit Union] 200 Credit Card
type [First Bank] 101 Checking
type [First Bank] 102 Savings
survey [Credit Union] 200 [Credit Card] parent=none Credit Card balance=-250.0 USD on=none checksum=none
survey [First Bank] 101 [Checking] parent=none Checking balance=1520.75 USD on=2026-02-28 checksum=[c0ffee]
  distribution bill [Rent] 1200.0 USD
  distribution wage [Bonus] 320.75 USD
)";

char const* const collectionTags[] = {"wages",    "bills",   "debts", "goals",          "nontracks",
                                      "accounts", "ledgers", "banks", "reconciliations"};

// Every collection is read before any value is converted, so their order under the root does
// not matter.
TEST(LoadBudgetDocument, FullDocumentGivesEveryValueWhateverTheOrderOfItsCollections) {
    EXPECT_EQ(budgets::describe(load(document(2, fullBody))), fullState);
    QList<QByteArray> parts;
    for (auto const* tag : collectionTags) {
        auto const start = fullBody.indexOf("<" + QByteArray(tag));
        auto const endTag = "</" + QByteArray(tag) + ">\n";
        auto const end = fullBody.indexOf(endTag, start) + endTag.size();
        parts.prepend(fullBody.mid(start, end - start));
    }
    EXPECT_EQ(budgets::describe(load(document(2, parts.join()))), fullState);
}

// An empty root of every revision, a root without an end tag, and empty collections.
TEST(LoadBudgetDocument, EmptyDocumentsGiveAnEmptyState) {
    QByteArray collections;
    for (auto const* tag : collectionTags) {
        collections += "<" + QByteArray(tag) + "/>\n";
    }
    auto const empty = budgets::describe(budgets::emptyBudget());
    for (auto const& bytes :
         {document(0, ""), document(1, ""), document(2, ""),
          QByteArray(R"(<KelvoraMindrath revision="2"/>)"), document(2, collections)}) {
        EXPECT_EQ(budgets::describe(load(bytes)), empty) << bytes.toStdString();
    }
}

TEST(LoadBudgetDocument, RevisionOneLoadsWithoutReconciliations) {
    auto const withoutReconciliations = fullBody.left(fullBody.indexOf("<reconciliations>"));
    EXPECT_EQ(budgets::describe(load(document(1, withoutReconciliations))),
              fullState.substr(0, fullState.find("survey ")));
}

TEST(LoadBudgetDocument, LogsTheStartAndTheRevision) {
    budgets::LogCapture log;
    load(document(1, ""));
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Reading from budget file.")));
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Parsing budget file revision 1")));
}

// ---- Ledger ----

TEST(LoadBudgetDocument, EntryTellsOnWhichSideTheOtherAccountStands) {
    auto const state = load(
        document(2, twoAccounts + collection("ledgers", ledger(10, transaction(1, 20, "Dr") +
                                                                       transaction(2, 20, "Cr") +
                                                                       transaction(3, 20, "dr")))));
    auto const& transactions = ledgerAccount(state, 10).transactions;
    ASSERT_EQ(transactions.size(), 3u);
    // Codes inside transactions carry the account's name but never its parent.
    auto const& debitOther = transactions.at(TransactionNumber(1));
    EXPECT_EQ(codeText(debitOther.debiting()), QStringLiteral("20 Card -"));
    EXPECT_EQ(codeText(debitOther.crediting()), QStringLiteral("10 Checking -"));
    auto const& creditOther = transactions.at(TransactionNumber(2));
    EXPECT_EQ(codeText(creditOther.debiting()), QStringLiteral("10 Checking -"));
    EXPECT_EQ(codeText(creditOther.crediting()), QStringLiteral("20 Card -"));
    // An entry of neither abbreviation books both sides to the ledger's own account.
    auto const& neither = transactions.at(TransactionNumber(3));
    EXPECT_EQ(codeText(neither.debiting()), QStringLiteral("10 Checking -"));
    EXPECT_EQ(codeText(neither.crediting()), QStringLiteral("10 Checking -"));
    // The account itself keeps its parent.
    EXPECT_EQ(codeText(ledgerAccount(state, 10).account.code()), QStringLiteral("10 Checking 1"));
}

TEST(LoadBudgetDocument, FirstTransactionOfANumberInALedgerWins) {
    auto const state = load(
        document(2, twoAccounts +
                        collection("ledgers",
                                   ledger(10, transaction(7, 20, "Dr", "USD", "Cleared", 1) +
                                                  transaction(7, 20, "Cr", "USD", "Pending", 2)) +
                                       ledger(20, transaction(7, 10, "Dr", "USD", "Cleared", 3)))));
    auto const& ten = ledgerAccount(state, 10).transactions;
    ASSERT_EQ(ten.size(), 1u);
    EXPECT_EQ(ten.at(TransactionNumber(7)).amount().major(), 1);
    EXPECT_EQ(ten.at(TransactionNumber(7)).status(), TransactionStatuses::cleared);
    // The same number in another ledger is another transaction.
    auto const& twenty = ledgerAccount(state, 20).transactions;
    ASSERT_EQ(twenty.size(), 1u);
    EXPECT_EQ(twenty.at(TransactionNumber(7)).amount().major(), 3);
}

TEST(LoadBudgetDocument, FirstAccountOfANumberWinsWithItsNameEverywhere) {
    auto const accounts =
        collection("accounts", account(10, "First") + account(20, "Card") +
                                   account(10, "Second", R"( parentId="20")", "Expense", "EUR"));
    auto const state =
        load(document(2, collection("wages", item("wage", 1, "Salary", 10)) + accounts +
                             QByteArray(R"(<ledgers openingAccountId="10">)") + "\n" +
                             ledger(10, transaction(1, 20, "Cr")) +
                             ledger(20, transaction(2, 10, "Dr")) + "</ledgers>\n"));
    auto const& ledgers = std::get<GeneralLedger>(state).ledgers();
    ASSERT_EQ(ledgers.size(), 2u);
    auto const& first = ledgerAccount(state, 10);
    EXPECT_EQ(codeText(first.account.code()), QStringLiteral("10 First -"));
    EXPECT_EQ(first.account.type(), AccountTypes::asset);
    EXPECT_EQ(first.account.balance().code(), orvalis::currency::Iso4217Codes::USD);
    ASSERT_EQ(first.transactions.size(), 1u);
    EXPECT_EQ(codeText(first.transactions.begin()->second.debiting()),
              QStringLiteral("10 First -"));
    auto const& other = ledgerAccount(state, 20).transactions.begin()->second;
    EXPECT_EQ(codeText(other.debiting()), QStringLiteral("10 First -"));
    EXPECT_EQ(codeText(*std::get<GeneralLedger>(state).openingAccountCode()),
              QStringLiteral("10 First -"));
    EXPECT_EQ(codeText(std::get<zel::storage::ItemAccountMap>(state).at<Wage>(
                  BudgetSource(QStringLiteral("Salary")))),
              QStringLiteral("10 First -"));
}

TEST(LoadBudgetDocument, AccountWithoutLedgerHasNoTransactions) {
    auto const state =
        load(document(2, twoAccounts + collection("ledgers", ledger(10, transaction(1, 10, "Dr")) +
                                                                 "<ledger id=\"99\"/>\n")));
    EXPECT_EQ(std::get<GeneralLedger>(state).ledgers().size(), 2u);
    EXPECT_TRUE(ledgerAccount(state, 20).transactions.empty());
    EXPECT_EQ(ledgerAccount(state, 10).transactions.size(), 1u);
    // An empty ledger of a number that no account has adds nothing.
    EXPECT_EQ(std::get<GeneralLedger>(state).ledgers().count(number(99)), 0u);
}

TEST(LoadBudgetDocument, OpeningAccountCodeHasTheNameAndNoParent) {
    auto const state = load(document(2, twoAccounts + "<ledgers openingAccountId=\"10\"/>\n"));
    ASSERT_TRUE(std::get<GeneralLedger>(state).openingAccountCode().has_value());
    EXPECT_EQ(codeText(*std::get<GeneralLedger>(state).openingAccountCode()),
              QStringLiteral("10 Checking -"));
}

// ---- Budget items ----

TEST(LoadBudgetDocument, ItemAccountsCarryTheAccountsFullCode) {
    auto const state =
        load(document(2, collection("wages", item("wage", 1, "Salary", 10)) +
                             collection("goals", goal(1, "Salary", 20)) + twoAccounts));
    auto const& items = std::get<zel::storage::ItemAccountMap>(state);
    EXPECT_EQ(codeText(items.at<Wage>(BudgetSource(QStringLiteral("Salary")))),
              QStringLiteral("10 Checking 1"));
    // The same source in another kind is another item.
    EXPECT_EQ(codeText(items.at<Goal>(BudgetSource(QStringLiteral("Salary")))),
              QStringLiteral("20 Card -"));
}

TEST(LoadBudgetDocument, ItemsSharingAnIdentifierAreAllKeptAndTheLaterIsNamed) {
    auto const state = load(document(
        2, collection("wages", item("wage", 1, "Alpha", 10) + item("wage", 1, "Beta", 10)) +
               twoAccounts + collection("banks", bank("First Bank", bankAccount(10))) +
               collection("reconciliations", reconciliation(10, distribution("wage", 1)))));
    EXPECT_EQ(sources(std::get<Budget>(state).wages()),
              (std::vector<QString>{QStringLiteral("Alpha"), QStringLiteral("Beta")}));
    auto const& distributed = onlySurvey(state).distribution();
    ASSERT_EQ(distributed.size(), 1u);
    EXPECT_EQ(distributed.begin()->first.type, BudgetItemTypes::wage);
    EXPECT_EQ(distributed.begin()->first.source.name(), QStringLiteral("Beta"));
}

// ---- Banks and reconciliations ----

TEST(LoadBudgetDocument, LaterBankOfANameReplacesTheBankWhileTypesKeepBoth) {
    auto const state = load(document(
        2, twoAccounts +
               collection("banks",
                          bank("Same", bankAccount(10, "Checking") + bankAccount(20, "Loan")) +
                              bank("Same", bankAccount(20, "Savings") + bankAccount(20, "Savings"),
                                   true))));
    auto const& banks = std::get<BankMap>(state);
    ASSERT_EQ(banks.size(), 1u);
    auto const& kept = banks.begin()->second;
    EXPECT_TRUE(kept.isClosed());
    EXPECT_EQ(kept.accounts(), (std::set<AccountNumber>{AccountNumber(20)}));
    auto const& types = std::get<AccountTypeMap>(state);
    ASSERT_EQ(types.size(), 1u);
    auto const& same = types.begin()->second;
    ASSERT_EQ(same.size(), 2u);
    EXPECT_EQ(same.at(AccountNumber(10)), SupportedAccountTypes::checking);
    EXPECT_EQ(same.at(AccountNumber(20)), SupportedAccountTypes::savings);
}

TEST(LoadBudgetDocument, AccountOfTwoBanksIsReconciledAgainstTheBankFirstByName) {
    auto const state =
        load(document(2, twoAccounts +
                             collection("banks", bank("Zeta", bankAccount(10, "Savings")) +
                                                     bank("Alpha", bankAccount(10, "Checking"))) +
                             collection("reconciliations", reconciliation(10, ""))));
    auto const& surveys = std::get<surveying::ReconciledSurveys>(state);
    ASSERT_EQ(surveys.size(), 1u);
    auto const& key = surveys.begin()->first;
    EXPECT_EQ(key.bank.institution(), QStringLiteral("Alpha"));
    EXPECT_EQ(key.type, SupportedAccountTypes::checking);
    EXPECT_EQ(codeText(key.code), QStringLiteral("10 Checking -"));
}

TEST(LoadBudgetDocument, FirstDistributionOfAnItemWins) {
    auto const state = load(document(
        2, reconcilable + collection("reconciliations",
                                     reconciliation(10, distribution("wage", 1, 5) +
                                                            distribution("wage", 1, 6, "EUR")))));
    auto const& distributed = onlySurvey(state).distribution();
    ASSERT_EQ(distributed.size(), 1u);
    EXPECT_EQ(distributed.begin()->second.major(), 5);
    EXPECT_EQ(distributed.begin()->second.code(), orvalis::currency::Iso4217Codes::USD);
}

TEST(LoadBudgetDocument, FirstReconciliationOfABankAccountWins) {
    auto const state = load(document(
        2, reconcilable +
               collection("reconciliations", reconciliation(10, distribution("wage", 1), 11) +
                                                 reconciliation(10, distribution("bill", 1), 12))));
    auto const& survey = onlySurvey(state);
    EXPECT_EQ(survey.reconciled().balance().major(), 11);
    ASSERT_EQ(survey.distribution().size(), 1u);
    EXPECT_EQ(survey.distribution().begin()->first.type, BudgetItemTypes::wage);
}

// ---- Failures ----

// Shared with the hostile documents, which are instantiated beside them.
TEST_P(LoadFailures, ThrowALibraryErrorWithTheTextsPositionAndCause) {
    auto const& c = GetParam();
    auto const marked = documents::unmark(c.document);
    try {
        load(marked.document);
        FAIL() << "the document loaded";
    } catch (StorageError const& error) {
        EXPECT_NE(dynamic_cast<BudgetFileError const*>(&error), nullptr);
        EXPECT_EQ(dynamic_cast<AttributeError const*>(&error) != nullptr, c.attributeError);
        EXPECT_EQ(error.firstText(),
                  documents::fileSentence(c.errorText, marked.line, marked.column));
        EXPECT_EQ(error.secondText(), c.message);
        switch (c.cause) {
        case Cause::none:
            EXPECT_EQ(error.causeDescription(), "std::exception");
            break;
        case Cause::lookup:
            EXPECT_FALSE(error.causeDescription().empty());
            EXPECT_NE(error.causeDescription(), "std::exception");
            break;
        case Cause::conversion:
            EXPECT_EQ(error.causeDescription(), documents::whatOf(c.conversion));
            break;
        }
    }
}

QString const unexpectedElement =
    QStringLiteral("An unexpected element, %1, appeared in the element %2.");
QString const unexpectedTopLevel =
    QStringLiteral("An unexpected error top-level element, %1, appeared in the file.");
QString const unexpectedError = QStringLiteral("An unexpected error appeared in the file.");
QString const missingRoot = QStringLiteral("Missing the application element in the budget file.");
QString const prematureEnd = QStringLiteral("Premature end of document.");
QString const malformedData = QStringLiteral("The budget file contains malformed %1 data.");
QString const missingName =
    QStringLiteral("The budget file contains malformed account/transaction/reconciliation data. "
                   "Failed to locate account name for account number %1.");
QString const malformedTransaction =
    QStringLiteral("The budget file contains malformed transaction data in the ledger %1, "
                   "transaction %2.");
QString const malformedReconciliation =
    QStringLiteral("The budget file contains malformed reconciliation data for the account %1.");
QString const missingIdentifier =
    QStringLiteral("The budget file contains a malformed budget item ID mapping. There is not an "
                   "identifier of %1 of the type %2.");

std::function<void()> currencyOf(char const* text) {
    return [text] { (void)orvalis::currency::toIso4217Code(text); };
}

QByteArray const declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
QByteArray const root = "<KelvoraMindrath revision=\"2\">\n";
QByteArray const rootEnd = "</KelvoraMindrath>\n";

// A misplaced element, where the collection at the top says where reading stopped.
LoadFailure misplaced(char const* name, QByteArray const& body, char const* element,
                      char const* within) {
    return refused(name, document(2, body), unexpectedElement.arg(element, within));
}

std::vector<LoadFailure> documentFaults() {
    return {
        // The document and its root.
        refused("EmptyDocument", "@", missingRoot, prematureEnd),
        refused("OnlyTheDeclaration", declaration + "@", missingRoot, prematureEnd),
        refused("ForeignRoot", declaration + "<budget revision=\"2\">\n<wages/>@\n</budget>\n",
                missingRoot),
        refused("ForeignRootHoldingTheApplicationElement",
                declaration + "<other>@\n" + root + rootEnd + "</other>\n",
                unexpectedTopLevel.arg(QStringLiteral("other"))),
        refused("UnsupportedRevision",
                declaration + "<KelvoraMindrath revision=\"3\">@\n" + rootEnd,
                QStringLiteral("The revision 3 of the budget file is not supported by this "
                               "application version which only supports up to revision 2.")),
        {"RevisionMissing",
         declaration + "<KelvoraMindrath>@\n" + rootEnd,
         true,
         {},
         QStringLiteral("The element tag 'KelvoraMindrath' attribute 'revision' is not valid. The "
                        "attribute value must be a number.")},
        // Top-level elements.
        refused("ReconciliationsInRevisionOne",
                document(1, twoAccounts + "<reconciliations>@\n</reconciliations>\n"),
                unexpectedTopLevel.arg(QStringLiteral("reconciliations"))),
        refused("UnknownTopLevelElement", document(2, "<wages/>\n<budget>@\n</budget>\n"),
                unexpectedTopLevel.arg(QStringLiteral("budget"))),
        refused("TopLevelTagInAnotherCase", document(2, "<Wages/>@\n"),
                unexpectedTopLevel.arg(QStringLiteral("Wages"))),
        refused("ItemOutsideItsCollection", document(2, "<wage id=\"1\"/>@\n"),
                unexpectedTopLevel.arg(QStringLiteral("wage"))),
        notFound(
            "RevisionZeroWithATopLevelElement", document(0, "<wages>\n</wages>\n"),
            QStringLiteral("The revision 0 of the budget file has no top-level element wages.")),
        // Reader errors.
        refused("MismatchedEndTag", document(2, "<wages>\n</bills>@\n"), unexpectedError,
                QStringLiteral("Opening and ending tag mismatch.")),
        refused("ContentAfterTheRoot", document(2, "") + "<wages/>@\n", unexpectedError,
                QStringLiteral("Extra content at end of document.")),
        refused(
            "ElementInsideATransaction",
            document(2,
                     twoAccounts + "<ledgers>\n<ledger id=\"10\">\n" +
                         transaction(1, 20, "Dr").replace("/>\n", ">Food<memo/>@</transaction>\n") +
                         "</ledger>\n</ledgers>\n"),
            unexpectedError, QStringLiteral("Expected character data.")),
        // Faults of elements pass through as they are.
        {"ItemAttributeMissing",
         document(2, "<wages>\n<wage id=\"1\" major=\"1\" minor=\"0\" name=\"Salary\" "
                     "currency=\"USD\" nextOccurOn=\"2026-03-01\" accountId=\"10\"/>@\n</wages>\n"),
         true,
         {},
         QStringLiteral("The element tag 'wage' attribute 'period' is not valid. The attribute "
                        "value must not be empty when required.")},
        refused("LedgerIdentifierZero",
                document(2, "<ledgers>\n<ledger id=\"0\">@\n</ledger>\n</ledgers>\n"),
                QStringLiteral("The ledger identifier cannot be invalid.")),
    };
}

std::vector<LoadFailure> misplacedElements() {
    return {
        misplaced("BillInWages",
                  "<wages>\n" + item("wage", 1, "Salary", 10) + "<bill id=\"1\"/>@\n</wages>\n",
                  "bill", "wages"),
        misplaced("WageInBills", "<bills>\n<wage id=\"1\"/>@\n</bills>\n", "wage", "bills"),
        misplaced("GoalInDebts", "<debts>\n<goal id=\"1\"/>@\n</debts>\n", "goal", "debts"),
        misplaced("DebtInGoals", "<goals>\n<debt id=\"1\"/>@\n</goals>\n", "debt", "goals"),
        misplaced("WageInNontracks", "<nontracks>\n<wage id=\"1\"/>@\n</nontracks>\n", "wage",
                  "nontracks"),
        misplaced("LedgerInAccounts",
                  "<accounts>\n" + account(10, "Checking") + "<ledger id=\"10\"/>@\n</accounts>\n",
                  "ledger", "accounts"),
        misplaced("TransactionInLedgers", "<ledgers>\n<transaction id=\"1\"/>@\n</ledgers>\n",
                  "transaction", "ledgers"),
        misplaced("AccountInBanks", "<banks>\n<account id=\"1\"/>@\n</banks>\n", "account",
                  "banks"),
        misplaced("DistributionInReconciliations",
                  "<reconciliations>\n<distribution id=\"1\"/>@\n</reconciliations>\n",
                  "distribution", "reconciliations"),
        misplaced("CollectionInItself", "<wages>\n<wages>@\n</wages>\n</wages>\n", "wages",
                  "wages"),
        // One level deeper the collection at the top reports where its read stopped: on the end
        // of the foreign element, or on its first child.
        misplaced("ForeignElementInALedger",
                  twoAccounts + "<ledgers>\n<ledger id=\"10\">\n" + transaction(1, 20, "Dr") +
                      "<memo/>@\n</ledger>\n</ledgers>\n",
                  "memo", "ledgers"),
        misplaced("ForeignElementWithTextInALedger",
                  "<ledgers>\n<ledger id=\"10\">\n<memo>note</memo>@\n</ledger>\n</ledgers>\n",
                  "memo", "ledgers"),
        misplaced("ForeignElementWithChildrenInALedger",
                  "<ledgers>\n<ledger id=\"10\">\n<memo>\n<ledger id=\"11\"/>\n</memo>@\n"
                  "</ledger>\n</ledgers>\n",
                  "memo", "ledgers"),
        misplaced("TransactionInABank",
                  "<banks>\n<bank name=\"B\" closed=\"false\">\n" + bankAccount(10) +
                      "<transaction id=\"1\"/>@\n</bank>\n</banks>\n",
                  "transaction", "banks"),
        misplaced("AccountInAReconciliation",
                  "<reconciliations>\n<reconciliation account=\"10\">\n<account id=\"10\"/>@\n"
                  "</reconciliation>\n</reconciliations>\n",
                  "account", "reconciliations"),
        // A foreign element that closes like the collection above it: reading ends early, and
        // what stands after it is misplaced under the root.
        misplaced("CollectionTagInsideABank",
                  "<banks>\n<bank name=\"B\" closed=\"false\">\n<banks/>\n</bank>@\n</banks>\n",
                  "bank", "KelvoraMindrath"),
        misplaced("ElementAfterAnInnerRootEnd",
                  "<banks>\n<bank name=\"B\" closed=\"false\">\n<banks/>\n"
                  "<KelvoraMindrath revision=\"2\"/>\n<wages/>@\n</bank>\n</banks>\n",
                  "wages", "KelvoraMindrath"),
    };
}

std::vector<LoadFailure> conversionFaults() {
    auto const accounts = twoAccounts;
    auto const inLedger = [&](QByteArray const& transactions, int account = 10) {
        return document(2, accounts + collection("ledgers", ledger(account, transactions)));
    };
    auto const reconciled = [&](QByteArray const& reconciliations) {
        return document(2, reconcilable + collection("reconciliations", reconciliations));
    };
    auto const duplicate = [] {
        DebtMap debts;
        Debt const card(BudgetSource(QStringLiteral("Card")),
                        orvalis::currency::Money(1, 0, orvalis::currency::Iso4217Codes::USD),
                        EventFrequency::monthly, QDate(2026, 1, 1),
                        orvalis::currency::Money(1, 0, orvalis::currency::Iso4217Codes::USD),
                        Percentage{1});
        debts.add(card);
        debts.add(card);
    };
    auto const data = [](char const* kind) { return malformedData.arg(QLatin1String(kind)); };
    return {
        // Budget items.
        malformed("WageCurrencyUnknown",
                  document(2, accounts + collection("wages", item("wage", 1, "Salary", 10, "usd"))),
                  data("wage"), currencyOf("usd")),
        malformed("BillPeriodUnknown",
                  document(2, accounts + collection("bills",
                                                    item("bill", 1, "Rent", 10, "USD", "monthly"))),
                  data("bill"), [] { (void)toEventFrequency(QStringLiteral("monthly")); }),
        malformed(
            "DebtSourceTwice",
            document(2, accounts + collection("debts", debt(1, "Card", 20) + debt(2, "Card", 20))),
            data("debt"), duplicate),
        malformed("GoalCurrencyUnknown",
                  document(2, accounts + collection("goals", goal(1, "Holiday", 10, "EURO"))),
                  data("goal"), currencyOf("EURO")),
        malformed("NontrackPeriodUnknown",
                  document(2, accounts + collection("nontracks", item("nontrack", 1, "Coffee", 10,
                                                                      "USD", "Biweekly"))),
                  data("nontrack"), [] { (void)toEventFrequency(QStringLiteral("Biweekly")); }),
        notFound("ItemAccountMissing",
                 document(2, accounts + collection("bills", item("bill", 1, "Rent", 999))),
                 data("bill") + QStringLiteral(" The bill 'Rent' names the account number 999, "
                                               "which is not an account of the ledger.")),
        // Accounts and transactions.
        malformed("AccountTypeUnknown",
                  document(2, collection("accounts", account(10, "Checking", "", "asset"))),
                  data("ledger"), [] { (void)toAccountTypes(QStringLiteral("asset")); }),
        malformed(
            "AccountCurrencyUnknown",
            document(2, collection("accounts", account(10, "Checking", "", "Asset", "US Dollar"))),
            data("ledger"), currencyOf("US Dollar")),
        refused("OtherAccountMissing", inLedger(transaction(1, 30, "Dr")), missingName.arg(30)),
        refused("LedgerAccountMissingOnTheDebitSide", inLedger(transaction(1, 10, "Cr"), 40),
                missingName.arg(40)),
        refused("LedgerAccountMissingOnTheCreditSide", inLedger(transaction(1, 10, "Dr"), 40),
                missingName.arg(40)),
        refused("DebitSideReportedBeforeCreditSide", inLedger(transaction(1, 50, "Dr"), 40),
                missingName.arg(50)),
        refused("OpeningAccountMissing",
                document(2, accounts + "<ledgers openingAccountId=\"0\"/>\n"), missingName.arg(0)),
        malformed("TransactionCurrencyUnknown",
                  inLedger(transaction(1, 20, "Dr") + transaction(2, 20, "Dr", "usd")),
                  malformedTransaction.arg(10).arg(2), currencyOf("usd")),
        malformed("TransactionStatusUnknown", inLedger(transaction(3, 20, "Cr", "USD", "cleared")),
                  malformedTransaction.arg(10).arg(3),
                  [] { (void)toTransactionStatuses(QStringLiteral("cleared")); }),
        // Banks and reconciliations.
        malformed("BankAccountTypeUnknown",
                  document(2, collection("banks",
                                         bank("B", bankAccount(10) + bankAccount(20, "Chequing")))),
                  data("banks"), [] { (void)toSupportedAccountTypes(QStringLiteral("Chequing")); }),
        refused("ReconciledAccountOfNoBank", reconciled(reconciliation(20, "")),
                QStringLiteral("The budget file contains malformed reconciliation data, failed to "
                               "locate thebank information for 20.")),
        refused("ReconciledAccountWithoutAccount",
                document(2, twoAccounts + collection("banks", bank("B", bankAccount(60))) +
                                collection("reconciliations", reconciliation(60, ""))),
                missingName.arg(60)),
        notFound("DistributionOfAnUnknownIdentifier",
                 reconciled(reconciliation(10, distribution("wage", 7))),
                 missingIdentifier.arg(7).arg(QStringLiteral("Wage"))),
        notFound("DistributionOfAKindWithoutItems",
                 reconciled(reconciliation(10, distribution("goal", 1))),
                 missingIdentifier.arg(1).arg(QStringLiteral("Goal"))),
        malformed("DistributionTypeUnknown",
                  reconciled(reconciliation(10, distribution("Wage", 1))),
                  malformedReconciliation.arg(10),
                  [] { (void)toBudgetItemTypes(QStringLiteral("Wage")); }),
        malformed("DistributionWithoutType",
                  reconciled(reconciliation(10, "<distribution id=\"1\" major=\"1\" minor=\"0\" "
                                                "currency=\"USD\"/>\n")),
                  malformedReconciliation.arg(10), [] { (void)toBudgetItemTypes(QString()); }),
        malformed("DistributionCurrencyUnknown",
                  reconciled(reconciliation(10, distribution("wage", 1, 1, "dollars"))),
                  malformedReconciliation.arg(10), currencyOf("dollars")),
        malformed("ReconciliationCurrencyUnknown", reconciled(reconciliation(10, "", 1, "ZZZ")),
                  malformedReconciliation.arg(10), currencyOf("ZZZ")),
        malformed("ReconciliationWithoutCurrency", reconciled("<reconciliation account=\"10\"/>\n"),
                  malformedReconciliation.arg(10), currencyOf("")),
    };
}

INSTANTIATE_TEST_SUITE_P(Document, LoadFailures, ::testing::ValuesIn(documentFaults()),
                         documents::caseName);
INSTANTIATE_TEST_SUITE_P(Misplaced, LoadFailures, ::testing::ValuesIn(misplacedElements()),
                         documents::caseName);
INSTANTIATE_TEST_SUITE_P(Conversion, LoadFailures, ::testing::ValuesIn(conversionFaults()),
                         documents::caseName);

// A device that cannot go back to its start.
class OneWayBuffer : public QBuffer {
public:
    using QBuffer::QBuffer;
    bool reset() override {
        setErrorString(QStringLiteral("The device cannot rewind."));
        return false;
    }
};

TEST(LoadBudgetDocument, DeviceThatCannotRewindIsReported) {
    auto bytes = document(2, twoAccounts);
    OneWayBuffer device(&bytes);
    device.open(QIODevice::ReadOnly | QIODevice::Text);
    try {
        zel::file_storage::internal::loadBudgetDocument(device);
        FAIL() << "the document loaded";
    } catch (BudgetFileError const& error) {
        EXPECT_EQ(error.firstText(),
                  documents::fileSentence(QStringLiteral("The device cannot rewind."), 0, 0));
        EXPECT_EQ(error.secondText(), QStringLiteral("Failed to reset budget file, after reading "
                                                     "the application element."));
        EXPECT_EQ(error.causeDescription(), "std::exception");
    }
}

// A load that fails changes nothing on disk, and the same object then loads a good file.
TEST(LoadBudgetDocument, FailedLoadLeavesNothingBehind) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    auto const path = directory.filePath(QStringLiteral("budget.xml"));
    auto const broken = document(2, collection("wages", item("wage", 1, "Salary", 10)));
    auto writeFile = [&](QByteArray const& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    writeFile(broken);
    zel::file_storage::BudgetFile const budgetFile(path, QStringLiteral("~"));
    EXPECT_THROW(budgetFile.load(), BudgetFileError);
    EXPECT_EQ(
        QDir(directory.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList{QStringLiteral("budget.xml")});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), broken);
    file.close();

    writeFile(document(2, fullBody));
    EXPECT_EQ(budgets::describe(budgetFile.load()), fullState);
}

} // namespace
