// The map between budget item identifiers and budget sources of one document.
#include "LoadDocumentSupport.h"

#include "file-storage/Errors.h"
#include "file-storage/internal/BudgetItemIdMap.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <random>

namespace zel::budgeting {
// Failed comparisons of sources show their names.
void PrintTo(BudgetSource const& source, std::ostream* out) {
    *out << source.name().toStdString();
}
} // namespace zel::budgeting

namespace documents = zel::testing::documents;

using zel::budgeting::BudgetItemTypes;
using zel::budgeting::BudgetSource;
using zel::file_storage::BudgetFileError;
using zel::file_storage::internal::BudgetItemIdMap;
using zel::file_storage::internal::identifierOfSource;
using zel::file_storage::internal::recordItemIdentifier;
using zel::file_storage::internal::sourceOfIdentifier;

namespace {

BudgetSource source(char const* name) {
    return BudgetSource(QString::fromUtf8(name));
}

TEST(BudgetItemIdMap, IdentifiersNameSourcesWithinTheirKind) {
    BudgetItemIdMap map;
    recordItemIdentifier(map, BudgetItemTypes::wage, 1, source("Salary"));
    recordItemIdentifier(map, BudgetItemTypes::bill, 1, source("Rent"));
    recordItemIdentifier(map, BudgetItemTypes::wage, 4294967295u, source("Bonus"));
    EXPECT_EQ(sourceOfIdentifier(map, BudgetItemTypes::wage, 1), source("Salary"));
    EXPECT_EQ(sourceOfIdentifier(map, BudgetItemTypes::bill, 1), source("Rent"));
    EXPECT_EQ(sourceOfIdentifier(map, BudgetItemTypes::wage, 4294967295u), source("Bonus"));
    EXPECT_EQ(identifierOfSource(map, BudgetItemTypes::wage, source("Bonus")), 4294967295u);
    EXPECT_EQ(identifierOfSource(map, BudgetItemTypes::bill, source("Rent")), 1u);
}

void expectMappingError(std::function<void()> const& lookup, QString const& message,
                        std::optional<std::string> const& cause) {
    try {
        lookup();
        FAIL() << "the lookup succeeded";
    } catch (BudgetFileError const& error) {
        EXPECT_EQ(error.firstText(), documents::fileSentence({}, 0, 0));
        EXPECT_EQ(error.secondText(), message);
        if (cause) {
            EXPECT_EQ(error.causeDescription(), *cause);
        } else {
            // The failed lookup of the standard library.
            EXPECT_FALSE(error.causeDescription().empty());
            EXPECT_NE(error.causeDescription(), "std::exception");
        }
    }
}

TEST(BudgetItemIdMap, IdentifierWithoutSourceIsReported) {
    BudgetItemIdMap map;
    recordItemIdentifier(map, BudgetItemTypes::wage, 1, source("Salary"));
    QString const message =
        QStringLiteral("The budget file contains a malformed budget item ID mapping. There is not "
                       "an identifier of %1 of the type %2.");
    expectMappingError([&] { (void)sourceOfIdentifier(map, BudgetItemTypes::wage, 7); },
                       message.arg(7).arg(QStringLiteral("Wage")), std::nullopt);
    expectMappingError([&] { (void)sourceOfIdentifier(map, BudgetItemTypes::nontrack, 1); },
                       message.arg(1).arg(QStringLiteral("Nontrack")), std::nullopt);
}

TEST(BudgetItemIdMap, SourceWithoutIdentifierIsReported) {
    BudgetItemIdMap map;
    recordItemIdentifier(map, BudgetItemTypes::bill, 1, source("Rent"));
    QString const message =
        QStringLiteral("The budget file contains a malformed budget item ID mapping. There is not "
                       "a budget source '%1' of the type %2.");
    // A kind with items, none of them of the source.
    expectMappingError([&] { (void)identifierOfSource(map, BudgetItemTypes::bill, source("Gas")); },
                       message.arg(QStringLiteral("Gas"), QStringLiteral("Bill")),
                       "Failed to find budget source.");
    // A kind without items.
    expectMappingError(
        [&] { (void)identifierOfSource(map, BudgetItemTypes::goal, source("Rent")); },
        message.arg(QStringLiteral("Rent"), QStringLiteral("Goal")), std::nullopt);
}

// The map keeps a reverse index; whatever was recorded, in whatever order, both lookups must
// answer as the plain map walked in ascending identifier order does: recording an identifier
// again replaces its source, and a source of several identifiers gives the lowest.
TEST(BudgetItemIdMap, LookupsMatchAnAscendingWalkOfThePlainMap) {
    BudgetItemTypes const types[] = {BudgetItemTypes::wage, BudgetItemTypes::bill};
    char const* const names[] = {"A", "B", "C", "D"};
    std::mt19937 random(20260301);
    auto pick = [&](int high) { return std::uniform_int_distribution<int>(0, high)(random); };

    BudgetItemIdMap map;
    std::map<BudgetItemTypes, std::map<quint32, BudgetSource>> plain;
    for (int step = 0; step < 3000; ++step) {
        auto const type = types[pick(1)];
        auto const identifier = static_cast<quint32>(1 + pick(7));
        auto const recorded = source(names[pick(3)]);
        recordItemIdentifier(map, type, identifier, recorded);
        plain[type].insert_or_assign(identifier, recorded);

        for (auto const t : types) {
            for (quint32 id = 1; id <= 8; ++id) {
                auto const* kind = plain.count(t) ? &plain.at(t) : nullptr;
                if (kind && kind->count(id)) {
                    ASSERT_EQ(sourceOfIdentifier(map, t, id), kind->at(id)) << step;
                } else {
                    ASSERT_THROW((void)sourceOfIdentifier(map, t, id), BudgetFileError) << step;
                }
            }
            for (auto const* name : names) {
                std::optional<quint32> first;
                if (plain.count(t)) {
                    for (auto const& [id, named] : plain.at(t)) {
                        if (named == source(name)) {
                            first = id;
                            break;
                        }
                    }
                }
                if (first) {
                    ASSERT_EQ(identifierOfSource(map, t, source(name)), *first) << step;
                } else {
                    ASSERT_THROW((void)identifierOfSource(map, t, source(name)), BudgetFileError)
                        << step;
                }
            }
        }
    }
}

} // namespace
