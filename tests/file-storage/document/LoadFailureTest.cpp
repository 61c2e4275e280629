// Documents that the load refuses, from tests/data/documents/load-failures.manifest: each one
// fails with the recorded error, whether it is read from memory or from a budget file, and
// the failed load leaves the device and the file as they were.
#include "DocumentSupport.h"

#include "file-storage/BudgetFile.h"
#include "support/Manifest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using zel::testing::Record;

class LoadFailure : public ::testing::TestWithParam<Record> {};

TEST_P(LoadFailure, ThrowsTheRecordedErrorFromMemoryAndFromAFile) {
    zel::testing::LogCapture const quiet;
    auto const& r = GetParam();
    auto const expected = "class: " + r.value("class") + "\nfirst: " + r.value("first") +
                          "\nsecond: " + r.value("second") + "\ncause: " + r.value("cause");
    auto document = zel::testing::dataFile("documents/" + r.text("document"));
    auto const stored = document;

    QBuffer device(&document);
    device.open(QIODevice::ReadOnly | QIODevice::Text);
    EXPECT_EQ(
        zel::testing::errorOf([&] { zel::file_storage::internal::loadBudgetDocument(device); }),
        expected);
    EXPECT_TRUE(device.isOpen() && device.isTextModeEnabled());

    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    QFile file(directory.filePath(QStringLiteral("budget.xml")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(stored) == stored.size());
    file.close();
    zel::file_storage::BudgetFile const budgetFile(file.fileName(), QStringLiteral("~"));
    EXPECT_EQ(zel::testing::errorOf([&] { budgetFile.load(); }), expected);
    EXPECT_EQ(
        QDir(directory.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList{QStringLiteral("budget.xml")});
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), stored);
}

INSTANTIATE_TEST_SUITE_P(Documents, LoadFailure,
                         ::testing::ValuesIn(zel::testing::readManifest(
                             QStringLiteral("documents/load-failures.manifest"))),
                         zel::testing::recordName);

} // namespace
