#include "banking/Banking.h"

#include "foundation/EnumTexts.h"

namespace zel::banking {

namespace {

constexpr foundation::EnumTexts<SupportedAccountTypes, 5> accountTypeTexts{
    "bank account type",
    {{{SupportedAccountTypes::checking, "Checking"},
      {SupportedAccountTypes::savings, "Savings"},
      {SupportedAccountTypes::creditCard, "Credit Card"},
      {SupportedAccountTypes::loan, "Loan"},
      {SupportedAccountTypes::investment, "Investment"}}}};

} // namespace

SupportedAccountTypes toSupportedAccountTypes(QString const& text) {
    return accountTypeTexts.value(text);
}

QString presentationText(SupportedAccountTypes const& type) {
    return accountTypeTexts.text(type);
}

} // namespace zel::banking
