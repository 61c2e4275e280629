// Documents too large to keep as data (deep nesting, huge attributes) and documents that name
// a file of this run: each one either loads correctly or fails with a library error, and none
// may crash, hang, be half-read or read another file. Also a device that cannot rewind.
#include "DocumentSupport.h"

#include "support/Budgets.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

using zel::testing::describe;
using zel::testing::errorOf;

QByteArray document(QByteArray const& body, QByteArray const& doctype = {}) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype +
           "<KelvoraMindrath revision=\"2\">\n" + body + "</KelvoraMindrath>\n";
}

// A document of one wage, holding content, and the account it is booked to, whose ledger holds
// a transaction described by the entity "secret".
QByteArray wageDocument(QByteArray const& name, QByteArray const& major = "1",
                        QByteArray const& content = {}) {
    return document(
        "<wages>\n<wage id=\"1\" major=\"" + major + "\" minor=\"0\" period=\"Monthly\" name=\"" +
            name + "\" currency=\"USD\" nextOccurOn=\"2026-03-01\" accountId=\"10\">" + content +
            "</wage>\n</wages>\n<accounts>\n<account id=\"10\" name=\"Checking\" "
            "type=\"Asset\" major=\"0\" minor=\"0\" currency=\"USD\" closed=\"false\"/>"
            "\n</accounts>\n<ledgers>\n<ledger id=\"10\">\n"
            "<transaction id=\"1\" date=\"2026-01-02\" accountId=\"10\" entry=\"Dr\" "
            "major=\"1\" minor=\"0\" currency=\"USD\" status=\"Cleared\">[&secret;]"
            "</transaction>\n</ledger>\n</ledgers>\n",
        "<!DOCTYPE KelvoraMindrath [<!ENTITY secret \"\">]>\n");
}

QByteArray nested(int depth, QByteArray const& content = {}) {
    return QByteArray("<deep>").repeated(depth) + content + QByteArray("</deep>").repeated(depth);
}

// Attributes a0 to a(count - 1), empty.
QByteArray attributes(int count) {
    QByteArray text;
    for (int i = 0; i < count; ++i) {
        text += " a" + QByteArray::number(i) + "=\"\"";
    }
    return text;
}

QByteArray megabytes(int count, QByteArray const& text) {
    return text.repeated(count * 1024 * 1024 / text.size());
}

struct Hostile {
    char const* name;
    QByteArray document;
    std::string second; // of the error; none: the document loads to a state that holds loaded
    std::string loaded = {};
};

TEST(HostileDocument, LoadsCorrectlyOrFailsWithALibraryError) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    QFile secret(directory.filePath(QStringLiteral("secret.txt")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("top secret") == 10);
    secret.close();
    auto const external = wageDocument("Salary").replace("<!ENTITY secret \"\">",
                                                         "<!ENTITY secret SYSTEM \"file://" +
                                                             secret.fileName().toUtf8() + "\">");
    std::string const topLevel =
        "An unexpected error top-level element, deep, appeared in the file.";
    std::string const misplaced = "An unexpected element, deep, appeared in the element ";
    std::string const tooDeep = "Elements are nested deeper than 32 levels.";
    auto const eastern = megabytes(1, "\xe6\x9d\xb1");
    auto const latin = megabytes(8, "Salary ");
    // What looks like markup, where the reader sees none: in values, comments, CDATA sections,
    // instructions and the document type declaration, which has them of its own.
    auto const fake = QByteArray("<deep x='' y=\"\">").repeated(70);
    auto const notMarkup =
        wageDocument(QByteArray(" a=''").repeated(70), "1",
                     "<!--" + fake + "--><![CDATA[" + fake + "]]><?pi " + fake + "?>")
            .replace("<!ENTITY secret \"\">",
                     "<!-- >]>" + fake + " --><?pi >]>" + fake + " ?><!ENTITY secret \"]>'\">");
    Hostile const cases[] = {
        {"NestingUnderTheRoot", document(nested(100000)), topLevel},
        {"NestingAroundTheRoot", nested(100000, "<KelvoraMindrath revision=\"2\"/>"), tooDeep},
        {"NestingNeverClosed", document(QByteArray("<deep>").repeated(100000)), topLevel},
        {"NestingInACollection", document("<banks>" + nested(100000) + "</banks>\n"),
         misplaced + "banks."},
        {"NestingInALedger",
         document("<ledgers><ledger id=\"1\">" + nested(100000) + "</ledger></ledgers>\n"),
         misplaced + "ledgers."},
        {"NestingInsideAnItem", wageDocument("Salary", "1", nested(100000)), tooDeep},
        {"NestingToTheBoundInsideAnItem",
         wageDocument("Salary", "1", nested(29) + QByteArray("<deep/>").repeated(40)),
         {},
         "wage [Salary] 1.0 USD"},
        {"AttributesToTheBound",
         wageDocument("Salary\"" + attributes(55) + " last=\""),
         {},
         "wage [Salary] 1.0 USD"},
        {"AttributesBeyondTheBound", wageDocument("Salary\"" + attributes(80000) + " last=\""),
         "An element has more than 64 attributes."},
        {"MarkupWhereTheReaderSeesNone", notMarkup, {}, "description=[[]>']]"},
        {"NestingAfterMarkupWhereTheReaderSeesNone",
         QByteArray(notMarkup).replace("</wage>", nested(30) + "</wage>"), tooDeep},
        {"NameOfOneMegabyteBeyondLatin1",
         wageDocument(eastern),
         {},
         "wage [" + eastern.toStdString() + "] 1.0"},
        {"NameOfEightMegabytes", wageDocument(latin), {}, "wage [" + latin.toStdString() + "] 1.0"},
        {"NumberOfOneMegabyte", wageDocument("Salary", megabytes(1, "9")),
         "The element tag 'wage' attribute 'major' is not valid. The attribute value must be a "
         "number."},
        {"AttributeOfEightMegabytesNeverClosed",
         document("<wages>\n<wage name=\"" + megabytes(8, "a")),
         "An unexpected error appeared in the file."},
        {"ExternalEntityInADescription", external, {}, "Cleared description=[[]]"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.second.empty()) {
            auto const error = errorOf([&] { zel::testing::loadDocument(c.document); });
            EXPECT_TRUE(error.starts_with("class: BudgetFileError") ||
                        error.starts_with("class: AttributeError"))
                << error.substr(0, 300);
            EXPECT_NE(error.find("\nsecond: " + c.second + "\n"), std::string::npos)
                << error.substr(0, 300);
            continue;
        }
        std::optional<zel::storage::BudgetState> state;
        ASSERT_EQ(errorOf([&] { state.emplace(zel::testing::loadDocument(c.document)); }),
                  "no error");
        EXPECT_NE(describe(*state).find(c.loaded), std::string::npos);
        EXPECT_EQ(describe(zel::testing::loadDocument(zel::testing::storeDocument(*state))),
                  describe(*state));
    }
}

// A device that cannot go back to its start.
class OneWayBuffer : public QBuffer {
public:
    using QBuffer::QBuffer;
    bool reset() override {
        setErrorString(QStringLiteral("The device cannot rewind."));
        return false;
    }
};

TEST(HostileDocument, DeviceThatCannotRewindIsReported) {
    auto bytes = wageDocument("Salary");
    OneWayBuffer device(&bytes);
    device.open(QIODevice::ReadOnly | QIODevice::Text);
    EXPECT_EQ(errorOf([&] { zel::file_storage::internal::loadBudgetDocument(device); }),
              "class: BudgetFileError\nfirst: The budget file is not valid.  The device cannot "
              "rewind. Error appears at line 0, column 0.\nsecond: Failed to reset budget file, "
              "after reading the application element.\ncause: std::exception");
}

} // namespace
