#include "budgeting/Budgeting.h"

#include "foundation/EnumTexts.h"

namespace zel::budgeting {

namespace {

constexpr foundation::EnumTexts<EventFrequency, 8> frequencyTexts{
    "event frequency",
    {{{EventFrequency::once, "Once"},
      {EventFrequency::daily, "Daily"},
      {EventFrequency::weekly, "Weekly"},
      {EventFrequency::fortnightly, "Fortnightly"},
      {EventFrequency::monthly, "Monthly"},
      {EventFrequency::quarterly, "Quarterly"},
      {EventFrequency::semiAnnually, "Semi-annually"},
      {EventFrequency::annually, "Annually"}}}};

// The stored texts of the item kinds.
constexpr foundation::EnumTexts<BudgetItemTypes, 5> itemTypeWeakTexts{
    "budget item type",
    {{{BudgetItemTypes::bill, "bill"},
      {BudgetItemTypes::debt, "debt"},
      {BudgetItemTypes::goal, "goal"},
      {BudgetItemTypes::nontrack, "nontrack"},
      {BudgetItemTypes::wage, "wage"}}}};

constexpr foundation::EnumTexts<BudgetItemTypes, 5> itemTypeDisplayTexts{
    "budget item type",
    {{{BudgetItemTypes::bill, "Bill"},
      {BudgetItemTypes::debt, "Debt"},
      {BudgetItemTypes::goal, "Goal"},
      {BudgetItemTypes::nontrack, "Nontrack"},
      {BudgetItemTypes::wage, "Wage"}}}};

} // namespace

QString presentationText(BudgetSource const& source) {
    return source.name();
}

EventFrequency toEventFrequency(QString const& text) {
    return frequencyTexts.value(text);
}
QString presentationText(EventFrequency const& frequency) {
    return frequencyTexts.text(frequency);
}

BudgetItemTypes toBudgetItemTypes(QString const& text) {
    return itemTypeWeakTexts.value(text);
}
QString toWeak(BudgetItemTypes const& type) {
    return itemTypeWeakTexts.text(type);
}
QString presentationText(BudgetItemTypes const& type) {
    return itemTypeDisplayTexts.text(type);
}

} // namespace zel::budgeting
