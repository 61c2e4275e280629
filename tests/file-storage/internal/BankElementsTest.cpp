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

// Writes element and compares with the document written by hand, reads that back and compares
// the values, then writes what was read and compares the bytes again.
template <class Element> void expectRoundTrip(Element const& element, QByteArray const& expected) {
    auto const written = writtenBytes(element);
    EXPECT_EQ(QString::fromUtf8(written), QString::fromUtf8(expected));
    auto const reader = readerOnFirstElement(written);
    Element back;
    back.read(*reader);
    EXPECT_FALSE(reader->hasError()) << reader->errorString().toStdString();
    EXPECT_TRUE(reader->isEndElement());
    EXPECT_EQ(reader->name(), Element::tag_);
    EXPECT_TRUE(back == element);
    EXPECT_EQ(QString::fromUtf8(writtenBytes(back)), QString::fromUtf8(written));
}

template <class Element> void readAs(QXmlStreamReader& reader) {
    Element element;
    element.read(reader);
}

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
    QByteArray bad; // the faulty element, standing on line 2 of a "banks" document
    QString tag;
    QString attribute; // empty: a BudgetFileError of the element itself
    QString message;
};

class BankReadErrors : public testing::TestWithParam<ReadErrorCase> {};

TEST_P(BankReadErrors, NameTheFaultAndWhereItIs) {
    auto const& c = GetParam();
    auto const document = "<banks>\n" + c.bad + "</bank></banks>";
    // The reader stands just after the faulty start tag when the fault is found.
    auto const column = c.bad.size();
    auto const reader = readerOnFirstElement(document);
    auto const read = [&] { readAs<BanksElement>(*reader); };
    if (c.attribute.isEmpty()) {
        expectError<BudgetFileError>(read, {generalText(2, column), c.message});
    } else {
        expectAttributeError(read, c.tag, c.attribute, c.message, 2, column);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BankReadErrors,
    testing::Values(
        ReadErrorCase{"EmptyName", R"(<bank name="" closed="false">)", QStringLiteral("bank"),
                      QStringLiteral("name"), messages::required},
        ReadErrorCase{"MissingClosed", R"(<bank name="n">)", QStringLiteral("bank"),
                      QStringLiteral("closed"), messages::notBoolean},
        ReadErrorCase{"ClosedInCapitals", R"(<bank name="n" closed="TRUE">)",
                      QStringLiteral("bank"), QStringLiteral("closed"), messages::notBoolean},
        ReadErrorCase{"AccountIdNotANumber",
                      R"(<bank name="n" closed="true"><account id="x" type="t"/>)",
                      QStringLiteral("account"), QStringLiteral("id"), messages::notNumber},
        ReadErrorCase{"AccountIdTooLarge",
                      R"(<bank name="n" closed="true"><account id="4294967296" type="t"/>)",
                      QStringLiteral("account"), QStringLiteral("id"), messages::tooLarge},
        ReadErrorCase{"AccountMissingType",
                      R"(<bank name="n" closed="true"><account id="1" Type="t"/>)",
                      QStringLiteral("account"), QStringLiteral("type"), messages::required}),
    [](auto const& p) { return p.param.name; });

TEST(BankReading, RefusesAnotherTag) {
    auto const reader = readerOnFirstElement("<bank name=\"n\" closed=\"true\"/>");
    expectError<BudgetFileError>(
        [&] { readAs<BanksElement>(*reader); },
        {generalText(1, 30), QStringLiteral("The XML element tag, bank, is not valid under "
                                            "the current element banks.")});
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
    BanksElement const banks(
        {BankElement(QStringLiteral("n"), false, {BankAccountElement(1, QStringLiteral("t"))})});
    QByteArray document;
    {
        LogCapture log;
        document = writtenBytes(banks);
        EXPECT_TRUE(log.records().empty());
    }
    LogCapture log;
    readElement<BanksElement>(document);
    EXPECT_EQ(log.texts(QtDebugMsg),
              (std::vector<QString>{QStringLiteral(R"(Reading Element: "banks")"),
                                    QStringLiteral(R"(Reading Element: "bank")"),
                                    QStringLiteral(R"(Reading Element: "account")")}));
}

// ---- Hostile input ----

TEST(BankHostileInput, DeepNestingInsideAnAccountIsSkipped) {
    int const depth = 100000;
    auto const bank = readElement<BankElement>(
        R"(<bank name="n" closed="false"><account id="1" type="t">)" +
        QByteArray("<x>").repeated(depth) + QByteArray("</x>").repeated(depth) +
        R"(</account><account id="2" type="t"/></bank>)");
    EXPECT_EQ(bank.accounts.size(), 2u);
}

TEST(BankHostileInput, MalformedDocumentsEndInAnErrorNotACrash) {
    auto const document =
        writtenBytes(BanksElement({BankElement(QStringLiteral("Ω"), true,
                                               {BankAccountElement(1, QStringLiteral("t")),
                                                BankAccountElement(2, QStringLiteral("u"))})}));
    std::vector<QByteArray> malformed = {
        R"(<banks><bank name="n" closed="true"><account id="1" type="t"></bank></banks>)",
        R"(<banks><bank name="n" closed="true" closed="false"/></banks>)",
        "<banks><bank name=\"\xff\xfe\" closed=\"true\"/></banks>",
        R"(<banks><bank name="&unknown;" closed="true"/></banks>)"};
    for (qsizetype size = 1; size < document.size(); ++size) {
        malformed.push_back(document.left(size));
    }
    for (auto const& text : malformed) {
        auto const reader = readerOnFirstElement(text);
        try {
            readAs<BanksElement>(*reader);
        } catch (BudgetFileError const&) {
            // The reader met the fault before the first start tag was complete.
            continue;
        }
        EXPECT_TRUE(reader->hasError()) << text.toStdString();
    }
}

} // namespace
