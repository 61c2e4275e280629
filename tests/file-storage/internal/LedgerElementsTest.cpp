#include "file-storage/internal/LedgerElements.h"

#include "ElementTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace zel::file_storage::internal {

// Field-by-field equality, for comparing what was read with what was written. Kept to this
// file, where argument-dependent lookup still finds it.
static bool operator==(AccountElement const& a, AccountElement const& b) {
    return std::tie(a.identifier, a.name, a.type, a.major, a.minor, a.currency, a.closed,
                    a.parentNumber) == std::tie(b.identifier, b.name, b.type, b.major, b.minor,
                                                b.currency, b.closed, b.parentNumber);
}
static bool operator==(TransactionElement const& a, TransactionElement const& b) {
    return std::tie(a.identifier, a.date, a.otherAccountNumber, a.entry, a.major, a.minor,
                    a.currency, a.status, a.description) ==
           std::tie(b.identifier, b.date, b.otherAccountNumber, b.entry, b.major, b.minor,
                    b.currency, b.status, b.description);
}
static bool operator==(LedgerElement const& a, LedgerElement const& b) {
    return a.identifier == b.identifier && a.transactions == b.transactions;
}
static bool operator==(AccountsElement const& a, AccountsElement const& b) {
    return a.accounts == b.accounts;
}
static bool operator==(LedgersElement const& a, LedgersElement const& b) {
    return a.openingAccountNumber == b.openingAccountNumber && a.ledgers == b.ledgers;
}

} // namespace zel::file_storage::internal

using namespace zel::file_storage;
using namespace zel::file_storage::internal;
using namespace zel::testing;

namespace {

AccountElement checking() {
    return AccountElement(7, QStringLiteral("Checking"), QStringLiteral("Asset"), 1234, 56,
                          QStringLiteral("USD"), false, 3u);
}

TransactionElement transaction(quint32 id, zel::foundation::Optional<QString> description) {
    return TransactionElement(id, QDate(2024, 2, 29), 12, QStringLiteral("DR"), -1500, 5,
                              QStringLiteral("EUR"), QStringLiteral("Reconciled"),
                              std::move(description));
}

// The start tag of transaction(1, ...), still open for its end.
QByteArray const transactionStart =
    R"(<transaction id="1" date="2024-02-29" accountId="12" entry="DR" major="-1500" minor="5" )"
    R"(currency="EUR" status="Reconciled")";

// ---- Round trips ----

TEST(AccountRoundTrip, WithParent) {
    expectRoundTrip(checking(), R"(<account id="7" name="Checking" type="Asset" major="1234" )"
                                R"(minor="56" currency="USD" closed="false" parentId="3"/>)");
}

TEST(AccountRoundTrip, WithoutParentLeavesParentIdOut) {
    expectRoundTrip(AccountElement(8, QStringLiteral("Loan"), QStringLiteral("Liability"), -42, 0,
                                   QStringLiteral("EUR"), true, std::nullopt),
                    R"(<account id="8" name="Loan" type="Liability" major="-42" minor="0" )"
                    R"(currency="EUR" closed="true"/>)");
}

TEST(AccountRoundTrip, ExtremeNumbersAndEscapedNonLatin1Text) {
    expectRoundTrip(
        AccountElement(std::numeric_limits<quint32>::max(),
                       QStringLiteral("Ä & <Ω> \"q\" 'a' 東京 😀"), QStringLiteral(" "),
                       std::numeric_limits<qint64>::min(), 65535, QStringLiteral("JPY"), false, 0u),
        "<account id=\"4294967295\" name=\"Ä &amp; &lt;Ω&gt; &quot;q&quot; 'a' 東京 😀\" "
        "type=\" \" major=\"-9223372036854775808\" minor=\"65535\" currency=\"JPY\" "
        "closed=\"false\" parentId=\"0\"/>");
}

TEST(AccountsRoundTrip, EmptyAndTwoAccountsInOrder) {
    expectRoundTrip(AccountsElement(), "<accounts/>");
    AccountsElement accounts;
    accounts.accounts = {checking(),
                         AccountElement(2, QStringLiteral("Cash"), QStringLiteral("Asset"), 0, 0,
                                        QStringLiteral("USD"), false, 7u)};
    expectRoundTrip(accounts,
                    R"(<accounts><account id="7" name="Checking" type="Asset" )"
                    R"(major="1234" minor="56" currency="USD" closed="false" )"
                    R"(parentId="3"/><account id="2" name="Cash" type="Asset" major="0" )"
                    R"(minor="0" currency="USD" closed="false" parentId="7"/></accounts>)");
}

struct DescriptionCase {
    char const* name;
    zel::foundation::Optional<QString> description;
    QByteArray end; // what follows the attributes
};

class TransactionRoundTrip : public testing::TestWithParam<DescriptionCase> {};

TEST_P(TransactionRoundTrip, KeepsTheDescriptionExactly) {
    expectRoundTrip(transaction(1, GetParam().description), transactionStart + GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, TransactionRoundTrip,
    testing::Values(
        DescriptionCase{"Plain", QStringLiteral("Groceries"), ">Groceries</transaction>"},
        DescriptionCase{"Absent", std::nullopt, "/>"},
        // White space is a description of its own, not the absence of one.
        DescriptionCase{"OneSpace", QStringLiteral(" "), "> </transaction>"},
        DescriptionCase{"EscapedAndNonLatin1", QStringLiteral("a<b & \"c\" 'd' > Café – 東京 😀"),
                        ">a&lt;b &amp; &quot;c&quot; 'd' &gt; Café – 東京 😀</transaction>"}),
    [](auto const& p) { return p.param.name; });

TEST(TransactionRoundTrip, EmptyDescriptionReadsBackAsNone) {
    auto const written = writtenBytes(transaction(1, QString()));
    EXPECT_EQ(QString::fromUtf8(written), QString::fromUtf8(transactionStart + "></transaction>"));
    EXPECT_FALSE(readElement<TransactionElement>(written).description.has_value());
}

TEST(LedgerRoundTrip, EmptyAndWithTransactionsInOrder) {
    expectRoundTrip(LedgerElement(5), R"(<ledger id="5"/>)");
    LedgerElement ledger(5);
    ledger.transactions = {transaction(2, QStringLiteral("x")), transaction(1, std::nullopt)};
    auto second = transactionStart + ">x</transaction>";
    second.replace(R"(id="1")", R"(id="2")");
    expectRoundTrip(ledger, R"(<ledger id="5">)" + second + transactionStart + "/></ledger>");
}

TEST(LedgersRoundTrip, WithAndWithoutOpeningAccount) {
    expectRoundTrip(LedgersElement(), "<ledgers/>");
    expectRoundTrip(LedgersElement(0u), R"(<ledgers openingAccountId="0"/>)");
    LedgersElement ledgers(4294967295u);
    ledgers.ledgers = {LedgerElement(2), LedgerElement(1)};
    expectRoundTrip(ledgers, R"(<ledgers openingAccountId="4294967295"><ledger id="2"/>)"
                             R"(<ledger id="1"/></ledgers>)");
}

// ---- Read errors ----

QByteArray const goodAccount =
    R"(<account id="1" name="n" type="t" major="1" minor="2" currency="USD" closed="false"/>)";
QByteArray const goodTransaction =
    R"(<transaction id="3" date="2024-01-31" accountId="4" entry="CR" major="0" minor="0" )"
    R"(currency="USD" status="Pending"/>)";

QByteArray replaced(QByteArray text, QByteArray const& from, QByteArray const& to) {
    return text.replace(from, to);
}

// A second account, spoilt, after a good one.
ReadFault badAccount(char const* name, QByteArray const& from, QByteArray const& to,
                     QString const& attribute, QString const& message) {
    auto const bad = replaced(goodAccount, from, to);
    return {name,
            readAs<AccountsElement>,
            "<accounts>\n  " + goodAccount + "\n  " + bad + "\n</accounts>",
            bad,
            attribute,
            message};
}

// A second transaction, spoilt, after a good one in a ledger.
ReadFault badTransaction(char const* name, QByteArray const& from, QByteArray const& to,
                         QString const& attribute, QString const& message) {
    auto const bad = replaced(goodTransaction, from, to);
    return {name,
            readAs<LedgersElement>,
            "<ledgers openingAccountId=\"1\">\n<ledger id=\"2\">\n" + goodTransaction + "\n" + bad +
                "\n</ledger>\n</ledgers>",
            bad,
            attribute,
            message};
}

INSTANTIATE_TEST_SUITE_P(
    Ledger, ReadFaults,
    testing::Values(
        badAccount("AccountEmptyCurrency", R"(currency="USD")", R"(currency="")",
                   QStringLiteral("currency"), messages::required),
        badAccount("AccountMissingName", R"(name="n" )", "", QStringLiteral("name"),
                   messages::required),
        badAccount("AccountEmptyParent", "/>", R"( parentId=""/>)", QStringLiteral("parentId"),
                   messages::notNumber),
        badAccount("AccountIdZero", R"(id="1")", R"(id="0")", {},
                   QStringLiteral("The account identifier cannot be invalid.")),
        badAccount("AccountMinorTooLarge", R"(minor="2")", R"(minor="65536")",
                   QStringLiteral("minor"), messages::tooLarge),
        badTransaction("TransactionInvalidDate", "2024-01-31", "2023-02-30", QStringLiteral("date"),
                       QStringLiteral("The read in attribute value, 2023-02-30, is not a valid "
                                      "date.")),
        badTransaction("TransactionMissingStatus", R"( status="Pending")", "",
                       QStringLiteral("status"), messages::required),
        badTransaction("TransactionAccountTooLarge", R"(accountId="4")",
                       R"(accountId="4294967296")", QStringLiteral("accountId"),
                       messages::tooLarge),
        badTransaction("TransactionIdZero", R"(id="3")", R"(id="0")", {},
                       QStringLiteral("The transaction identifier cannot be invalid.")),
        ReadFault{"LedgerIdZero",
                  readAs<LedgersElement>,
                  "<ledgers>\n<ledger id=\"1\"/>\n<ledger id=\"0\"/></ledgers>",
                  "<ledger id=\"0\"/>",
                  {},
                  QStringLiteral("The ledger identifier cannot be invalid.")},
        ReadFault{"LedgersEmptyOpeningAccount", readAs<LedgersElement>,
                  "<ledgers openingAccountId=\"\">\n</ledgers>", "<ledgers openingAccountId=\"\">",
                  QStringLiteral("openingAccountId"), messages::notNumber},
        ReadFault{"TagsAreCaseSensitive",
                  readAs<TransactionElement>,
                  "<Transaction id=\"1\"/>",
                  "<Transaction id=\"1\"/>",
                  {},
                  QStringLiteral("The XML element tag, Transaction, is not valid under the "
                                 "current element transaction.")}),
    [](auto const& p) { return p.param.name; });

// ---- Edge cases of reading ----

TEST(LedgerReading, AccountsStopAtAForeignChildAndKeepTheAccountsBefore) {
    auto const accounts = readUntilForeign<AccountsElement>(
        "<accounts>" + goodAccount + "<bank name=\"b\"/>" + goodAccount + "</accounts>", "bank");
    EXPECT_EQ(accounts.accounts.size(), 1u);
}

// The ledgers stop on the end of the foreign element in a ledger.
TEST(LedgerReading, LedgerStopsAtAForeignChild) {
    auto const reader = readerOnFirstElement("<ledgers><ledger id=\"1\">" + goodTransaction +
                                             "<note/>" + goodTransaction + "</ledger></ledgers>");
    LedgersElement ledgers;
    ledgers.read(*reader);
    ASSERT_EQ(ledgers.ledgers.size(), 1u);
    EXPECT_EQ(ledgers.ledgers[0].transactions.size(), 1u);
    EXPECT_EQ(reader->name(), QLatin1String("note"));
}

TEST(LedgerReading, AccountContentAndUnknownAttributesAreIgnored) {
    auto const accounts = readElement<AccountsElement>(
        R"(<accounts><account extra="x" id="2" name="n" type="t" major="1" minor="2" )"
        R"(currency=" " closed="true">text<account id="0"/><!-- c --></account>)" +
        goodAccount + "</accounts>");
    ASSERT_EQ(accounts.accounts.size(), 2u);
    // A blank currency is accepted from a file; only the constructor refuses it.
    EXPECT_EQ(accounts.accounts[0].currency, QStringLiteral(" "));
    EXPECT_TRUE(accounts.accounts[0].closed);
    EXPECT_FALSE(accounts.accounts[0].parentNumber.has_value());
    EXPECT_EQ(accounts.accounts[1].identifier, 1u);
}

TEST(LedgerReading, MissingOpeningAccountIsLoggedAtInfoLevel) {
    LogCapture log;
    auto const ledgers = readElement<LedgersElement>("<ledgers><ledger id=\"1\"/></ledgers>");
    EXPECT_FALSE(ledgers.openingAccountNumber.has_value());
    EXPECT_EQ(ledgers.ledgers.size(), 1u);
    ASSERT_EQ(log.texts(QtInfoMsg),
              std::vector<QString>{
                  QStringLiteral(R"(No attribute "openingAccountId" in "ledgers" tag element.)")});
    for (auto const& record : log.records()) {
        EXPECT_EQ(record.category, QStringLiteral("default"));
    }
}

// A present opening account is not logged.
TEST(LedgerLogging, OnlyTheCollectionsLogWritingAndTheLedgerNeverLogsReading) {
    AccountsElement accounts;
    accounts.accounts = {checking()};
    expectLogs(accounts, {"accounts"}, {"accounts", "account"});
    LedgersElement ledgers(1u);
    ledgers.ledgers = {LedgerElement(1)};
    ledgers.ledgers[0].transactions = {transaction(1, std::nullopt)};
    expectLogs(ledgers, {"ledgers"}, {"ledgers", "transaction"});
}

// ---- Construction and writing ----

TEST(LedgerConstruction, RefusesInvalidValuesWithoutAPosition) {
    auto const invalidIdentifier =
        QStringLiteral("An indexed element identifier cannot be invalid.");
    auto const blankCurrency = QStringLiteral("The account currency identifier cannot be zero.");
    expectValueError([] { AccountElement(0, {}, {}, 0, 0, QStringLiteral("USD"), false, {}); },
                     invalidIdentifier);
    expectValueError([] { AccountElement(1, {}, {}, 0, 0, QStringLiteral(" \t\n"), false, {}); },
                     blankCurrency);
    expectValueError([] { AccountElement(1, {}, {}, 0, 0, QString(), false, {}); }, blankCurrency);
    expectValueError([] { LedgerElement(0); }, invalidIdentifier);
    expectValueError([] { TransactionElement(0, {}, 0, {}, 0, 0, {}, {}, {}); }, invalidIdentifier);
    // A transaction checks nothing but its identifier.
    EXPECT_NO_THROW(TransactionElement(1, {}, 0, {}, 0, 0, {}, {}, {}));
}

TEST(LedgerWriting, AnInvalidTransactionDateFailsNamingTheElement) {
    TransactionElement const element(1, QDate(), 2, {}, 0, 0, {}, {}, {});
    expectAttributeError(
        [&] { writtenBytes(element); }, QStringLiteral("transaction"), QStringLiteral("date"),
        QStringLiteral("The attribute value to write, , is not a valid date."), 0, 0);
}

// ---- Hostile input ----

TEST(LedgerHostileInput, AHugeNonLatin1NameRoundTrips) {
    QString const longName(1 << 20, QChar(0x6771));
    expectRoundTrip(AccountElement(1, longName, QStringLiteral("t"), 0, 0, QStringLiteral("USD"),
                                   false, std::nullopt),
                    "<account id=\"1\" name=\"" + longName.toUtf8() +
                        R"(" type="t" major="0" minor="0" currency="USD" closed="false"/>)");
}

} // namespace
