#include "file-storage/BudgetFile.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using zel::file_storage::BudgetFile;
using zel::storage::StorageError;

namespace {

void expectStorageError(auto&& action, QString const& firstText, QString const& secondText) {
    try {
        action();
        ADD_FAILURE() << "no error thrown";
    } catch (StorageError const& error) {
        EXPECT_EQ(error.firstText(), firstText);
        EXPECT_EQ(error.secondText(), secondText);
    }
}

QString const emptyLocation = QStringLiteral("The file location cannot be empty.");
QString const relativeLocation = QStringLiteral("The file location must be an absolute path.");
QString const changeFailed = QStringLiteral("Changing the storage location failed.");

TEST(BudgetFileLocation, DefaultHasNoLocationAndATildeExtension) {
    BudgetFile const file;
    EXPECT_TRUE(file.directoryPath().isEmpty());
    EXPECT_TRUE(file.name().isEmpty());
    EXPECT_EQ(file.backUpExtension(), QStringLiteral("~"));
    EXPECT_EQ(BudgetFile::defaultBackUpExtension_, QChar(u'~'));
    EXPECT_EQ(BudgetFile::oldBackUpExtension_, QStringLiteral(".old"));
}

struct ExtensionCase {
    char const* name;
    QString given;
    QString stored;
};

class BackUpExtensions : public testing::TestWithParam<ExtensionCase> {};

TEST_P(BackUpExtensions, AreStoredAfterAFullStopUnlessALoneTilde) {
    BudgetFile const file(QStringLiteral("/home/user/budget.xml"), GetParam().given);
    EXPECT_EQ(file.backUpExtension(), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BackUpExtensions,
    testing::Values(ExtensionCase{"Tilde", QStringLiteral("~"), QStringLiteral("~")},
                    ExtensionCase{"Bak", QStringLiteral("bak"), QStringLiteral(".bak")},
                    ExtensionCase{"Empty", QString(), QStringLiteral(".")},
                    ExtensionCase{"TwoTildes", QStringLiteral("~~"), QStringLiteral(".~~")},
                    ExtensionCase{"TildeX", QStringLiteral("~x"), QStringLiteral(".~x")}),
    [](auto const& p) { return p.param.name; });

TEST(BudgetFileLocation, RefusesAnExtensionStartingWithAFullStopAfterTheLocation) {
    expectStorageError(
        [] { BudgetFile(QStringLiteral("/home/user/budget.xml"), QStringLiteral(".bak")); },
        QStringLiteral("The back-up budget file extension cannot start with a full stop (.)."),
        QStringLiteral("Back-up extension is invalid."));
    // With both wrong, the location is reported.
    expectStorageError([] { BudgetFile(QString(), QStringLiteral(".bak")); }, emptyLocation,
                       changeFailed);
    expectStorageError([] { BudgetFile(QStringLiteral("budget.xml"), QStringLiteral(".bak")); },
                       relativeLocation, changeFailed);
}

TEST(BudgetFileLocation, SplitsAnAbsoluteLocationIntoDirectoryAndName) {
    BudgetFile const file(QStringLiteral("/home/user/money/budget.xml"), QStringLiteral("~"));
    EXPECT_EQ(file.directoryPath(), QStringLiteral("/home/user/money"));
    EXPECT_EQ(file.name(), QStringLiteral("budget.xml"));

    BudgetFile const noExtension(QStringLiteral("/home/user/budget"), QStringLiteral("~"));
    EXPECT_EQ(noExtension.name(), QStringLiteral("budget"));
}

TEST(BudgetFileLocation, KeepsARootDirectoryWithItsSlash) {
    BudgetFile const file(QStringLiteral("/budget.xml"), QStringLiteral("~"));
    EXPECT_EQ(file.directoryPath(), QStringLiteral("/"));
    EXPECT_EQ(file.name(), QStringLiteral("budget.xml"));
}

TEST(BudgetFileLocation, AcceptsALocationEndingInASeparatorWithAnEmptyName) {
    BudgetFile const file(QStringLiteral("/home/user/"), QStringLiteral("~"));
    EXPECT_EQ(file.directoryPath(), QStringLiteral("/home/user"));
    EXPECT_TRUE(file.name().isEmpty());
}

TEST(BudgetFileLocation, SplitsASurroundedAbsoluteLocationUntrimmed) {
    BudgetFile const file(QStringLiteral("/home/user/budget.xml  "), QStringLiteral("~"));
    EXPECT_EQ(file.directoryPath(), QStringLiteral("/home/user"));
    EXPECT_EQ(file.name(), QStringLiteral("budget.xml  "));
}

struct RejectedLocation {
    char const* name;
    QString location;
    QString firstText;
};

class RejectedLocations : public testing::TestWithParam<RejectedLocation> {};

TEST_P(RejectedLocations, FailAndLeaveTheObjectAsItWas) {
    BudgetFile file(QStringLiteral("/home/user/budget.xml"), QStringLiteral("bak"));
    expectStorageError([&] { file.changeLocation(GetParam().location); }, GetParam().firstText,
                       changeFailed);
    EXPECT_EQ(file.directoryPath(), QStringLiteral("/home/user"));
    EXPECT_EQ(file.name(), QStringLiteral("budget.xml"));
    EXPECT_EQ(file.backUpExtension(), QStringLiteral(".bak"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RejectedLocations,
    testing::Values(RejectedLocation{"Empty", QString(), emptyLocation},
                    RejectedLocation{"Spaces", QStringLiteral("   "), emptyLocation},
                    RejectedLocation{"TabsAndNewlines", QStringLiteral("\t\n"), emptyLocation},
                    RejectedLocation{"Relative", QStringLiteral("budget.xml"), relativeLocation},
                    RejectedLocation{"DotRelative", QStringLiteral("./money/budget.xml"),
                                     relativeLocation},
                    RejectedLocation{"LeadingSpaceMakesItRelative", QStringLiteral(" /home/x.xml"),
                                     relativeLocation}),
    [](auto const& p) { return p.param.name; });

TEST(BudgetFileLocation, CopiesAndMovesKeepTheNames) {
    BudgetFile const original(QStringLiteral("/a/b.xml"), QStringLiteral("bak"));
    BudgetFile copy = original;
    BudgetFile moved = std::move(copy);
    BudgetFile assigned;
    assigned = moved;
    EXPECT_EQ(assigned.directoryPath(), QStringLiteral("/a"));
    EXPECT_EQ(assigned.name(), QStringLiteral("b.xml"));
    EXPECT_EQ(assigned.backUpExtension(), QStringLiteral(".bak"));
}

} // namespace
