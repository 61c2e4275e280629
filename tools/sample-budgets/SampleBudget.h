#pragma once

#include "storage/Storage.h"

#include <cstdint>

namespace zel::sample {

// A realistic personal budget, made up from a seed: accounts of every type under parent
// accounts, a year or more of dated transactions on both sides with statuses and descriptions,
// all five kinds of budget item in several currencies, banks holding accounts, and
// reconciliations with distributions over budget items.
//
// Everything grows with the number of transactions: more of them bring more expense accounts,
// budget items, banks and reconciliations. The same transactions count and seed give the same
// budget on every run and platform; every cross-reference in it is valid, so the library
// stores it and loads it back unchanged. The ledger holds exactly `transactions` transactions,
// its opening balances among them.
storage::BudgetState sampleBudget(std::uint32_t transactions, std::uint32_t seed);

} // namespace zel::sample
