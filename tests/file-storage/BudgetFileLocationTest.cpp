// Where a BudgetFile puts its file and back-up: one table in
// tests/data/location/locations.manifest.
#include "file-storage/BudgetFile.h"

#include "support/Manifest.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using zel::file_storage::BudgetFile;
using zel::storage::StorageError;
using zel::testing::Record;

namespace {

class Locations : public testing::TestWithParam<Record> {};

// An absolute path of the table as the system gives it: on Windows, on the current drive.
QString onThisSystem(QString const& path) {
    return path.startsWith(QLatin1Char('/'))
               ? QFileInfo(QStringLiteral("/")).absoluteFilePath() + path.mid(1)
               : path;
}

TEST_P(Locations, SplitIntoDirectoryAndNameOrFailWithBothTexts) {
    auto const& record = GetParam();
    QString const location = record.text("location");
    QString const extension =
        record.has("extension") ? record.text("extension") : QStringLiteral("~");
    try {
        BudgetFile const file(location, extension);
        EXPECT_FALSE(record.has("second")) << "accepted";
        EXPECT_EQ(file.directoryPath(), onThisSystem(record.text("directory")));
        EXPECT_EQ(file.name(), record.text("file"));
        EXPECT_EQ(file.backUpExtension(), record.text("backup"));
    } catch (StorageError const& error) {
        EXPECT_EQ(error.firstText(), record.text("first"));
        EXPECT_EQ(error.secondText(), record.text("second"));
    }

    // Moving a file that has a location: a refused location leaves it where it was.
    BudgetFile moved(QStringLiteral("/before/budget.xml"), QStringLiteral("~"));
    bool const refused =
        record.text("second") == QStringLiteral("Changing the storage location failed.");
    if (refused) {
        EXPECT_THROW(moved.changeLocation(location), StorageError);
    } else {
        moved.changeLocation(location);
    }
    EXPECT_EQ(moved.directoryPath(),
              onThisSystem(refused ? QStringLiteral("/before") : record.text("directory")));
    EXPECT_EQ(moved.name(), refused ? QStringLiteral("budget.xml") : record.text("file"));
}

INSTANTIATE_TEST_SUITE_P(
    Data, Locations,
    testing::ValuesIn(zel::testing::readManifest(QStringLiteral("location/locations.manifest"))),
    zel::testing::recordName);

} // namespace
