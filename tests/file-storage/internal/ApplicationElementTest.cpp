#include "ElementTestSupport.h"
#include "support/LogCapture.h"

#include "file-storage/internal/ApplicationElement.h"

#include <gtest/gtest.h>

using namespace zel::file_storage;
using namespace zel::file_storage::internal;
using namespace zel::testing;

namespace {

QByteArray root(QByteArray const& attributes) {
    return "<KelvoraMindrath" + attributes + "><wages/></KelvoraMindrath>";
}

class KnownRevisions : public testing::TestWithParam<int> {};

TEST_P(KnownRevisions, AreReadAndLeaveTheReaderOnTheRoot) {
    auto const reader =
        readerOnFirstElement(root(" revision=\"" + QByteArray::number(GetParam()) + "\""));
    ApplicationElement element;
    element.read(*reader);
    EXPECT_EQ(element.revision, GetParam());
    EXPECT_TRUE(reader->isStartElement());
    EXPECT_EQ(reader->name().toString(), QStringLiteral("KelvoraMindrath"));
    ASSERT_TRUE(reader->readNextStartElement());
    EXPECT_EQ(reader->name().toString(), QStringLiteral("wages"));
}

INSTANTIATE_TEST_SUITE_P(ZeroToLatest, KnownRevisions, testing::Values(0, 1, 2));

struct RootFault {
    char const* name;
    QByteArray document;
    QString attribute; // empty: a BudgetFileError of the element itself
    QString message;
    qint64 column;
};

class RootReadFaults : public testing::TestWithParam<RootFault> {};

TEST_P(RootReadFaults, ThrowAndKeepTheRevision) {
    auto const& c = GetParam();
    auto const reader = readerOnFirstElement(c.document);
    ApplicationElement element;
    expectReadError([&] { element.read(*reader); }, QStringLiteral("KelvoraMindrath"), c.attribute,
                    c.message, 1, c.column);
    EXPECT_EQ(element.revision, 0);
}

QString unsupported(char const* revision) {
    return QStringLiteral("The revision %1 of the budget file is not supported by this application "
                          "version which only supports up to revision 2.")
        .arg(QLatin1String(revision));
}

QString const notBudgetFile =
    QStringLiteral("This file does not appear to be a budget application file.");

INSTANTIATE_TEST_SUITE_P(
    Cases, RootReadFaults,
    testing::Values(
        RootFault{"NextRevision", root(R"( revision="3")"), {}, unsupported("3"), 30},
        RootFault{"LargestByte", root(R"( revision="255")"), {}, unsupported("255"), 32},
        RootFault{"AboveAByte", root(R"( revision="256")"), "revision", messages::tooLarge, 32},
        RootFault{"NoRevision", root(""), "revision", messages::notNumber, 17},
        RootFault{"RevisionNotANumber", root(R"( revision="two")"), "revision", messages::notNumber,
                  32},
        RootFault{
            "AnotherApplicationsFile", R"(<OtherBudget revision="2"/>)", {}, notBudgetFile, 27},
        RootFault{"TagInAnotherCase", R"(<kelvoramindrath revision="2"/>)", {}, notBudgetFile, 31}),
    [](auto const& p) { return p.param.name; });

TEST(ApplicationElementWriting, WritesTheLatestRevisionLeavingTheRootOpenAndReadsItBack) {
    LogCapture capture;
    ApplicationElement element;
    element.revision = 1;
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    element.write(writer);
    writer.writeEmptyElement(QStringLiteral("wages"));
    writer.writeEndElement();
    EXPECT_EQ(bytes, QByteArray(R"(<KelvoraMindrath revision="2"><wages/></KelvoraMindrath>)"));
    EXPECT_EQ(capture.texts(QtDebugMsg),
              std::vector<QString>{R"(Writing Element: "KelvoraMindrath")"});
    EXPECT_EQ(readElement<ApplicationElement>(bytes).revision, ApplicationElement::latestRevision_);
}

} // namespace
