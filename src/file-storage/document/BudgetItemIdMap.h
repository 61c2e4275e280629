#pragma once

#include "budgeting/Budgeting.h"

#include <QtGlobal>

#include <map>
#include <set>

namespace zel::file_storage::internal {

// Which budget item each (kind, identifier) pair of one document names. Distributions of
// reconciliations name budget items this way; identifiers are only unique within a kind.
//
// Besides the map from identifier to source it keeps, per kind and source, the identifiers
// that name the source, so that finding a source's first (lowest) identifier does not walk
// the whole kind.
struct BudgetItemIdMap {
    std::map<budgeting::BudgetItemTypes, std::map<quint32, budgeting::BudgetSource>> sources;
    std::map<budgeting::BudgetItemTypes, std::map<budgeting::BudgetSource, std::set<quint32>>>
        identifiers;
};

// Sets (kind, identifier) to name source, replacing what it named before.
void recordItemIdentifier(BudgetItemIdMap& map, budgeting::BudgetItemTypes type, quint32 identifier,
                          budgeting::BudgetSource const& source);

// The source that (kind, identifier) names. Throws BudgetFileError when there is none.
budgeting::BudgetSource const&
sourceOfIdentifier(BudgetItemIdMap const& map, budgeting::BudgetItemTypes type, quint32 identifier);

// The lowest identifier of the kind that names source. Throws BudgetFileError when there is
// none.
quint32 identifierOfSource(BudgetItemIdMap const& map, budgeting::BudgetItemTypes type,
                           budgeting::BudgetSource const& source);

} // namespace zel::file_storage::internal
