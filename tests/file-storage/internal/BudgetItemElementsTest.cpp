#include "BudgetItemSamples.h"
#include "ElementTestSupport.h"

#include "file-storage/internal/BudgetItemElements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

using namespace zel::file_storage;
using namespace zel::file_storage::internal;
using namespace zel::testing;

namespace {

// Every value of an item, for comparing items.
template <class Item> auto values(AmountItemElement<Item> const& e) {
    return std::tie(e.identifier, e.major, e.minor, e.period, e.name, e.currency, e.nextOccurOn,
                    e.accountId);
}
auto values(DebtElement const& e) {
    return std::tie(e.identifier, e.totalMajor, e.totalMinor, e.period, e.name, e.currency,
                    e.minimumMajor, e.minimumMinor, e.interest, e.nextOccurOn, e.accountId);
}
auto values(GoalElement const& e) {
    return std::tie(e.identifier, e.major, e.minor, e.period, e.name, e.currency, e.finalMajor,
                    e.finalMinor, e.nextOccurOn, e.accountId);
}

// One item of each kind, in its collection, and the document written by hand for it.
template <class Item> struct Sample;

template <> struct Sample<WageElement> {
    using Collection = WagesElement;
    static constexpr auto items = &WagesElement::wages;
    static WageElement item() {
        return {7, -1234, 65535, "Monthly", "Salary & \"bonus\" <net>", "EUR", {2024, 2, 29}, 42};
    }
    static constexpr char text[] =
        R"(<wages><wage id="7" major="-1234" minor="65535" period="Monthly" )"
        R"(name="Salary &amp; &quot;bonus&quot; &lt;net&gt;" currency="EUR" )"
        R"(nextOccurOn="2024-02-29" accountId="42"/></wages>)";
};

template <> struct Sample<BillElement> {
    using Collection = BillsElement;
    static constexpr auto items = &BillsElement::bills;
    static BillElement item() {
        return {4294967295u, 0,         0, "Quarterly", QStringLiteral("Caf\u00e9 \u20ac"),
                " JPY ",     {1, 1, 1}, 1};
    }
    static constexpr char text[] =
        R"(<bills><bill id="4294967295" major="0" minor="0" period="Quarterly" )"
        "name=\"Caf\xc3\xa9 \xe2\x82\xac\" currency=\" JPY \" "
        R"(nextOccurOn="0001-01-01" accountId="1"/></bills>)";
};

template <> struct Sample<DiscretionaryElement> {
    using Collection = DiscretionariesElement;
    static constexpr auto items = &DiscretionariesElement::nontracks;
    static DiscretionaryElement item() {
        return {3, 9223372036854775807, 1, "Weekly", "Food", "GBP", {2030, 12, 31}, 4294967295u};
    }
    static constexpr char text[] =
        R"(<nontracks><nontrack id="3" major="9223372036854775807" minor="1" period="Weekly" )"
        R"(name="Food" currency="GBP" nextOccurOn="2030-12-31" accountId="4294967295"/>)"
        R"(</nontracks>)";
};

template <> struct Sample<DebtElement> {
    using Collection = DebtsElement;
    static constexpr auto items = &DebtsElement::debts;
    static DebtElement item() {
        return {2, 15000, 25, "Monthly", "Car loan", "USD", 350, 99, 0.0525, {2024, 3, 1}, 8};
    }
    static constexpr char text[] =
        R"(<debts><debt id="2" totalMajor="15000" totalMinor="25" period="Monthly" )"
        R"(name="Car loan" currency="USD" minimumMajor="350" minimumMinor="99" )"
        R"(interest="0.0525" nextOccurOn="2024-03-01" accountId="8"/></debts>)";
};

template <> struct Sample<GoalElement> {
    using Collection = GoalsElement;
    static constexpr auto items = &GoalsElement::goals;
    static GoalElement item() {
        return {5, 100, 10, "Annually", "Holiday", "CHF", 2000, 20, {2025, 6, 15}, 9};
    }
    static constexpr char text[] =
        R"(<goals><goal id="5" major="100" minor="10" period="Annually" name="Holiday" )"
        R"(currency="CHF" finalMajor="2000" finalMinor="20" nextOccurOn="2025-06-15" )"
        R"(accountId="9"/></goals>)";
};

template <class Item> class EveryKind : public testing::Test {};
using Kinds =
    testing::Types<WageElement, BillElement, DiscretionaryElement, DebtElement, GoalElement>;
TYPED_TEST_SUITE(EveryKind, Kinds);

TYPED_TEST(EveryKind, RoundTripsThroughItsCollection) {
    using S = Sample<TypeParam>;
    typename S::Collection written;
    (written.*S::items).push_back(S::item());
    auto const bytes = writtenBytes(written);
    EXPECT_EQ(bytes, QByteArray(S::text));

    auto const read = readElement<typename S::Collection>(bytes);
    ASSERT_EQ((read.*S::items).size(), 1u);
    EXPECT_EQ(values((read.*S::items)[0]), values(S::item()));
    EXPECT_EQ(writtenBytes(read), bytes);
}

TYPED_TEST(EveryKind, WritingAnInvalidDateFailsAfterTheAttributesBeforeIt) {
    using S = Sample<TypeParam>;
    auto item = S::item();
    item.nextOccurOn = QDate();
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    expectAttributeError(
        [&] { item.write(writer); }, QString(TypeParam::tag_), QStringLiteral("nextOccurOn"),
        QStringLiteral("The attribute value to write, , is not a valid date."), 0, 0);
    // What was written is the hand-written item up to its date.
    QByteArray const text(S::text);
    auto const start = text.indexOf('>') + 1;
    EXPECT_EQ(bytes, text.mid(start, text.indexOf(" nextOccurOn=") - start));
}

using Attributes = std::vector<std::pair<QByteArray, QByteArray>>;

// clang-format off
Attributes const amountAttributes = {
    {"id", "1"}, {"major", "1"}, {"minor", "2"}, {"period", "Weekly"}, {"name", "Rent"},
    {"currency", "EUR"}, {"nextOccurOn", "2024-01-31"}, {"accountId", "3"}};
Attributes const debtAttributes = {
    {"id", "1"}, {"totalMajor", "900"}, {"totalMinor", "0"}, {"period", "Monthly"},
    {"name", "Car"}, {"currency", "EUR"}, {"minimumMajor", "50"}, {"minimumMinor", "0"},
    {"interest", "5.25"}, {"nextOccurOn", "2024-01-31"}, {"accountId", "3"}};
Attributes const goalAttributes = {
    {"id", "1"}, {"major", "1"}, {"minor", "2"}, {"period", "Weekly"}, {"name", "Holiday"},
    {"currency", "EUR"}, {"finalMajor", "900"}, {"finalMinor", "0"},
    {"nextOccurOn", "2024-01-31"}, {"accountId", "3"}};
// clang-format on

// An empty element with the given attributes, less those set to nothing in changes and with
// the values of the others in changes.
QByteArray element(char const* tag, Attributes const& attributes,
                   std::vector<std::pair<QByteArray, char const*>> const& changes) {
    QByteArray text = QByteArray("<") + tag;
    for (auto const& [name, value] : attributes) {
        auto const change = std::find_if(changes.begin(), changes.end(),
                                         [&](auto const& c) { return c.first == name; });
        if (change == changes.end()) {
            text += " " + name + "=\"" + value + "\"";
        } else if (change->second != nullptr) {
            text += " " + name + "=\"" + change->second + "\"";
        }
    }
    return text + "/>";
}

// A faulty item: the reader stands after the whole of it when it finds the first bad attribute
// in read order.
ReadFault itemFault(char const* name, void (*read)(QXmlStreamReader&), QByteArray const& document,
                    char const* attribute, QString const& message) {
    return {name, read, document, document, QString::fromLatin1(attribute), message};
}

INSTANTIATE_TEST_SUITE_P(
    Items, ReadFaults,
    testing::Values(
        itemFault("WageWithoutPeriod", readAs<WageElement>,
                  element("wage", amountAttributes, {{"period", nullptr}}), "period",
                  messages::required),
        itemFault("WageWithoutNameOrPeriod", readAs<WageElement>,
                  element("wage", amountAttributes, {{"period", nullptr}, {"name", nullptr}}),
                  "name", messages::required),
        itemFault("WageMinorAboveItsRange", readAs<WageElement>,
                  element("wage", amountAttributes, {{"minor", "65536"}}), "minor",
                  messages::tooLarge),
        itemFault("WageAccountAbove32Bits", readAs<WageElement>,
                  element("wage", amountAttributes, {{"accountId", "4294967296"}}), "accountId",
                  messages::tooLarge),
        itemFault("BillMajorBeforeCurrency", readAs<BillElement>,
                  element("bill", amountAttributes, {{"currency", ""}, {"major", "x"}}), "major",
                  messages::notNumber),
        itemFault("NontrackDateBeforeAccount", readAs<DiscretionaryElement>,
                  element("nontrack", amountAttributes,
                          {{"accountId", "x"}, {"nextOccurOn", "2023-02-30"}}),
                  "nextOccurOn", "The read in attribute value, 2023-02-30, is not a valid date."),
        itemFault("DebtPeriodBeforeName", readAs<DebtElement>,
                  element("debt", debtAttributes, {{"name", nullptr}, {"period", nullptr}}),
                  "period", messages::required),
        itemFault("DebtMinimumBeforeInterest", readAs<DebtElement>,
                  element("debt", debtAttributes, {{"interest", "abc"}, {"minimumMinor", "70000"}}),
                  "minimumMinor", messages::tooLarge),
        itemFault("DebtInfiniteInterest", readAs<DebtElement>,
                  element("debt", debtAttributes, {{"interest", "-inf"}}), "interest",
                  messages::tooLow),
        itemFault("DebtWithoutAccount", readAs<DebtElement>,
                  element("debt", debtAttributes, {{"accountId", nullptr}}), "accountId",
                  messages::notNumber),
        itemFault("GoalPeriodBeforeFinalAmount", readAs<GoalElement>,
                  element("goal", goalAttributes, {{"finalMajor", nullptr}, {"period", nullptr}}),
                  "period", messages::required),
        itemFault("GoalFinalMinorBeforeDate", readAs<GoalElement>,
                  element("goal", goalAttributes, {{"nextOccurOn", ""}, {"finalMinor", "-1"}}),
                  "finalMinor", messages::notNumber)),
    faultName);

TEST(ItemReading, KeepsTheValuesReadBeforeAFailure) {
    auto const reader =
        readerOnFirstElement(element("wage", amountAttributes, {{"period", nullptr}}));
    WageElement wage;
    EXPECT_THROW(wage.read(*reader), AttributeError);
    EXPECT_EQ(std::tie(wage.identifier, wage.major, wage.minor, wage.name, wage.currency),
              std::make_tuple(1u, qint64(1), quint16(2), QString("Rent"), QString("EUR")));
    EXPECT_TRUE(wage.period.isEmpty());
    EXPECT_TRUE(wage.nextOccurOn.isNull());
    EXPECT_EQ(wage.accountId, 0u);
}

TEST(ItemReading, TakesWhatTheFileHoldsFromTheAttributesAlone) {
    // Account 0 and a blank currency are refused by the value constructor but not by reading;
    // unknown attributes and the element's contents are passed over.
    auto const reader = readerOnFirstElement(
        R"(<debt colour="red" id="6" totalMajor="-5" totalMinor="0" period="p" name="n" )"
        R"(currency=" " minimumMajor="0" minimumMinor="0" interest="5.25" )"
        R"(nextOccurOn="2024-01-31" accountId="0"><debt id="7"/>text<x/></debt>)");
    DebtElement debt;
    debt.read(*reader);
    EXPECT_EQ(values(debt),
              std::make_tuple(6u, qint64(-5), quint16(0), QString("p"), QString("n"), QString(" "),
                              qint64(0), quint16(0), 5.25, QDate(2024, 1, 31), 0u));
    EXPECT_TRUE(reader->isEndElement());
    EXPECT_EQ(reader->name().toString(), QStringLiteral("debt"));
}

struct ValueChecks {
    char const* name;
    std::function<void(quint32 identifier, QString const& currency, quint32 account)> make;
    QString currencyMessage;
    QString accountMessage;
};

class ItemValueChecks : public testing::TestWithParam<ValueChecks> {};

TEST_P(ItemValueChecks, RefuseIdentifierThenCurrencyThenAccount) {
    auto const& c = GetParam();
    expectValueError([&] { c.make(0, "  ", 0); },
                     "An indexed element identifier cannot be invalid.");
    expectValueError([&] { c.make(1, "  ", 0); }, c.currencyMessage);
    expectValueError([&] { c.make(1, "", 5); }, c.currencyMessage);
    expectValueError([&] { c.make(1, "EUR", 0); }, c.accountMessage);
    // Amounts, names, periods and dates are taken unchecked.
    EXPECT_NO_THROW(c.make(1, "x", 5));
}

// Builds an item with empty texts, negative amounts and a null date around the checked values.
template <class Item>
void makeAmountItem(quint32 identifier, QString const& currency, quint32 account) {
    Item(identifier, -1, 0, "", "", currency, QDate(), account);
}
void makeDebt(quint32 identifier, QString const& currency, quint32 account) {
    DebtElement(identifier, -1, 0, "", "", currency, -1, 0, -1.0, QDate(), account);
}
void makeGoal(quint32 identifier, QString const& currency, quint32 account) {
    GoalElement(identifier, -1, 0, "", "", currency, -1, 0, QDate(), account);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ItemValueChecks,
    testing::Values(ValueChecks{"Wage", makeAmountItem<WageElement>,
                                "The wage currency identifier cannot be zero.",
                                "The wage account identifier cannot be zero."},
                    ValueChecks{"Bill", makeAmountItem<BillElement>,
                                "The bill currency identifier cannot be zero.",
                                "The bill account identifier cannot be zero."},
                    ValueChecks{"Nontrack", makeAmountItem<DiscretionaryElement>,
                                "The nontrack spending currency identifier cannot be zero.",
                                "The nontrack account identifier cannot be zero."},
                    ValueChecks{"Debt", makeDebt, "The debt currency identifier cannot be zero.",
                                "The debt account identifier cannot be zero."},
                    ValueChecks{"Goal", makeGoal, "The goal currency identifier cannot be zero.",
                                "The goal account identifier cannot be zero."}),
    [](auto const& p) { return p.param.name; });

} // namespace
