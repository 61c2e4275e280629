#pragma once

#include "zel/money/Currency.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <ratio>
#include <set>

namespace zel::conversion {

// How many units of the target currency one unit of a source currency buys. Ratios are
// ordered, and identified within a set, by their target currency alone.
class ConversionRatio {
public:
    ConversionRatio(orvalis::currency::Iso4217Codes const& code, orvalis::FloatingPoint ratio)
        : code_(code), ratio_(ratio) {}

    orvalis::currency::Iso4217Codes const& code() const { return code_; }
    orvalis::FloatingPoint const& ratio() const { return ratio_; }

    friend bool operator<(ConversionRatio const& a, ConversionRatio const& b) {
        return a.code_ < b.code_;
    }

private:
    orvalis::currency::Iso4217Codes code_;
    orvalis::FloatingPoint ratio_;
};

// System-clock time in ticks of 100 nanoseconds.
using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
using TimePoint = std::chrono::time_point<std::chrono::system_clock, Ticks>;

class ConversionMap {
public:
    using Ratios = std::map<orvalis::currency::Iso4217Codes, std::set<ConversionRatio>>;

    ConversionMap(TimePoint lastFetched, Ratios ratios);

    TimePoint const& lastFetched() const { return lastFetched_; }
    Ratios const& ratios() const { return ratios_; }
    Ratios::const_iterator begin() const { return ratios_.begin(); }
    Ratios::const_iterator end() const { return ratios_.end(); }

private:
    TimePoint lastFetched_;
    Ratios ratios_;
};

} // namespace zel::conversion
