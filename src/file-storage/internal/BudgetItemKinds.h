#pragma once

#include "budgeting/Budgeting.h"
#include "file-storage/internal/BudgetItemElements.h"
#include "file-storage/internal/StoredTexts.h"

#include <QObject>

#include <tuple>

// What differs between the five kinds of budget item when they are turned from domain items
// into elements and back; the load and store procedures are written once over these.
namespace zel::file_storage::internal {

template <class Element> struct ItemKind;

// Wages, bills and nontrack spending share one shape: an amount, a period and a date.
template <class ElementT, class CollectionT, class ItemT, budgeting::BudgetItemTypes Type,
          auto Elements>
struct PlainItemKind {
    using Element = ElementT;
    using Collection = CollectionT;
    using Item = ItemT;
    static constexpr budgeting::BudgetItemTypes type = Type;

    static auto& elements(Collection& collection) { return collection.*Elements; }
    static auto const& elements(Collection const& collection) { return collection.*Elements; }
    static Item toItem(Element const& e, budgeting::BudgetSource const& source,
                       orvalis::currency::Iso4217Codes code, budgeting::EventFrequency period) {
        return Item(source, orvalis::currency::Money(e.major, e.minor, code), period,
                    e.nextOccurOn);
    }

    static Element toElement(quint32 identifier, Item const& item, quint32 account) {
        return Element(identifier, item.amount().major(), item.amount().minor(),
                       budgeting::presentationText(item.period()), item.source().name(),
                       currencyText(item.amount()), item.nextOccurOn(), account);
    }
};

template <>
struct ItemKind<WageElement>
    : PlainItemKind<WageElement, WagesElement, budgeting::Wage, budgeting::BudgetItemTypes::wage,
                    &WagesElement::wages> {
    static auto& items(budgeting::Budget& budget) { return budget.wages(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.wages(); }
    static QString malformed() {
        return QObject::tr("The budget file contains malformed wage data.");
    }
    static constexpr char const* fillRecord = "Filling wage elements";
};

template <>
struct ItemKind<BillElement>
    : PlainItemKind<BillElement, BillsElement, budgeting::Bill, budgeting::BudgetItemTypes::bill,
                    &BillsElement::bills> {
    static auto& items(budgeting::Budget& budget) { return budget.bills(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.bills(); }
    static QString malformed() {
        return QObject::tr("The budget file contains malformed bill data.");
    }
    static constexpr char const* fillRecord = "Filling bill elements";
};

template <>
struct ItemKind<DiscretionaryElement>
    : PlainItemKind<DiscretionaryElement, DiscretionariesElement, budgeting::Nontrack,
                    budgeting::BudgetItemTypes::nontrack, &DiscretionariesElement::nontracks> {
    static auto& items(budgeting::Budget& budget) { return budget.nontracks(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.nontracks(); }
    static QString malformed() {
        return QObject::tr("The budget file contains malformed nontrack data.");
    }
    static constexpr char const* fillRecord = "Filling discretionary elements";
};

template <> struct ItemKind<GoalElement> {
    using Element = GoalElement;
    using Collection = GoalsElement;
    using Item = budgeting::Goal;
    static constexpr budgeting::BudgetItemTypes type = budgeting::BudgetItemTypes::goal;
    static constexpr char const* fillRecord = "Filling goal elements";

    static auto& elements(Collection& collection) { return collection.goals; }
    static auto const& elements(Collection const& collection) { return collection.goals; }
    static auto& items(budgeting::Budget& budget) { return budget.goals(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.goals(); }
    static QString malformed() {
        return QObject::tr("The budget file contains malformed goal data.");
    }

    static Item toItem(Element const& e, budgeting::BudgetSource const& source,
                       orvalis::currency::Iso4217Codes code, budgeting::EventFrequency period) {
        return Item(source, orvalis::currency::Money(e.major, e.minor, code), period, e.nextOccurOn,
                    orvalis::currency::Money(e.finalMajor, e.finalMinor, code));
    }

    static Element toElement(quint32 identifier, Item const& item, quint32 account) {
        return Element(identifier, item.amount().major(), item.amount().minor(),
                       budgeting::presentationText(item.period()), item.source().name(),
                       currencyText(item.amount()), item.final().major(), item.final().minor(),
                       item.nextOccurOn(), account);
    }
};

template <> struct ItemKind<DebtElement> {
    using Element = DebtElement;
    using Collection = DebtsElement;
    using Item = budgeting::Debt;
    static constexpr budgeting::BudgetItemTypes type = budgeting::BudgetItemTypes::debt;
    static constexpr char const* fillRecord = "Filling debt elements";

    static auto& elements(Collection& collection) { return collection.debts; }
    static auto const& elements(Collection const& collection) { return collection.debts; }
    static auto& items(budgeting::Budget& budget) { return budget.debts(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.debts(); }
    static QString malformed() {
        return QObject::tr("The budget file contains malformed debt data.");
    }

    // The minimum payment is the debt's budgeted amount; the borrowed total shares its currency.
    static Item toItem(Element const& e, budgeting::BudgetSource const& source,
                       orvalis::currency::Iso4217Codes code, budgeting::EventFrequency period) {
        return Item(source, orvalis::currency::Money(e.minimumMajor, e.minimumMinor, code), period,
                    e.nextOccurOn, orvalis::currency::Money(e.totalMajor, e.totalMinor, code),
                    budgeting::Percentage{e.interest});
    }

    static Element toElement(quint32 identifier, Item const& item, quint32 account) {
        return Element(identifier, item.borrowed().major(), item.borrowed().minor(),
                       budgeting::presentationText(item.period()), item.source().name(),
                       currencyText(item.amount()), item.amount().major(), item.amount().minor(),
                       item.interest().value, item.nextOccurOn(), account);
    }
};

// The kinds in the order in which the document holds and the procedures visit them.
using ItemKinds = std::tuple<ItemKind<WageElement>, ItemKind<BillElement>, ItemKind<DebtElement>,
                             ItemKind<GoalElement>, ItemKind<DiscretionaryElement>>;

// Calls visit(kind) for each kind in document order.
template <class Visit> void forEachItemKind(Visit&& visit) {
    std::apply([&](auto... kinds) { (visit(kinds), ...); }, ItemKinds{});
}

} // namespace zel::file_storage::internal
