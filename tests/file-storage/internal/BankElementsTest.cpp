#include "ElementTestSupport.h"
#include "support/LogCapture.h"

#include "file-storage/internal/BankElements.h"

#include <gtest/gtest.h>

#include <tuple>

namespace zel::file_storage::internal {

// Field-by-field equality, for comparing what was read with what was written. Kept to this
// file, where argument-dependent lookup still finds it.
static bool operator==(BankAccountElement const& a, BankAccountElement const& b) {
    return std::tie(a.number, a.type) == std::tie(b.number, b.type);
}
static bool operator==(BankElement const& a, BankElement const& b) {
    return std::tie(a.name, a.closed, a.accounts) == std::tie(b.name, b.closed, b.accounts);
}
static bool operator==(BanksElement const& a, BanksElement const& b) {
    return a.banks == b.banks;
}

} // namespace zel::file_storage::internal

using namespace zel::file_storage;
using namespace zel::file_storage::internal;
using namespace zel::testing;

namespace {

// ---- Round trips ----

TEST(BankRoundTrip, WithoutAccountsIsAnEmptyElementWithItsAttributes) {
    expectRoundTrip(BankElement(QStringLiteral("First"), false, {}),
                    R"(<bank name="First" closed="false"/>)");
}

TEST(BankRoundTrip, AccountsKeepTheirOrderNumberZeroAndText) {
    expectRoundTrip(BankElement(QStringLiteral("Caisse d'Épargne & \"Co\" <東京>"), true,
                                {BankAccountElement(4294967295u, QStringLiteral("Checking")),
                                 BankAccountElement(0, QStringLiteral("Épargne 😀"))}),
                    "<bank name=\"Caisse d'Épargne &amp; &quot;Co&quot; &lt;東京&gt;\" "
                    "closed=\"true\"><account id=\"4294967295\" type=\"Checking\"/>"
                    "<account id=\"0\" type=\"Épargne 😀\"/></bank>");
}

TEST(BanksRoundTrip, EmptyAndSeveralBanks) {
    expectRoundTrip(BanksElement(), "<banks/>");
    expectRoundTrip(
        BanksElement({BankElement(QStringLiteral("B"), false,
                                  {BankAccountElement(3, QStringLiteral("Savings"))}),
                      BankElement(QStringLiteral("A"), true, {})}),
        R"(<banks><bank name="B" closed="false"><account id="3" type="Savings"/></bank>)"
        R"(<bank name="A" closed="true"/></banks>)");
}

// ---- Read errors ----

// A faulty bank, perhaps with a faulty account after its start tag, on line 2 of a "banks"
// document: the reader stands just after the last start tag when it finds the fault.
ReadFault bankFault(char const* name, QByteArray const& bad, char const* attribute,
                    QString const& message) {
    return {name,
            readAs<BanksElement>,
            "<banks>\n" + bad + "</bank></banks>",
            bad.mid(bad.lastIndexOf('<')),
            QString::fromLatin1(attribute),
            message};
}

QByteArray const lonelyBank = R"(<bank name="n" closed="true"/>)";

INSTANTIATE_TEST_SUITE_P(
    Bank, ReadFaults,
    testing::Values(
        bankFault("EmptyName", R"(<bank name="" closed="false">)", "name", messages::required),
        bankFault("MissingClosed", R"(<bank name="n">)", "closed", messages::notBoolean),
        bankFault("ClosedInCapitals", R"(<bank name="n" closed="TRUE">)", "closed",
                  messages::notBoolean),
        bankFault("AccountIdNotANumber",
                  R"(<bank name="n" closed="true"><account id="x" type="t"/>)", "id",
                  messages::notNumber),
        bankFault("AccountIdTooLarge",
                  R"(<bank name="n" closed="true"><account id="4294967296" type="t"/>)", "id",
                  messages::tooLarge),
        bankFault("AccountMissingType",
                  R"(<bank name="n" closed="true"><account id="1" Type="t"/>)", "type",
                  messages::required),
        ReadFault{"AnotherTagThanBanks",
                  readAs<BanksElement>,
                  lonelyBank,
                  lonelyBank,
                  {},
                  QStringLiteral("The XML element tag, bank, is not valid under the current "
                                 "element banks.")}),
    faultName);

// ---- Edge cases of reading ----

TEST(BankReading, ABankStopsAtAForeignChildAndKeepsTheAccountsBefore) {
    auto const bank = readUntilForeign<BankElement>(
        R"(<bank name="n" closed="false"><account id="1" type="t"/><bank name="x"/>)"
        R"(<account id="2" type="t"/></bank>)",
        "bank");
    EXPECT_EQ(bank.accounts, (std::vector{BankAccountElement(1, QStringLiteral("t"))}));
}

TEST(BankReading, BanksStopAtAForeignChild) {
    auto const banks = readUntilForeign<BanksElement>(
        R"(<banks><bank name="n" closed="false"/><account id="2" type="t"/></banks>)", "account");
    EXPECT_EQ(banks.banks.size(), 1u);
}

TEST(BankReading, AccountContentAndUnknownAttributesAreIgnored) {
    auto const bank = readElement<BankElement>(
        R"(<bank zip="1" name=" " closed="false"><account id="5" type="t" number="9">)"
        R"(text<account id="x"/></account><account id="6" type="u"/></bank>)");
    EXPECT_EQ(bank, BankElement(QStringLiteral(" "), false,
                                {BankAccountElement(5, QStringLiteral("t")),
                                 BankAccountElement(6, QStringLiteral("u"))}));
}

TEST(BankLogging, NothingIsLoggedOnWritingAndEveryElementLogsReading) {
    expectLogs(BanksElement({BankElement(QStringLiteral("n"), false,
                                         {BankAccountElement(1, QStringLiteral("t"))})}),
               {}, {"banks", "bank", "account"});
}

} // namespace
