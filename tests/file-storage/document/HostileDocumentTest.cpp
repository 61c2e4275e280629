// Documents too large to keep as data (deep nesting, huge attributes, entities referred to a
// million times) and documents that name a file of this run: each one either loads correctly
// or fails with a library error, and none may crash, hang, be half-read or read another file.
// Also a device that cannot rewind.
#include "DocumentSupport.h"

#include "support/Budgets.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using zel::testing::describe;
using zel::testing::errorOf;

QByteArray document(QByteArray const& body, QByteArray const& doctype = {}) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype +
           "<KelvoraMindrath revision=\"2\">\n" + body + "</KelvoraMindrath>\n";
}

// A document of one wage, holding content, and the account it is booked to, whose ledger holds
// a transaction described as "[]", or as doctype makes it.
QByteArray wageDocument(QByteArray const& name, QByteArray const& major = "1",
                        QByteArray const& content = {}, QByteArray const& doctype = {},
                        QByteArray const& description = "[]") {
    return document(
        "<wages>\n<wage id=\"1\" major=\"" + major + "\" minor=\"0\" period=\"Monthly\" name=\"" +
            name + "\" currency=\"USD\" nextOccurOn=\"2026-03-01\" accountId=\"10\">" + content +
            "</wage>\n</wages>\n<accounts>\n<account id=\"10\" name=\"Checking\" "
            "type=\"Asset\" major=\"0\" minor=\"0\" currency=\"USD\" closed=\"false\"/>"
            "\n</accounts>\n<ledgers>\n<ledger id=\"10\">\n"
            "<transaction id=\"1\" date=\"2026-01-02\" accountId=\"10\" entry=\"Dr\" "
            "major=\"1\" minor=\"0\" currency=\"USD\" status=\"Cleared\">" +
            description + "</transaction>\n</ledger>\n</ledgers>\n",
        doctype);
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
    auto const external = wageDocument("Salary", "1", {},
                                       "<!DOCTYPE KelvoraMindrath [<!ENTITY secret SYSTEM "
                                       "\"file://" +
                                           secret.fileName().toUtf8() + "\">]>\n",
                                       "[&secret;]");
    std::string const topLevel =
        "An unexpected error top-level element, deep, appeared in the file.";
    std::string const misplaced = "An unexpected element, deep, appeared in the element ";
    std::string const tooDeep = "Elements are nested deeper than 32 levels.";
    auto const eastern = megabytes(1, "\xe6\x9d\xb1");
    auto const latin = megabytes(8, "Salary ");
    // What looks like markup, where the reader sees none: in values, comments, CDATA sections,
    // instructions and the document type declaration, which has comments and instructions of
    // its own.
    auto const fake = QByteArray("<deep x='' y=\"\">").repeated(70);
    auto const notMarkup = wageDocument(
        QByteArray(" a=''").repeated(70), "1",
        "<!--" + fake + "--><![CDATA[" + fake + "]]><?pi " + fake + "?>",
        "<!DOCTYPE KelvoraMindrath [<!-- >]>" + fake + " --><?pi >]>" + fake + " ?>]>\n", "[]>']");
    // An entity of 4,000 characters, referred to a million times: 4 GB of text from 3 MB.
    auto const amplified =
        wageDocument("Salary", "1", {},
                     "<!DOCTYPE KelvoraMindrath [<!ENTITY e \"" + QByteArray(4000, 'x') + "\">]>\n",
                     QByteArray("&e;").repeated(1'000'000));
    // Each wage given 60 attributes more, of 4,000 characters each.
    QByteArray defaults;
    for (int i = 0; i < 60; ++i) {
        defaults += " b" + QByteArray::number(i) + " CDATA '" + QByteArray(4000, 'x') + "'";
    }
    auto const defaulted = wageDocument(
        "Salary", "1", {}, "<!DOCTYPE KelvoraMindrath [<!ATTLIST wage" + defaults + ">]>\n");
    std::string const declaration =
        "The document type declaration holds a declaration, which a budget file never does: the "
        "entities and default attributes it may declare can make a document cost far more than "
        "its size to read.";
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
        {"EntityReferredToAMillionTimes", amplified, declaration},
        {"DefaultAttributesDeclared", defaulted, declaration},
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
        {"ExternalEntityInADescription", external, declaration},
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

// The bounded device reads its source 16 KiB at a time: a declaration is told from a comment by
// the two characters after its '<', wherever the block ends among them.
TEST(HostileDocument, DeclarationIsRefusedWhereverTheReadEnds) {
    for (bool const utf8 : {true, false}) {
        for (int shift = -4; shift <= 4; ++shift) {
            SCOPED_TRACE((utf8 ? "UTF-8" : "UTF-16LE") + std::string(", shifted by ") +
                         std::to_string(shift));
            auto const document = [&](QString const& subset) {
                QString const head =
                    QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\n"
                                   "<!DOCTYPE KelvoraMindrath [<!--")
                        .arg(utf8 ? QStringLiteral("UTF-8") : QStringLiteral("UTF-16LE"));
                // The '<' after the comment, shift units away from the end of the first block.
                qsizetype const units = 16 * 1024 / (utf8 ? 1 : 2);
                QString const text = head + QString(units + shift - head.size() - 3, u'x') +
                                     QStringLiteral("-->") + subset +
                                     QStringLiteral("]>\n<KelvoraMindrath revision=\"2\"/>\n");
                return utf8 ? text.toUtf8()
                            : QByteArray(QStringEncoder(QStringConverter::Utf16LE)(text));
            };
            EXPECT_EQ(
                errorOf([&] { zel::testing::loadDocument(document(QStringLiteral("<!-- -->"))); }),
                "no error");
            auto const error = errorOf(
                [&] { zel::testing::loadDocument(document(QStringLiteral("<!ENTITY e 'x'>"))); });
            EXPECT_NE(error.find("second: The document type declaration holds a declaration"),
                      std::string::npos)
                << error;
        }
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
