#include "BudgetItemSamples.h"
#include "ElementTestSupport.h"

#include "file-storage/internal/BudgetItemElements.h"

#include <gtest/gtest.h>

#include <vector>

using namespace zel::file_storage;
using namespace zel::file_storage::internal;
using namespace zel::testing;

namespace {

// A wage with identifier 1 that holds content.
QByteArray wageHolding(QByteArray const& content) {
    return R"(<wage id="1" )" + QByteArray(wageAttributes) + ">" + content + "</wage>";
}

QByteArray nested(int depth) {
    return QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth);
}

// Internal entities that each expand the one before tenfold.
QByteArray const expandingEntities = R"(<!DOCTYPE wages [<!ENTITY a0 "0123456789">)"
                                     R"(<!ENTITY a1 "&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;">)"
                                     R"(<!ENTITY a2 "&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;">)"
                                     R"(<!ENTITY a3 "&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;">)"
                                     R"(<!ENTITY a4 "&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;">)"
                                     R"(<!ENTITY a5 "&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;">]>)";

struct HostileCase {
    char const* name;
    QByteArray document;
    std::vector<quint32> identifiers;
    bool readerError;
    qsizetype firstNameSize; // of the first wage's name, when it is checked
};

class HostileDocuments : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileDocuments, EndTheReadWithoutHarm) {
    auto const& c = GetParam();
    auto const reader = readerOnFirstElement(c.document);
    WagesElement wages;
    wages.read(*reader);
    EXPECT_EQ(identifiers(wages.wages), c.identifiers);
    EXPECT_EQ(reader->hasError(), c.readerError) << reader->errorString().toStdString();
    if (c.firstNameSize > 0 && !wages.wages.empty()) {
        EXPECT_EQ(wages.wages.front().name.size(), c.firstNameSize);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileDocuments,
    testing::Values(
        HostileCase{"DeepNestingInsideALeaf",
                    "<wages>" + wageHolding(nested(200000)) + wageElement("2") + "</wages>",
                    {1, 2},
                    false,
                    0},
        HostileCase{
            "NonLatin1TagsAndValues",
            "<wages><wage id=\"1\" major=\"1\" minor=\"0\" period=\"\xe6\xaf\x8e\xe6\x9c\x88\" "
            "name=\"\xd0\x97\xd0\xb0\xd1\x80\xd0\xbf\xd0\xbb\xd0\xb0\xd1\x82\xd0\xb0 "
            "\xf0\x9f\x92\xb0\" "
            "currency=\"\xe2\x82\xac\" nextOccurOn=\"2024-01-31\" accountId=\"1\">"
            "<\xe7\xb5\xa6\xe6\x96\x99/></wage><w\xc3\xa4ge/>" +
                wageElement("2") + "</wages>",
            {1},
            false,
            11},
        HostileCase{"EntityExpandingBeyondTheLimit",
                    expandingEntities + "<wages>" + wageHolding("&a5;") + "</wages>",
                    {1},
                    true,
                    0},
        HostileCase{"MismatchedTagsInsideALeaf",
                    "<wages>" + wageHolding("<a></b>") + wageElement("2") + "</wages>",
                    {1},
                    true,
                    0},
        HostileCase{
            "DocumentEndingInsideALeaf", "<wages>" + wageHolding("<a>").chopped(7), {1}, true, 0},
        HostileCase{"DuplicateAttribute",
                    "<wages>" + wageElement("1").replace("<wage", "<wage id=\"2\"") + "</wages>",
                    {},
                    true,
                    0}),
    [](auto const& p) { return p.param.name; });

TEST(HostileValues, AHugeNumberIsRefusedAsNoNumber) {
    auto const document = R"(<wage id="1" major=")" + QByteArray(100000, '9') + R"(" minor="0"/>)";
    expectAttributeError([&] { readElement<WageElement>(document); }, "wage", "major",
                         messages::notNumber, 1, document.size());
}

} // namespace
