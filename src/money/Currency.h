#pragma once

#include <compare>
#include <cstdint>
#include <span>
#include <string>

namespace orvalis {

namespace currency {

// The active ISO 4217 currency codes.
enum class Iso4217Codes : std::uint16_t {
#define ORVALIS_CURRENCY(code) code,
#include "zel/money/Iso4217CodeList.h"
#undef ORVALIS_CURRENCY
};

// Every active code, in alphabetical order of its text.
std::span<Iso4217Codes const> allIso4217Codes();

// The code's three capital letters.
std::string toStdString(Iso4217Codes const& code);

// The code named by exactly three capital letters; throws zel::foundation::Error naming the
// text for anything that is not an active code.
Iso4217Codes toIso4217Code(std::string const& text);

// An amount of money: whole major units, minor units and the currency.
class Money {
public:
    Money(std::int64_t const& major, std::uint16_t const& minor, Iso4217Codes const& code)
        : major_(major), minor_(minor), code_(code) {}

    std::int64_t major() const { return major_; }
    std::uint16_t minor() const { return minor_; }
    Iso4217Codes const& code() const { return code_; }

    friend bool operator==(Money const&, Money const&) = default;

private:
    std::int64_t major_;
    std::uint16_t minor_;
    Iso4217Codes code_;
};

} // namespace currency

// A floating-point quantity such as an exchange ratio.
class FloatingPoint {
public:
    explicit FloatingPoint(double const& value) : value_(value) {}
    double const& underlying() const { return value_; }
    friend auto operator<=>(FloatingPoint const&, FloatingPoint const&) = default;

private:
    double value_;
};

} // namespace orvalis
