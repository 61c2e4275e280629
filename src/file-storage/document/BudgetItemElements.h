#pragma once

#include "budgeting/Budgeting.h"
#include "file-storage/document/DocumentFormat.h"
#include "file-storage/document/TableElement.h"

#include <QDate>
#include <QString>
#include <QtGlobal>

#include <array>
#include <type_traits>
#include <vector>

// The budget items of the budget document (wages, bills, debts, goals and nontrack spending)
// and the five collections that hold them under the root.
//
// Every item is a leaf with one attribute per value, all of them required when read; "id"
// comes first. Reading takes the values from the attributes alone (the item's contents are
// skipped) and checks no more than each attribute's encoding, so an item read from a file may
// hold values that the value constructor refuses; the first missing or bad attribute throws,
// and the values read before it are kept. Writing throws AttributeError, after the attributes
// before it have been written, when nextOccurOn is not a valid date.
namespace zel::file_storage::internal {

// The kinds of item, in the order in which the document holds them and the procedures visit
// them.
enum class ItemKind : quint8 { wage, bill, debt, goal, nontrack };
inline constexpr std::array<ItemKind, 5> itemKinds{ItemKind::wage, ItemKind::bill, ItemKind::debt,
                                                   ItemKind::goal, ItemKind::nontrack};

// What differs between the kinds beside their attributes.
struct ItemKindForm {
    format::Element const& element;    // the item
    format::Element const& collection; // the collection that holds the kind's items
    budgeting::BudgetItemTypes type;
    // The value constructor's two checks and the load's refusal, translated when thrown, and
    // the store's debug record.
    char const* blankCurrency;
    char const* noAccount;
    char const* malformed;
    char const* fillRecord;
};

inline constexpr ItemKindForm itemKindForms[]{
    {format::elementAt(names::wages, names::wage),
     format::elementAt(names::application, names::wages), budgeting::BudgetItemTypes::wage,
     QT_TRANSLATE_NOOP("QObject", "The wage currency identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The wage account identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed wage data."),
     "Filling wage elements"},
    {format::elementAt(names::bills, names::bill),
     format::elementAt(names::application, names::bills), budgeting::BudgetItemTypes::bill,
     QT_TRANSLATE_NOOP("QObject", "The bill currency identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The bill account identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed bill data."),
     "Filling bill elements"},
    {format::elementAt(names::debts, names::debt),
     format::elementAt(names::application, names::debts), budgeting::BudgetItemTypes::debt,
     QT_TRANSLATE_NOOP("QObject", "The debt currency identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The debt account identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed debt data."),
     "Filling debt elements"},
    {format::elementAt(names::goals, names::goal),
     format::elementAt(names::application, names::goals), budgeting::BudgetItemTypes::goal,
     QT_TRANSLATE_NOOP("QObject", "The goal currency identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The goal account identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed goal data."),
     "Filling goal elements"},
    {format::elementAt(names::nontracks, names::nontrack),
     format::elementAt(names::application, names::nontracks), budgeting::BudgetItemTypes::nontrack,
     QT_TRANSLATE_NOOP("QObject", "The nontrack spending currency identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The nontrack account identifier cannot be zero."),
     QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed nontrack data."),
     "Filling discretionary elements"},
};

constexpr ItemKindForm const& formOf(ItemKind kind) {
    return itemKindForms[static_cast<std::size_t>(kind)];
}

// The domain class of the items of a budget's map of one kind (budgeting::Wage, ...).
template <class Map> using ItemOf = typename std::remove_cvref_t<Map>::Items::mapped_type;

// Calls f with the map of budget that holds the items of kind.
template <class Budget, class F> decltype(auto) withItems(Budget& budget, ItemKind kind, F&& f) {
    switch (kind) {
    case ItemKind::wage:
        return f(budget.wages());
    case ItemKind::bill:
        return f(budget.bills());
    case ItemKind::debt:
        return f(budget.debts());
    case ItemKind::goal:
        return f(budget.goals());
    case ItemKind::nontrack:
        return f(budget.nontracks());
    }
    Q_UNREACHABLE();
}

// The values of an item.
struct ItemValues {
    // The budgeted amount; a debt's borrowed total.
    qint64 major = 0;
    quint16 minor = 0;
    QString period;
    QString name;
    QString currency;
    // A debt's minimum payment (its budgeted amount) and a goal's final amount, in the item's
    // currency; 0 for the other kinds.
    qint64 otherMajor = 0;
    quint16 otherMinor = 0;
    // A debt's only; stored with six significant digits.
    double interest = 0.0;
    QDate nextOccurOn;
    quint32 accountId = 0;
};

// One item of one kind: its identifier, then its values.
struct ItemElement final : LeafElement<ItemElement, IndexedElement>, ItemValues {
    static constexpr bool logsWriting_ = true;

    ItemKind kind = ItemKind::wage;

    explicit ItemElement(ItemKind kind);
    // Throws BudgetFileError, in this order, for identifier 0, for a currency that is blank
    // once trimmed, and for account number 0; the values are taken unchanged.
    ItemElement(ItemKind kind, quint32 identifier, ItemValues const& values);

    format::Element const& form() const { return formOf(kind).element; }

private:
    // The members that hold the attributes of each kind: the budgeted amount, then those of a
    // debt or a goal, then the date and the account.
    static constexpr auto leadingFields() {
        return std::tuple{&ItemElement::identifier, &ItemElement::major, &ItemElement::minor,
                          &ItemElement::period,     &ItemElement::name,  &ItemElement::currency};
    }
    static constexpr auto trailingFields() {
        return std::tuple{&ItemElement::nextOccurOn, &ItemElement::accountId};
    }

public:
    static constexpr auto amountFields() {
        return std::tuple_cat(leadingFields(), trailingFields());
    }
    static constexpr auto debtFields() {
        return std::tuple_cat(
            leadingFields(),
            std::tuple{&ItemElement::otherMajor, &ItemElement::otherMinor, &ItemElement::interest},
            trailingFields());
    }
    static constexpr auto goalFields() {
        return std::tuple_cat(leadingFields(),
                              std::tuple{&ItemElement::otherMajor, &ItemElement::otherMinor},
                              trailingFields());
    }
    template <class F> decltype(auto) withFields(F&& f) const {
        switch (kind) {
        case ItemKind::debt:
            return f(debtFields());
        case ItemKind::goal:
            return f(goalFields());
        default:
            return f(amountFields());
        }
    }
};

// The collection of the items of one kind.
template <class Self, ItemKind Kind>
struct ItemsOfKind : ParentElement<Self, ItemElement, BasicElement, Kind> {
    static constexpr bool logsWriting_ = true;
    static constexpr format::Element const& form_ = formOf(Kind).collection;
};

struct WagesElement final : ItemsOfKind<WagesElement, ItemKind::wage> {
    std::vector<ItemElement> wages;
};
struct BillsElement final : ItemsOfKind<BillsElement, ItemKind::bill> {
    std::vector<ItemElement> bills;
};
struct DebtsElement final : ItemsOfKind<DebtsElement, ItemKind::debt> {
    std::vector<ItemElement> debts;
};
struct GoalsElement final : ItemsOfKind<GoalsElement, ItemKind::goal> {
    std::vector<ItemElement> goals;
};
struct DiscretionariesElement final : ItemsOfKind<DiscretionariesElement, ItemKind::nontrack> {
    std::vector<ItemElement> nontracks;
};

} // namespace zel::file_storage::internal
