#include "ElementTestSupport.h"

#include "file-storage/internal/AttributeCodecs.h"

#include <QDate>

#include <gtest/gtest.h>

#include <limits>
#include <optional>

using namespace zel::file_storage;
using namespace zel::file_storage::internal;
using namespace zel::testing;

namespace {

constexpr QLatin1String valueName("value");

// Each codec under test, reading "value" and giving what it read as text.
template <class T> QString readNumber(QXmlStreamReader& reader) {
    return QString::number(readNumericAttribute<T>(reader, valueName));
}
QString readBool(QXmlStreamReader& reader) {
    return readBoolAttribute(reader, valueName) ? QStringLiteral("true") : QStringLiteral("false");
}
QString readRequired(QXmlStreamReader& reader) {
    return readRequiredAttribute(reader, valueName);
}
QString readDate(QXmlStreamReader& reader) {
    return readDateAttribute(reader, valueName).toString(QStringLiteral("yyyy-MM-dd"));
}
QString readOptional(QXmlStreamReader& reader) {
    auto const value = readOptionalNumericAttribute(reader, valueName);
    return value ? QString::number(*value) : QStringLiteral("(absent)");
}

struct ReadCase {
    char const* name;
    QString (*read)(QXmlStreamReader&);
    std::optional<QString> text; // nothing: the attribute is absent
    QString value;               // what is read, when it is
    QString message;             // the failure, when there is one
};

// The attribute stands on the second line, so the reported position is that line, just past
// the element's start tag.
QString itemLine(ReadCase const& c) {
    return c.text ? QStringLiteral(R"(<item value="%1"/>)").arg(*c.text)
                  : QStringLiteral(R"(<item other="x"/>)");
}

class AttributeReading : public testing::TestWithParam<ReadCase> {};

TEST_P(AttributeReading, GivesTheValueOrFailsNamingTagAttributeAndPosition) {
    auto const& c = GetParam();
    auto const line = itemLine(c);
    auto const reader =
        readerOnFirstElement((QStringLiteral("<?xml version=\"1.0\"?>\n") + line).toUtf8());
    ASSERT_TRUE(reader->isStartElement());
    if (c.message.isEmpty()) {
        EXPECT_EQ(c.read(*reader), c.value);
    } else {
        expectAttributeError([&] { c.read(*reader); }, QStringLiteral("item"),
                             QStringLiteral("value"), c.message, 2, line.size());
    }
}

QString invalidDate(QString const& text) {
    return QStringLiteral("The read in attribute value, %1, is not a valid date.").arg(text);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, AttributeReading,
    testing::Values(
        ReadCase{"U8Max", readNumber<quint8>, "255", "255", {}},
        ReadCase{"U8AboveMax", readNumber<quint8>, "256", {}, messages::tooLarge},
        ReadCase{"U16Max", readNumber<quint16>, "65535", "65535", {}},
        ReadCase{"U16AboveMax", readNumber<quint16>, "65536", {}, messages::tooLarge},
        ReadCase{"U16Letters", readNumber<quint16>, "abc", {}, messages::notNumber},
        ReadCase{"U16Absent", readNumber<quint16>, std::nullopt, {}, messages::notNumber},
        ReadCase{"U16Negative", readNumber<quint16>, "-1", {}, messages::notNumber},
        ReadCase{"U32Max", readNumber<quint32>, "4294967295", "4294967295", {}},
        ReadCase{"U32AboveMax", readNumber<quint32>, "4294967296", {}, messages::tooLarge},
        ReadCase{"I64Negative", readNumber<qint64>, "-42", "-42", {}},
        ReadCase{"I64Min", readNumber<qint64>, "-9223372036854775808", "-9223372036854775808", {}},
        ReadCase{"I64Overflow", readNumber<qint64>, "9223372036854775808", {}, messages::notNumber},
        ReadCase{"I64Fraction", readNumber<qint64>, "1.5", {}, messages::notNumber},
        ReadCase{"Double", readNumber<double>, "0.0525", "0.0525", {}},
        ReadCase{"DoubleMax", readNumber<double>, "1.7976931348623157e308", "1.79769e+308", {}},
        ReadCase{"DoubleInfinity", readNumber<double>, "inf", {}, messages::tooLarge},
        ReadCase{"DoubleNegativeInfinity", readNumber<double>, "-inf", {}, messages::tooLow},
        ReadCase{"DoubleOverflowingText", readNumber<double>, "1e309", {}, messages::notNumber},
        ReadCase{"DoubleNotANumberPasses", readNumber<double>, "nan", "nan", {}},
        ReadCase{"OptionalAbsent", readOptional, std::nullopt, "(absent)", {}},
        ReadCase{"OptionalZeroIsKept", readOptional, "0", "0", {}},
        ReadCase{"OptionalEmpty", readOptional, "", {}, messages::notNumber},
        ReadCase{"OptionalAboveMax", readOptional, "4294967296", {}, messages::tooLarge}),
    [](auto const& p) { return p.param.name; });

INSTANTIATE_TEST_SUITE_P(
    BooleansTextsDates, AttributeReading,
    testing::Values(
        ReadCase{"True", readBool, "true", "true", {}},
        ReadCase{"False", readBool, "false", "false", {}},
        ReadCase{"CapitalTrue", readBool, "True", {}, messages::notBoolean},
        ReadCase{"BlankBeforeTrue", readBool, " true", {}, messages::notBoolean},
        ReadCase{"OneIsNoBoolean", readBool, "1", {}, messages::notBoolean},
        ReadCase{"BooleanAbsent", readBool, std::nullopt, {}, messages::notBoolean},
        ReadCase{"OneBlankIsText", readRequired, " ", " ", {}},
        ReadCase{"TextEmpty", readRequired, "", {}, messages::required},
        ReadCase{"TextAbsent", readRequired, std::nullopt, {}, messages::required},
        ReadCase{"LeapDay", readDate, "2024-02-29", "2024-02-29", {}},
        ReadCase{"ThirtiethOfFebruary",
                 readDate,
                 "2023-02-30",
                 {},
                 invalidDate(QStringLiteral("2023-02-30"))},
        ReadCase{
            "DayFirstDate", readDate, "29/02/2024", {}, invalidDate(QStringLiteral("29/02/2024"))},
        ReadCase{"DateEmpty", readDate, "", {}, messages::required},
        ReadCase{"DateAbsent", readDate, std::nullopt, {}, messages::required}),
    [](auto const& p) { return p.param.name; });

// Writes one "value" attribute on an "item" element and gives the bytes.
template <class Write> QByteArray itemWith(Write&& write) {
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    writer.writeStartElement(QStringLiteral("item"));
    write(writer);
    writer.writeEndElement();
    return bytes;
}

struct DoubleCase {
    double value;
    char const* text;
};

TEST(DoubleWriting, KeepsSixSignificantDigitsInTheShorterNotation) {
    for (auto const& c : {DoubleCase{0.123456789, "0.123457"}, DoubleCase{0.0525, "0.0525"},
                          DoubleCase{5.25, "5.25"}, DoubleCase{-0.5, "-0.5"}, DoubleCase{0.0, "0"},
                          DoubleCase{1234567.0, "1.23457e+06"}, DoubleCase{1e-7, "1e-07"}}) {
        EXPECT_EQ(itemWith([&](auto& w) { writeNumericAttribute(w, valueName, c.value); }),
                  QByteArray("<item value=\"") + c.text + "\"/>");
    }
}

// Writes value, expects exactly text, reads it back as the same value and writes it again to
// the same bytes. Dates are round-tripped here; the elements' round trips cover the other
// encodings: the account's and the reconciliation's extreme numbers, and the account's and the
// bank's closed flags.
template <class T, class Write, class Read>
void expectRoundTrip(T const& value, char const* text, Write write, Read read) {
    SCOPED_TRACE(text);
    auto const bytes = itemWith([&](auto& w) { write(w, value); });
    EXPECT_EQ(bytes, QByteArray("<item value=\"") + text + "\"/>");
    auto const reader = readerOnFirstElement(bytes);
    T const back = read(*reader);
    EXPECT_EQ(back, value);
    EXPECT_EQ(itemWith([&](auto& w) { write(w, back); }), bytes);
}

TEST(DateWriting, RefusesAnInvalidDateWithoutWritingTheAttribute) {
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    writer.writeStartElement(QStringLiteral("item"));
    expectAttributeError(
        [&] { writeDateAttribute(writer, QLatin1String("wage"), valueName, QDate()); },
        QStringLiteral("wage"), QStringLiteral("value"),
        QStringLiteral("The attribute value to write, , is not a valid date."), 0, 0);
    EXPECT_EQ(bytes, QByteArray("<item"));
}

TEST(DateWriting, WritesEveryYearOfTheIsoFormWithFourDigitsAndReadsItBack) {
    auto const date = [](auto& w, QDate const& d) {
        writeDateAttribute(w, QLatin1String("wage"), valueName, d);
    };
    auto const readBack = [](auto& r) { return readDateAttribute(r, valueName); };
    expectRoundTrip(QDate(1, 1, 1), "0001-01-01", date, readBack);
    expectRoundTrip(QDate(5, 12, 9), "0005-12-09", date, readBack);
    expectRoundTrip(QDate(2024, 2, 29), "2024-02-29", date, readBack);
    expectRoundTrip(QDate(9999, 12, 31), "9999-12-31", date, readBack);
}

// Such dates are valid, but the ISO form holds four-digit years only: written, they would make
// a file that cannot be read.
TEST(DateWriting, RefusesAYearTheIsoFormCannotHold) {
    for (auto const& d : {QDate(10000, 1, 1), QDate(-1, 6, 1)}) {
        QByteArray bytes;
        QXmlStreamWriter writer(&bytes);
        writer.writeStartElement(QStringLiteral("item"));
        EXPECT_THROW(writeDateAttribute(writer, QLatin1String("wage"), valueName, d),
                     zel::file_storage::AttributeError);
        EXPECT_EQ(bytes, QByteArray("<item"));
    }
}

} // namespace
