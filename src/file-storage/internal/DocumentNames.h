#pragma once

#include <QLatin1String>

// The tags and attribute names of the budget document.
//
// FROZEN: every stored budget file is written with these names. Changing one makes existing
// files unreadable; add new names instead.
//
// So is the shape they make: elements nest four deep at most (the root, a collection, a ledger
// and its transactions), and no element has more than eleven attributes (a debt's). A load holds
// a document to bounds well above both, BoundedDocumentDevice::deepestNesting_ (32 levels) and
// mostAttributes_ (64 attributes), which leave room for what a later revision adds.
namespace zel::file_storage::internal::names {

// Element tags.
inline constexpr QLatin1String application{"KelvoraMindrath"};
inline constexpr QLatin1String wages{"wages"};
inline constexpr QLatin1String wage{"wage"};
inline constexpr QLatin1String bills{"bills"};
inline constexpr QLatin1String bill{"bill"};
inline constexpr QLatin1String debts{"debts"};
inline constexpr QLatin1String debt{"debt"};
inline constexpr QLatin1String goals{"goals"};
inline constexpr QLatin1String goal{"goal"};
inline constexpr QLatin1String nontracks{"nontracks"};
inline constexpr QLatin1String nontrack{"nontrack"};
inline constexpr QLatin1String accounts{"accounts"};
inline constexpr QLatin1String account{"account"};
inline constexpr QLatin1String ledgers{"ledgers"};
inline constexpr QLatin1String ledger{"ledger"};
inline constexpr QLatin1String transaction{"transaction"};
inline constexpr QLatin1String banks{"banks"};
inline constexpr QLatin1String bank{"bank"};
inline constexpr QLatin1String reconciliations{"reconciliations"};
inline constexpr QLatin1String reconciliation{"reconciliation"};
inline constexpr QLatin1String distribution{"distribution"};

// Attribute names.
namespace attributes {
inline constexpr QLatin1String revision{"revision"};
inline constexpr QLatin1String id{"id"};
inline constexpr QLatin1String major{"major"};
inline constexpr QLatin1String minor{"minor"};
inline constexpr QLatin1String period{"period"};
inline constexpr QLatin1String name{"name"};
inline constexpr QLatin1String currency{"currency"};
inline constexpr QLatin1String nextOccurOn{"nextOccurOn"};
inline constexpr QLatin1String accountId{"accountId"};
inline constexpr QLatin1String totalMajor{"totalMajor"};
inline constexpr QLatin1String totalMinor{"totalMinor"};
inline constexpr QLatin1String minimumMajor{"minimumMajor"};
inline constexpr QLatin1String minimumMinor{"minimumMinor"};
inline constexpr QLatin1String interest{"interest"};
inline constexpr QLatin1String finalMajor{"finalMajor"};
inline constexpr QLatin1String finalMinor{"finalMinor"};
inline constexpr QLatin1String type{"type"};
inline constexpr QLatin1String closed{"closed"};
inline constexpr QLatin1String parentId{"parentId"};
inline constexpr QLatin1String openingAccountId{"openingAccountId"};
inline constexpr QLatin1String date{"date"};
inline constexpr QLatin1String entry{"entry"};
inline constexpr QLatin1String status{"status"};
inline constexpr QLatin1String account{"account"};
inline constexpr QLatin1String checksum{"checksum"};
} // namespace attributes

} // namespace zel::file_storage::internal::names
