#pragma once

#include "accounting/Accounting.h"
#include "money/Currency.h"

#include <QString>

// The texts under which domain values that recur in every transaction are stored. Each text
// is made once per process and shared, rather than made again for every value written.
namespace zel::file_storage::internal {

QString currencyText(orvalis::currency::Money const& money);
QString statusText(accounting::TransactionStatuses status);

} // namespace zel::file_storage::internal
