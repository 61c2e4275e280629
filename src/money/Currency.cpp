#include "money/Currency.h"

#include "foundation/Error.h"

#include <QObject>
#include <QString>

#include <algorithm>
#include <array>
#include <string_view>

namespace orvalis::currency {

namespace {

constexpr std::array codeTexts{
#define ORVALIS_CURRENCY(code) std::string_view(#code),
#include "money/Iso4217CodeList.h"
#undef ORVALIS_CURRENCY
};

constexpr std::array codes{
#define ORVALIS_CURRENCY(code) Iso4217Codes::code,
#include "money/Iso4217CodeList.h"
#undef ORVALIS_CURRENCY
};

static_assert(std::is_sorted(codeTexts.begin(), codeTexts.end()),
              "the currency list must stay alphabetical for the look-up by text");

} // namespace

std::span<Iso4217Codes const> allIso4217Codes() {
    return codes;
}

std::string toStdString(Iso4217Codes const& code) {
    auto const index = static_cast<std::size_t>(code);
    if (index >= codeTexts.size()) {
        throw zel::foundation::Error(
            QObject::tr("The currency value %1 is not an ISO 4217 code.").arg(index),
            std::exception());
    }
    return std::string(codeTexts[index]);
}

Iso4217Codes toIso4217Code(std::string const& text) {
    auto const found = std::lower_bound(codeTexts.begin(), codeTexts.end(), text);
    if (found == codeTexts.end() || *found != text) {
        throw zel::foundation::Error(
            QObject::tr("The text '%1' is not an active ISO 4217 currency code.")
                .arg(QString::fromStdString(text)),
            std::exception());
    }
    return codes[static_cast<std::size_t>(found - codeTexts.begin())];
}

} // namespace orvalis::currency
