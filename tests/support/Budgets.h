#pragma once

#include "storage/Storage.h"

#include <cstdint>
#include <string>

// Budgets for tests, and a deep comparison of two budget states.
namespace zel::testing {

// A small budget with every kind of value: all five item kinds (two wages, so identifiers
// count per kind), accounts with and without parents, ledgers with transactions on both
// sides, an opening account, two banks, and reconciliations with distributions, one with a
// date and a checksum and one without. It is the one that tests/data/documents/canonical/
// small-full.xml holds, and small-full.state describes.
storage::BudgetState smallFullBudget();

// An empty budget: no items, accounts, banks or reconciliations.
storage::BudgetState emptyBudget();

// A budget drawn at random from seed: any number of every kind of value, with texts that
// include blanks, markup characters and characters beyond Latin-1, and all cross-references
// valid. The same seed gives the same budget.
storage::BudgetState randomBudget(std::uint32_t seed);

// Writes every value of a state in a fixed order, one per line: two states that hold the same
// values give the same text. Interests are shown with six significant digits, as stored.
std::string describe(storage::BudgetState const& state);

} // namespace zel::testing
