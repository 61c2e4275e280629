#include "storage/Storage.h"

namespace zel::storage {

BudgetStorage::~BudgetStorage() = default;
ExchangeRatesStorage::~ExchangeRatesStorage() = default;

} // namespace zel::storage
