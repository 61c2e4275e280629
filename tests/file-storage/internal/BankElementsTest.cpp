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

struct ReadErrorCase {
    char const* name;
    QByteArray bad;    // a "bank" start tag, perhaps with a faulty account after it
    QString attribute; // empty: a BudgetFileError of the element itself
    QString message;
};

class BankReadErrors : public testing::TestWithParam<ReadErrorCase> {};

// The reader stands just after the last start tag of the faulty element when the fault is found.
TEST_P(BankReadErrors, NameTheFaultAndWhereItIs) {
    auto const& c = GetParam();
    expectFaultAfter(readAs<BanksElement>, "<banks>\n" + c.bad + "</bank></banks>",
                     c.bad.mid(c.bad.lastIndexOf('<')), c.attribute, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BankReadErrors,
    testing::Values(ReadErrorCase{"EmptyName", R"(<bank name="" closed="false">)",
                                  QStringLiteral("name"), messages::required},
                    ReadErrorCase{"MissingClosed", R"(<bank name="n">)", QStringLiteral("closed"),
                                  messages::notBoolean},
                    ReadErrorCase{"ClosedInCapitals", R"(<bank name="n" closed="TRUE">)",
                                  QStringLiteral("closed"), messages::notBoolean},
                    ReadErrorCase{"AccountIdNotANumber",
                                  R"(<bank name="n" closed="true"><account id="x" type="t"/>)",
                                  QStringLiteral("id"), messages::notNumber},
                    ReadErrorCase{
                        "AccountIdTooLarge",
                        R"(<bank name="n" closed="true"><account id="4294967296" type="t"/>)",
                        QStringLiteral("id"), messages::tooLarge},
                    ReadErrorCase{"AccountMissingType",
                                  R"(<bank name="n" closed="true"><account id="1" Type="t"/>)",
                                  QStringLiteral("type"), messages::required}),
    [](auto const& p) { return p.param.name; });

TEST(BankReading, RefusesAnotherTag) {
    QByteArray const bank = R"(<bank name="n" closed="true"/>)";
    expectFaultAfter(readAs<BanksElement>, bank, bank, {},
                     QStringLiteral("The XML element tag, bank, is not valid under the current "
                                    "element banks."));
}

// ---- Edge cases of reading ----

TEST(BankReading, ABankStopsAtAForeignChildAndKeepsTheAccountsBefore) {
    auto const reader = readerOnFirstElement(
        R"(<bank name="n" closed="false"><account id="1" type="t"/><bank name="x"/>)"
        R"(<account id="2" type="t"/></bank>)");
    BankElement bank;
    bank.read(*reader);
    EXPECT_EQ(bank.accounts, (std::vector{BankAccountElement(1, QStringLiteral("t"))}));
    EXPECT_FALSE(reader->hasError());
    EXPECT_TRUE(reader->isStartElement());
    EXPECT_EQ(reader->name(), QLatin1String("bank"));
}

TEST(BankReading, BanksStopAtAForeignChild) {
    auto const reader = readerOnFirstElement(
        R"(<banks><bank name="n" closed="false"/><account id="2" type="t"/></banks>)");
    BanksElement banks;
    banks.read(*reader);
    EXPECT_EQ(banks.banks.size(), 1u);
    EXPECT_EQ(reader->name(), QLatin1String("account"));
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
