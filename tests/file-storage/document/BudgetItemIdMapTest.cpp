// The map between the budget item identifiers and the budget sources of one document.
#include "file-storage/document/BudgetItemIdMap.h"
#include "file-storage/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace {

using zel::budgeting::BudgetItemTypes;
using zel::budgeting::BudgetSource;
using zel::file_storage::BudgetFileError;
using namespace zel::file_storage::internal;

// The map keeps a reverse index; whatever was recorded, in whatever order, both lookups must
// answer as the plain map walked in ascending identifier order does: recording an identifier
// again replaces its source, and a source of several identifiers gives the lowest.
TEST(BudgetItemIdMap, LookupsMatchAnAscendingWalkOfThePlainMap) {
    BudgetItemTypes const types[] = {BudgetItemTypes::wage, BudgetItemTypes::bill};
    QString const names[] = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    std::mt19937 random(20260301);
    auto pick = [&](int high) { return std::uniform_int_distribution<int>(0, high)(random); };
    BudgetItemIdMap map;
    std::map<BudgetItemTypes, std::map<quint32, QString>> plain;
    for (int step = 0; step < 3000; ++step) {
        auto const type = types[pick(1)];
        auto const identifier = static_cast<quint32>(1 + pick(7));
        auto const& recorded = names[pick(2)];
        recordItemIdentifier(map, type, identifier, BudgetSource(recorded));
        plain[type].insert_or_assign(identifier, recorded);
        for (auto const t : types) {
            auto const& kind = plain[t];
            for (quint32 id = 1; id <= 8; ++id) {
                if (kind.count(id) == 0) {
                    ASSERT_THROW(sourceOfIdentifier(map, t, id), BudgetFileError) << step;
                } else {
                    ASSERT_EQ(sourceOfIdentifier(map, t, id).name(), kind.at(id)) << step;
                }
            }
            for (auto const& name : names) {
                auto const lowest = std::find_if(kind.begin(), kind.end(), [&](auto const& entry) {
                    return entry.second == name;
                });
                if (lowest == kind.end()) {
                    ASSERT_THROW(identifierOfSource(map, t, BudgetSource(name)), BudgetFileError)
                        << step;
                } else {
                    ASSERT_EQ(identifierOfSource(map, t, BudgetSource(name)), lowest->first)
                        << step;
                }
            }
        }
    }
}

} // namespace
