#include "ElementTestSupport.h"
#include "support/LogCapture.h"

#include "file-storage/internal/ReconciliationElements.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace zel::file_storage::internal {

// Field-by-field equality, for comparing what was read with what was written. Kept to this
// file, where argument-dependent lookup still finds it.
static bool operator==(DistributionElement const& a, DistributionElement const& b) {
    return std::tie(a.itemType, a.itemIdentifier, a.major, a.minor, a.currency) ==
           std::tie(b.itemType, b.itemIdentifier, b.major, b.minor, b.currency);
}
static bool operator==(ReconciliationElement const& a, ReconciliationElement const& b) {
    return std::tie(a.number, a.major, a.minor, a.currency, a.reconciledOn, a.checksum,
                    a.distributions) == std::tie(b.number, b.major, b.minor, b.currency,
                                                 b.reconciledOn, b.checksum, b.distributions);
}
static bool operator==(ReconciliationsElement const& a, ReconciliationsElement const& b) {
    return a.reconciliations == b.reconciliations;
}

} // namespace zel::file_storage::internal

using namespace zel::file_storage;
using namespace zel::file_storage::internal;
using namespace zel::testing;
using zel::foundation::Optional;

namespace {

std::vector<DistributionElement> twoDistributions() {
    return {DistributionElement(QStringLiteral("bill"), 3, 60, 0, QStringLiteral("USD")),
            DistributionElement(QStringLiteral("wage"), 1, -40, 50, QStringLiteral("USD"))};
}
QByteArray const twoDistributionsText =
    R"(<distribution type="bill" id="3" major="60" minor="0" currency="USD"/>)"
    R"(<distribution type="wage" id="1" major="-40" minor="50" currency="USD"/>)";

// ---- Round trips ----

struct RoundTripCase {
    char const* name;
    Optional<QDate> date;
    Optional<QString> checksum;
    bool withDistributions;
    QByteArray optionalAttributes; // after "currency"
};

class ReconciliationRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(ReconciliationRoundTrip, WritesDateAndChecksumOnlyWhenPresent) {
    auto const& c = GetParam();
    ReconciliationElement const element(12, 100, 50, QStringLiteral("USD"), c.date, c.checksum,
                                        c.withDistributions ? twoDistributions()
                                                            : std::vector<DistributionElement>());
    auto const start = R"(<reconciliation account="12" major="100" minor="50" currency="USD")" +
                       c.optionalAttributes;
    expectRoundTrip(element, c.withDistributions
                                 ? start + ">" + twoDistributionsText + "</reconciliation>"
                                 : start + "/>");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReconciliationRoundTrip,
    testing::Values(RoundTripCase{"Everything", QDate(2024, 3, 31), QStringLiteral("a1b2"), true,
                                  R"( date="2024-03-31" checksum="a1b2")"},
                    RoundTripCase{"Nothing", std::nullopt, std::nullopt, false, ""},
                    RoundTripCase{"DateOnly", QDate(1999, 12, 31), std::nullopt, false,
                                  R"( date="1999-12-31")"},
                    RoundTripCase{"ChecksumOnly", std::nullopt, QStringLiteral(" <&\"Ω\"> "), true,
                                  R"( checksum=" &lt;&amp;&quot;Ω&quot;&gt; ")"}),
    [](auto const& p) { return p.param.name; });

TEST(ReconciliationRoundTrip, ExtremeNumbers) {
    expectRoundTrip(ReconciliationElement(4294967295u, std::numeric_limits<qint64>::min(), 65535,
                                          QStringLiteral("EUR"), std::nullopt, std::nullopt, {}),
                    R"(<reconciliation account="4294967295" major="-9223372036854775808" )"
                    R"(minor="65535" currency="EUR"/>)");
    expectRoundTrip(DistributionElement(QStringLiteral("nontrack"), 4294967295u,
                                        std::numeric_limits<qint64>::max(), 0, QStringLiteral("€")),
                    R"(<distribution type="nontrack" id="4294967295" )"
                    R"(major="9223372036854775807" minor="0" currency="€"/>)");
}

TEST(ReconciliationsRoundTrip, EmptyAndSeveralInOrder) {
    expectRoundTrip(ReconciliationsElement(), "<reconciliations/>");
    ReconciliationsElement reconciliations;
    reconciliations.reconciliations = {
        ReconciliationElement(2, 0, 0, QStringLiteral("USD"), std::nullopt, std::nullopt, {}),
        ReconciliationElement(1, 0, 0, QStringLiteral("USD"), std::nullopt, std::nullopt, {})};
    expectRoundTrip(reconciliations,
                    R"(<reconciliations><reconciliation account="2" major="0" minor="0" )"
                    R"(currency="USD"/><reconciliation account="1" major="0" minor="0" )"
                    R"(currency="USD"/></reconciliations>)");
}

// An empty checksum would be refused when read back, so it is not written at all.
TEST(ReconciliationWriting, AnEmptyChecksumIsLeftOutAndReadsBackAsNone) {
    for (auto const& empty : {QString(), QStringLiteral("")}) {
        auto const written = writtenBytes(
            ReconciliationElement(5, 1, 2, QStringLiteral("USD"), QDate(2024, 1, 2), empty, {}));
        EXPECT_EQ(QString::fromUtf8(written),
                  QStringLiteral(R"(<reconciliation account="5" major="1" minor="2" )"
                                 R"(currency="USD" date="2024-01-02"/>)"));
        EXPECT_FALSE(readElement<ReconciliationElement>(written).checksum.has_value());
    }
}

// ---- Absent attributes ----

TEST(ReconciliationReading, AbsentAttributesLeaveDefaults) {
    EXPECT_EQ(readElement<ReconciliationElement>(R"(<reconciliation account="7"/>)"),
              ReconciliationElement(7, 0, 0, QString(), std::nullopt, std::nullopt, {}));
    EXPECT_EQ(readElement<DistributionElement>(R"(<distribution id="2"/>)"),
              DistributionElement(QString(), 2, 0, 0, QString()));
}

// ---- Read errors ----

// A faulty reconciliation, perhaps with a faulty distribution after its start tag, on line 2 of
// a "reconciliations" document: the reader stands just after the last start tag when it finds
// the fault.
ReadFault reconciliationFault(char const* name, QByteArray const& bad, char const* attribute,
                              QString const& message) {
    return {name,
            readAs<ReconciliationsElement>,
            "<reconciliations>\n" + bad + "</reconciliation></reconciliations>",
            bad.mid(bad.lastIndexOf('<')),
            QString::fromLatin1(attribute),
            message};
}

QByteArray const goodStart = R"(<reconciliation account="1">)";

INSTANTIATE_TEST_SUITE_P(
    Reconciliation, ReadFaults,
    testing::Values(
        reconciliationFault("EmptyChecksum", R"(<reconciliation account="1" checksum="">)",
                            "checksum", messages::required),
        reconciliationFault("EmptyDate", R"(<reconciliation account="1" date="">)", "date",
                            messages::required),
        reconciliationFault(
            "InvalidDate", R"(<reconciliation account="1" date="2024-13-01">)", "date",
            QStringLiteral("The read in attribute value, 2024-13-01, is not a valid "
                           "date.")),
        reconciliationFault("EmptyCurrency", R"(<reconciliation account="1" currency="">)",
                            "currency", messages::required),
        reconciliationFault("EmptyMajor", R"(<reconciliation account="1" major="">)", "major",
                            messages::notNumber),
        reconciliationFault("MissingAccount", R"(<reconciliation major="1">)", "account",
                            messages::notNumber),
        reconciliationFault("AccountZero", R"(<reconciliation account="0">)", "",
                            QStringLiteral("The account ID for a reconciliation element cannot be "
                                           "invalid.")),
        reconciliationFault("DistributionWithoutId", goodStart + R"(<distribution type="bill"/>)",
                            "id", messages::notNumber),
        reconciliationFault(
            "DistributionIdZero", goodStart + R"(<distribution type="bill" id="0"/>)", "",
            QStringLiteral("The budget item ID for a distribution element cannot be "
                           "invalid.")),
        reconciliationFault("DistributionEmptyType",
                            goodStart + R"(<distribution type="" id="1"/>)", "type",
                            messages::required),
        reconciliationFault("DistributionNegativeMinor",
                            goodStart + R"(<distribution id="1" minor="-1"/>)", "minor",
                            messages::notNumber)),
    faultName);

// ---- Edge cases of reading ----

TEST(ReconciliationReading, StopsAtAForeignChildAndKeepsTheDistributionsBefore) {
    auto const element = readUntilForeign<ReconciliationElement>(
        R"(<reconciliation account="1"><distribution id="4" extra="x">text<distribution/>)"
        R"(</distribution><note/><distribution id="5"/></reconciliation>)",
        "note");
    EXPECT_EQ(element.distributions,
              (std::vector{DistributionElement(QString(), 4, 0, 0, QString())}));
}

TEST(ReconciliationReading, ReconciliationsStopAtAForeignChild) {
    auto const reconciliations = readUntilForeign<ReconciliationsElement>(
        R"(<reconciliations><reconciliation account="1"/><distribution id="1"/>)"
        R"(<reconciliation account="2"/></reconciliations>)",
        "distribution");
    EXPECT_EQ(reconciliations.reconciliations.size(), 1u);
}

TEST(ReconciliationLogging, NothingIsLoggedOnWritingAndEveryElementLogsReading) {
    ReconciliationsElement reconciliations;
    reconciliations.reconciliations = {ReconciliationElement(
        1, 0, 0, QStringLiteral("USD"), std::nullopt, std::nullopt, twoDistributions())};
    expectLogs(reconciliations, {},
               {"reconciliations", "reconciliation", "distribution", "distribution"});
}

// ---- Construction and writing ----

TEST(ReconciliationConstruction, RefusesAccountZeroOnly) {
    expectValueError(
        [] { ReconciliationElement(0, 1, 2, QStringLiteral("USD"), std::nullopt, {}, {}); },
        QStringLiteral("The account ID for a reconciliation element cannot be invalid."));
    EXPECT_NO_THROW(ReconciliationElement(1, 0, 0, QString(), std::nullopt, std::nullopt, {}));
    EXPECT_NO_THROW(DistributionElement(QString(), 0, 0, 0, QString()));
    EXPECT_EQ(ReconciliationElement().number, 0u);
}

TEST(ReconciliationWriting, AnInvalidDateFailsNamingTheElement) {
    ReconciliationElement const element(1, 0, 0, QStringLiteral("USD"), QDate(), std::nullopt, {});
    expectAttributeError(
        [&] { writtenBytes(element); }, QStringLiteral("reconciliation"), QStringLiteral("date"),
        QStringLiteral("The attribute value to write, , is not a valid date."), 0, 0);
}

} // namespace
