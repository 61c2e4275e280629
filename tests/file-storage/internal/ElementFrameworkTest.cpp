#include "BudgetItemSamples.h"
#include "ElementTestSupport.h"
#include "support/LogCapture.h"

#include "file-storage/internal/BudgetItemElements.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace zel::file_storage;
using namespace zel::file_storage::internal;
using namespace zel::testing;

namespace {

struct ReadFault {
    char const* name;
    QByteArray document;
    int tokens; // how many tokens the reader is moved on before read
    std::function<void(QXmlStreamReader&)> read;
    QString attribute; // empty: a BudgetFileError of the element itself, else its tag
    QString tag;
    QString message;
    qint64 line;
    qint64 column;
};

class ElementReadFaults : public testing::TestWithParam<ReadFault> {};

TEST_P(ElementReadFaults, ThrowWithTheReaderPosition) {
    auto const& c = GetParam();
    QXmlStreamReader reader(c.document);
    for (int i = 0; i < c.tokens; ++i) {
        reader.readNext();
    }
    expectReadError([&] { c.read(reader); }, c.tag, c.attribute, c.message, c.line, c.column);
}

QByteArray const debtZero =
    R"(<debt id="0" totalMajor="1" totalMinor="0" period="Monthly" name="Car" currency="EUR" )"
    R"(minimumMajor="1" minimumMinor="0" interest="1" nextOccurOn="2024-01-01" accountId="1"/>)";

// Documents and the number of tokens after which read is called (the first is the start of
// the document, declared or not).
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Cases, ElementReadFaults,
    testing::Values(
        ReadFault{"OnTheStartOfTheDocument", "<?xml version=\"1.0\"?><wages/>", 1,
                  readAs<WagesElement>, {}, {},
                  "The XML element, , is not the starting element of wages.", 1, 21},
        ReadFault{"OnAnEndTag", "<wages></wages>", 3, readAs<WagesElement>, {}, {},
                  "The XML element, wages, is not the starting element of wages.", 1, 15},
        ReadFault{"ForeignTag", "<a>\n<bill/></a>", 4, readAs<WageElement>, {}, {},
                  "The XML element tag, bill, is not valid under the current element wage.", 2, 7},
        ReadFault{"TagInAnotherCase", "<Wages/>", 2, readAs<WagesElement>, {}, {},
                  "The XML element tag, Wages, is not valid under the current element wages.", 1, 8},
        ReadFault{"ZeroIdentifier", debtZero, 2, readAs<DebtElement>, {}, {},
                  "The debt identifier cannot be invalid.", 1, debtZero.size()},
        ReadFault{"MissingIdentifier", "<wage/>", 2, readAs<WageElement>, "id", "wage",
                  messages::notNumber, 1, 7},
        ReadFault{"IdentifierAbove32Bits", R"(<goal id="4294967296"/>)", 2, readAs<GoalElement>,
                  "id", "goal", messages::tooLarge, 1, 23}),
    [](auto const& p) { return p.param.name; });
// clang-format on

TEST_P(ReadFaults, NameTheFaultAndWhereItIs) {
    auto const& c = GetParam();
    expectFaultAfter(c.read, c.document, c.failing, c.attribute, c.message);
}

struct CollectionCase {
    char const* name;
    QByteArray document;
    std::vector<quint32> identifiers;
    QXmlStreamReader::TokenType tokenAfter;
    QString nameAfter;
};

class CollectionReading : public testing::TestWithParam<CollectionCase> {};

TEST_P(CollectionReading, KeepsItsOwnChildrenInOrderAndStopsAtAForeignOne) {
    auto const& c = GetParam();
    auto const reader = readerOnFirstElement(c.document);
    WagesElement wages;
    wages.read(*reader);
    EXPECT_EQ(identifiers(wages.wages), c.identifiers);
    EXPECT_EQ(reader->tokenType(), c.tokenAfter);
    EXPECT_EQ(reader->name().toString(), c.nameAfter);
    EXPECT_FALSE(reader->hasError()) << reader->errorString().toStdString();
}

QByteArray wages(std::initializer_list<QByteArray> children) {
    QByteArray document("<wages>");
    for (auto const& child : children) {
        document += child;
    }
    return document + "</wages>";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CollectionReading,
    testing::Values(
        CollectionCase{"Empty", "<wages/>", {}, QXmlStreamReader::EndElement, "wages"},
        CollectionCase{"InDocumentOrderWithRepeats",
                       wages({wageElement("2"), wageElement("1"), wageElement("2")}),
                       {2, 1, 2},
                       QXmlStreamReader::EndElement,
                       "wages"},
        CollectionCase{"StopsAtAForeignChild",
                       wages({wageElement("1"), wageElement("2"), "<bill/>", wageElement("3")}),
                       {1, 2},
                       QXmlStreamReader::StartElement,
                       "bill"},
        CollectionCase{"ForeignFirstChild",
                       wages({"<bill/>", wageElement("1")}),
                       {},
                       QXmlStreamReader::StartElement,
                       "bill"},
        CollectionCase{"SkipsWhatALeafHolds",
                       wages({QByteArray(R"(<wage id="1" )") + wageAttributes +
                                  "><x>text<wage id=\"9\"/></x>more</wage>",
                              wageElement("2")}),
                       {1, 2},
                       QXmlStreamReader::EndElement,
                       "wages"},
        CollectionCase{
            "PassesOverCommentsInstructionsAndBlanks",
            wages({"\n  <!-- a comment -->\n  <?tool note?>\n  ", wageElement("1"), "\n"}),
            {1},
            QXmlStreamReader::EndElement,
            "wages"},
        CollectionCase{"IgnoresUnknownAttributes",
                       QByteArray(R"(<wages colour="red">)") + R"(<wage unknown="x" id="4" )" +
                           wageAttributes + " other=\"\"/></wages>",
                       {4},
                       QXmlStreamReader::EndElement,
                       "wages"}),
    [](auto const& p) { return p.param.name; });

TEST(ElementLogging, RecordsEachElementReadAndWrittenAtDebugLevel) {
    LogCapture capture;
    auto const document = wages({wageElement("1"), wageElement("2")});
    auto const read = readElement<WagesElement>(document);
    writtenBytes(read);

    auto const record = [](char const* text) {
        return LogRecord{QtDebugMsg, QStringLiteral("default"), QString::fromLatin1(text)};
    };
    EXPECT_EQ(capture.records(),
              (std::vector<LogRecord>{
                  record(R"(Reading Element: "wages")"), record(R"(Reading Element: "wage")"),
                  record(R"(Reading Element: "wage")"), record(R"(Writing Element: "wages")"),
                  record(R"(Writing Element: "wage")"), record(R"(Writing Element: "wage")")}));
}

TEST(ElementLogging, RecordsTheReadBeforeCheckingTheTag) {
    LogCapture capture;
    EXPECT_THROW(readElement<DebtsElement>("<goals/>"), BudgetFileError);
    EXPECT_EQ(capture.texts(QtDebugMsg), std::vector<QString>{R"(Reading Element: "debts")"});
}

} // namespace
