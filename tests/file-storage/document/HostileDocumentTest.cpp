// Documents too large to keep as files, made from the texts of
// tests/data/documents/hostile.manifest: each one either loads correctly or fails with a library
// error. Also a declaration wherever the bounded device's read ends, and a device that cannot
// rewind.
#include "DocumentSupport.h"

#include "support/Budgets.h"
#include "support/Manifest.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using zel::testing::describe;
using zel::testing::errorOf;

// A text of tests/data/documents/hostile.manifest, expanded as its head says.
QByteArray expanded(std::string text, QString const& secret) {
    text = QByteArray::fromStdString(text)
               .replace("\\n", "\n")
               .replace("{secret}", secret.toUtf8())
               .toStdString();
    for (auto close = text.find('}'); close != std::string::npos; close = text.find('}')) {
        auto const open = text.rfind('{', close);
        auto const star = text.find('*', open);
        std::string const unit = text.substr(star + 1, close - star - 1);
        std::string copies;
        for (long i = 0, count = std::stol(text.substr(open + 1, star - open - 1)); i < count;
             ++i) {
            copies += unit.find('#') == std::string::npos
                          ? unit
                          : QString::fromStdString(unit)
                                .replace(QLatin1Char('#'), QString::number(i))
                                .toStdString();
        }
        text.replace(open, close - open + 1, copies);
    }
    return QByteArray::fromStdString(text);
}

class HostileDocument : public ::testing::TestWithParam<zel::testing::Record> {};

TEST_P(HostileDocument, LoadsCorrectlyOrFailsWithALibraryError) {
    auto const& row = GetParam();
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    QFile secret(directory.filePath(QStringLiteral("secret.txt")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("top secret") == 10);
    secret.close();
    auto const field = [&](char const* key, char const* otherwise = "") {
        return expanded(row.has(key) ? row.value(key) : otherwise, secret.fileName());
    };
    auto bytes = row.has("bytes")
                     ? field("bytes")
                     : zel::testing::dataFile(row.has("body") ? "documents/hostile/document.xml"
                                                              : "documents/hostile/wage.xml");
    for (auto const& [key, otherwise] :
         {std::pair("doctype", ""), std::pair("body", ""), std::pair("wage", "Salary"),
          std::pair("major", "1"), std::pair("content", ""), std::pair("description", "[]")}) {
        bytes.replace("{" + QByteArray(key) + "}", field(key, otherwise));
    }
    if (row.has("second")) {
        auto const error = errorOf([&] { zel::testing::loadDocument(bytes); });
        EXPECT_TRUE(error.starts_with("class: BudgetFileError") ||
                    error.starts_with("class: AttributeError"))
            << error.substr(0, 300);
        EXPECT_NE(error.find("\nsecond: " + row.value("second") + "\n"), std::string::npos)
            << error.substr(0, 300);
        return;
    }
    std::optional<zel::storage::BudgetState> state;
    ASSERT_EQ(errorOf([&] { state.emplace(zel::testing::loadDocument(bytes)); }), "no error");
    EXPECT_NE(describe(*state).find(field("loaded").toStdString()), std::string::npos);
    EXPECT_EQ(describe(zel::testing::loadDocument(zel::testing::storeDocument(*state))),
              describe(*state));
}

INSTANTIATE_TEST_SUITE_P(
    Documents, HostileDocument,
    ::testing::ValuesIn(zel::testing::readManifest(QStringLiteral("documents/hostile.manifest"))),
    zel::testing::recordName);

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
    auto bytes = zel::testing::dataFile(QStringLiteral("documents/canonical/small-full.xml"));
    OneWayBuffer device(&bytes);
    device.open(QIODevice::ReadOnly | QIODevice::Text);
    EXPECT_EQ(errorOf([&] { zel::file_storage::internal::loadBudgetDocument(device); }),
              "class: BudgetFileError\nfirst: The budget file is not valid.  The device cannot "
              "rewind. Error appears at line 0, column 0.\nsecond: Failed to reset budget file, "
              "after reading the application element.\ncause: std::exception");
}

} // namespace
