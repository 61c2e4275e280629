#include "conversion/Conversion.h"

namespace zel::conversion {

ConversionMap::ConversionMap(TimePoint lastFetched, Ratios ratios)
    : lastFetched_(lastFetched), ratios_(std::move(ratios)) {}

} // namespace zel::conversion
