#include "budgeting/Budgeting.h"
#include "foundation/Error.h"
#include "foundation/PresentationText.h"
#include "foundation/TypeIndexMap.h"
#include "storage/StorageError.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace zel;

namespace {

TEST(Errors, KeepWhatTheirCauseSaidAfterTheCauseIsGone) {
    auto make = [] {
        std::out_of_range const cause("map::at");
        return foundation::Error(QStringLiteral("lookup failed"), cause);
    };
    auto const error = make();
    EXPECT_EQ(error.message(), QStringLiteral("lookup failed"));
    EXPECT_EQ(error.causeDescription(), "map::at");
    EXPECT_STREQ(error.what(), "lookup failed");
}

TEST(StorageErrors, KeepBothTextsExactlyAndSayBothInWhat) {
    storage::StorageError const error(QStringLiteral("No such file"),
                                      QStringLiteral("Loading failed."), std::exception());
    EXPECT_EQ(error.firstText(), QStringLiteral("No such file"));
    EXPECT_EQ(error.secondText(), QStringLiteral("Loading failed."));
    EXPECT_EQ(error.causeDescription(), std::exception().what());
    std::string const what = error.what();
    EXPECT_NE(what.find("No such file"), std::string::npos);
    EXPECT_NE(what.find("Loading failed."), std::string::npos);

    storage::StorageError copy = error;
    storage::StorageError moved = std::move(copy);
    EXPECT_EQ(moved.firstText(), error.firstText());
    EXPECT_EQ(moved.secondText(), error.secondText());
}

TEST(PresentationText, ShowsAnEightBitNumberInDecimal) {
    EXPECT_EQ(foundation::presentationText(static_cast<unsigned char>(0)), QStringLiteral("0"));
    EXPECT_EQ(foundation::presentationText(static_cast<unsigned char>(255)), QStringLiteral("255"));
}

using SourceMap = foundation::TypeIndexMap<budgeting::BudgetSource, int>;

TEST(TypeIndexMap, KeepsOneValuePerTypeAndKeyAndOverwrites) {
    SourceMap map;
    budgeting::BudgetSource const rent(QStringLiteral("Rent"));
    map.insert<budgeting::Bill>(rent, 1);
    map.insert<budgeting::Wage>(rent, 2);
    map.insert<budgeting::Bill>(rent, 3);
    EXPECT_EQ(map.at<budgeting::Bill>(rent), 3);
    EXPECT_EQ(map.at<budgeting::Wage>(rent), 2);
    EXPECT_EQ(map.values<budgeting::Bill>().size(), 1u);
    EXPECT_TRUE(map.values<budgeting::Goal>().empty());
}

TEST(TypeIndexMap, FailedLookupNamesTheKeyAndKeepsTheCause) {
    SourceMap map;
    map.insert<budgeting::Bill>(budgeting::BudgetSource(QStringLiteral("Rent")), 1);
    try {
        map.at<budgeting::Bill>(budgeting::BudgetSource(QStringLiteral("Gym")));
        FAIL() << "no error";
    } catch (foundation::Error const& error) {
        EXPECT_TRUE(error.message().startsWith(
            QStringLiteral("Failed to find a non-mutable value under the type '")));
        EXPECT_TRUE(error.message().endsWith(QStringLiteral("' with the key 'Gym'.")));
        EXPECT_FALSE(error.causeDescription().empty());
    }
    EXPECT_THROW(map.at<budgeting::Wage>(budgeting::BudgetSource(QStringLiteral("Rent"))),
                 foundation::Error);
}

} // namespace
