// Documents that are broken, cut short, oddly encoded or written to do harm: each one either
// loads correctly or fails with a library error. None may crash, hang or be half-read.
#include "LoadDocumentSupport.h"

#include "file-storage/Errors.h"
#include "file-storage/internal/BudgetDocument.h"
#include "support/Budgets.h"

#include <QBuffer>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace budgets = zel::testing;
namespace documents = zel::testing::documents;

using documents::document;
using documents::load;
using documents::LoadFailures;
using documents::write;
using zel::file_storage::BudgetFileError;
using zel::storage::BudgetState;
using zel::storage::StorageError;

namespace {

// What became of one load: "loaded", the error's texts, or the name of a foreign exception.
std::string outcome(QByteArray const& bytes) {
    try {
        load(bytes);
        return "loaded";
    } catch (BudgetFileError const& error) {
        return "BudgetFileError: " + error.secondText().toStdString() + " " +
               error.firstText().toStdString();
    } catch (std::exception const& error) {
        return std::string("foreign exception: ") + error.what();
    }
}

bool isLibraryError(std::string const& result) {
    return result.rfind("BudgetFileError", 0) == 0;
}

// Every document cut short before its root's end tag is refused, whatever the cut.
TEST(LoadHostileDocument, NoTruncatedDocumentLoads) {
    for (bool const autoFormat : {false, true}) {
        auto const whole = write(budgets::smallFullBudget(), autoFormat);
        auto const complete = whole.lastIndexOf("</KelvoraMindrath>") + 18;
        ASSERT_GT(complete, 1000);
        for (qsizetype cut = 0; cut < complete; ++cut) {
            auto const result = outcome(whole.left(cut));
            ASSERT_TRUE(isLibraryError(result))
                << "cut at " << cut << " of " << whole.size() << ": " << result;
        }
        EXPECT_EQ(outcome(whole.left(complete)), "loaded");
    }
}

// A single wrong byte anywhere in a valid document is either harmless or refused. Each offset
// gets one of the bytes in turn.
TEST(LoadHostileDocument, DocumentWithOneWrongByteLoadsOrIsRefused) {
    auto const whole = write(budgets::smallFullBudget(), false);
    char const wrongBytes[] = {'<', '"', '\0', '\xff', '9', '>', '&'};
    int refused = 0;
    for (qsizetype at = 0; at < whole.size(); ++at) {
        auto bytes = whole;
        bytes[at] = wrongBytes[at % std::size(wrongBytes)];
        auto const result = outcome(bytes);
        ASSERT_TRUE(result == "loaded" || isLibraryError(result))
            << "byte " << int(bytes[at]) << " at " << at << ": " << result;
        refused += result != "loaded";
    }
    EXPECT_GT(refused, whole.size() / 2);
}

// ---- Entities ----

QByteArray const expandingEntities = R"(<!DOCTYPE KelvoraMindrath [<!ENTITY a0 "0123456789">)"
                                     R"(<!ENTITY a1 "&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;&a0;">)"
                                     R"(<!ENTITY a2 "&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;&a1;">)"
                                     R"(<!ENTITY a3 "&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;&a2;">)"
                                     R"(<!ENTITY a4 "&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;&a3;">)"
                                     R"(<!ENTITY a5 "&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;&a4;">)"
                                     R"(<!ENTITY a6 "&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;&a5;">)"
                                     R"(<!ENTITY a7 "&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;&a6;">)"
                                     R"(<!ENTITY a8 "&a7;&a7;&a7;&a7;&a7;&a7;&a7;&a7;&a7;&a7;">]>)"
                                     "\n";

QByteArray const accounts = "<accounts>\n<account id=\"10\" name=\"Checking\" type=\"Asset\" "
                            "major=\"0\" minor=\"0\" currency=\"USD\" closed=\"false\"/>\n"
                            "</accounts>\n";

QByteArray wages(QByteArray const& name) {
    return "<wages>\n<wage id=\"1\" major=\"1\" minor=\"0\" name=\"" + name +
           "\" currency=\"USD\" period=\"Monthly\" nextOccurOn=\"2026-03-01\" "
           "accountId=\"10\"/>\n</wages>\n";
}

QByteArray ledgerWithDescription(QByteArray const& description) {
    return "<ledgers>\n<ledger id=\"10\">\n<transaction id=\"1\" date=\"2026-01-02\" "
           "accountId=\"10\" entry=\"Dr\" major=\"1\" minor=\"0\" currency=\"USD\" "
           "status=\"Cleared\">" +
           description + "</transaction>\n</ledger>\n</ledgers>\n";
}

// A document with a document type declaration between the XML declaration and the root.
QByteArray withDoctype(QByteArray const& doctype, QByteArray const& body) {
    auto bytes = document(2, body);
    return bytes.insert(bytes.indexOf('\n') + 1, doctype);
}

QString wageName(BudgetState const& state) {
    auto const& wages = std::get<zel::budgeting::Budget>(state).wages();
    return wages.empty() ? QString() : wages.begin()->first.name();
}

// A declared internal entity is expanded; an external document type is never fetched.
TEST(LoadHostileDocument, InternalEntitiesAreExpandedAndExternalDocumentTypesIgnored) {
    auto const expanded = load(withDoctype(
        "<!DOCTYPE KelvoraMindrath [<!ENTITY who \"Sal&#97;ry\">]>\n", wages("&who;") + accounts));
    EXPECT_EQ(wageName(expanded), QStringLiteral("Salary"));
    auto const ignored =
        load(withDoctype("<!DOCTYPE KelvoraMindrath SYSTEM \"http://budget.invalid/budget.dtd\">\n",
                         wages("Salary") + accounts));
    EXPECT_EQ(wageName(ignored), QStringLiteral("Salary"));
}

QString const unexpectedError = QStringLiteral("An unexpected error appeared in the file.");
QString const missingRoot = QStringLiteral("Missing the application element in the budget file.");
QString const expansionLimit =
    QStringLiteral("Entity expands to more characters than the entity expansion limit.");

// The reader's errors, each at the '@' in its document.
std::vector<documents::LoadFailure> refusedDocuments() {
    using documents::refused;
    return {
        refused(
            "ExpandingEntitiesInAnAttribute",
            withDoctype(expandingEntities, "<wages>\n<wage id=\"1\" name=\"&a8;@\"/>\n</wages>\n"),
            unexpectedError, expansionLimit),
        refused("ExpandingEntitiesInText",
                withDoctype(expandingEntities, ledgerWithDescription("&a8;@")), unexpectedError,
                expansionLimit),
        refused("ExternalEntityInAnAttribute",
                withDoctype(
                    "<!DOCTYPE KelvoraMindrath [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>\n",
                    "<wages>\n<wage id=\"1\" name=\"&x;@\"/>\n</wages>\n"),
                unexpectedError,
                QStringLiteral("Reference to external entity 'x' in attribute value.")),
        refused("UndeclaredEntity", document(2, wages("&nowhere;@")), unexpectedError,
                QStringLiteral("Entity 'nowhere' not declared.")),
        refused("NulByte", document(2, QByteArray("<wages>\n<wage id=\"1\" name=\"a\0@", 30)),
                unexpectedError, QStringLiteral("Unexpected ''.")),
        refused("NotXmlAtAll", QByteArray("Z@ELE\x01\x00\x00\x00\x05", 10), missingRoot,
                QStringLiteral("Start tag expected.")),
    };
}

INSTANTIATE_TEST_SUITE_P(Hostile, LoadFailures, ::testing::ValuesIn(refusedDocuments()),
                         documents::caseName);

// An external entity is never fetched: a description that names one holds nothing of it.
TEST(LoadHostileDocument, ExternalEntityIsNeverRead) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    QFile secret(directory.filePath(QStringLiteral("secret.txt")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("top secret");
    secret.close();
    auto const doctype = "<!DOCTYPE KelvoraMindrath [<!ENTITY secret SYSTEM \"file://" +
                         secret.fileName().toUtf8() + "\">]>\n";
    auto const state = load(withDoctype(doctype, accounts + ledgerWithDescription("[&secret;]")));
    auto const& ledgers = std::get<zel::accounting::GeneralLedger>(state).ledgers();
    ASSERT_EQ(ledgers.size(), 1u);
    auto const& transaction = ledgers.begin()->second.transactions.begin()->second;
    ASSERT_TRUE(transaction.description().has_value());
    EXPECT_FALSE(transaction.description()->contains(QStringLiteral("secret")));
}

// ---- Nesting ----

QByteArray nested(int depth, QByteArray const& content = {}) {
    return QByteArray("<deep>").repeated(depth) + content + QByteArray("</deep>").repeated(depth);
}

// Deep nesting inside an item is skipped as the item element's own tests show.
TEST(LoadHostileDocument, DeepNestingElsewhereIsRefused) {
    // Under the root.
    EXPECT_THROW(load(document(2, nested(100000))), BudgetFileError);
    // Inside a collection, and inside a ledger.
    EXPECT_THROW(load(document(2, "<accounts>" + nested(100000) + "</accounts>\n")),
                 BudgetFileError);
    EXPECT_THROW(
        load(document(2, "<ledgers><ledger id=\"1\">" + nested(100000) + "</ledger></ledgers>\n")),
        BudgetFileError);
    // Around the root.
    EXPECT_THROW(load(nested(100000, "<KelvoraMindrath revision=\"2\"/>")), BudgetFileError);
    // Never closed.
    EXPECT_THROW(load(document(2, QByteArray("<deep>").repeated(100000))), BudgetFileError);
}

// ---- Encodings ----

// A document with characters whose encodings hold every byte value that text handling might
// take for a line end, with line ends of both kinds.
QByteArray const unicodeBody = wages("Pla\xc4\x8dilo \xc4\x8d\xc4\x8d \xe0\xb4\x8d \xe2\x98\x95") +
                               "<accounts>\r\n<account id=\"10\" name=\"\xe0\xb4\x8a\xe0\xb4\x8d\" "
                               "type=\"Asset\" major=\"0\" minor=\"0\" currency=\"USD\" "
                               "closed=\"false\"/>\r\n</accounts>\r\n";

QByteArray encoded(QByteArray utf8, char const* encoding, QStringEncoder::Flags flags) {
    utf8.replace("encoding=\"UTF-8\"", "encoding=\"" + QByteArray(encoding) + "\"");
    QStringEncoder encoder(encoding, flags);
    return encoder.encode(QString::fromUtf8(utf8));
}

TEST(LoadHostileDocument, DocumentsInOtherEncodingsLoadTheSame) {
    auto const utf8 = document(2, unicodeBody);
    auto const expected = budgets::describe(load(utf8));
    EXPECT_NE(expected.find("Pla\xc4\x8dilo"), std::string::npos);
    for (auto const* encoding : {"UTF-16LE", "UTF-16BE", "UTF-16"}) {
        EXPECT_EQ(budgets::describe(load(encoded(utf8, encoding, QStringEncoder::Flag::WriteBom))),
                  expected)
            << encoding;
    }
    EXPECT_EQ(budgets::describe(load("\xef\xbb\xbf" + utf8)), expected);
    auto const latin1 = withDoctype({}, wages("Caf\xe9") + accounts)
                            .replace("encoding=\"UTF-8\"", "encoding=\"ISO-8859-1\"");
    EXPECT_EQ(wageName(load(latin1)), QStringLiteral("Caf\u00e9"));
}

// The device is read as stored, and then given back as it was handed over.
TEST(LoadHostileDocument, DeviceKeepsItsModeAfterALoad) {
    for (auto bytes : {document(2, unicodeBody), document(2, "<budget/>\n")}) {
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly | QIODevice::Text);
        try {
            zel::file_storage::internal::loadBudgetDocument(device);
        } catch (BudgetFileError const&) {
        }
        EXPECT_TRUE(device.isOpen());
        EXPECT_TRUE(device.isTextModeEnabled());
    }
}

TEST(LoadHostileDocument, InvalidUtf8IsRefused) {
    for (auto const* bad : {"\xff", "\xc4", "\xed\xa0\x80", "\xc0\xaf"}) {
        auto const result = outcome(document(2, wages("Sal" + QByteArray(bad) + "ary") + accounts));
        EXPECT_TRUE(isLibraryError(result)) << result;
        EXPECT_NE(result.find("Encountered incorrectly encoded content."), std::string::npos)
            << result;
    }
}

} // namespace
