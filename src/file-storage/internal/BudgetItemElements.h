#pragma once

#include "file-storage/internal/BasicElement.h"
#include "file-storage/internal/DocumentNames.h"

#include <QDate>
#include <QLatin1String>
#include <QString>
#include <QtGlobal>

#include <vector>

// The budget items of the budget document (wages, bills, debts, goals and nontrack spending)
// and the five collections that hold them under the root.
//
// Every item is a leaf with one attribute per value, all of them required when read; the "id"
// comes first. Reading takes the item's values from its attributes alone (its contents are
// skipped) and checks no more than each attribute's encoding, so an item read from a file may
// hold values that the value constructor refuses. Writing throws AttributeError, after the
// attributes before it have been written, when nextOccurOn is not a valid date.
//
// The kinds share one implementation; they differ only in their tag, their values, the orders
// in which their attributes are read and written, and the messages of their value checks.
namespace zel::file_storage::internal {

// What the five kinds of item share: the tag of Item, reading and writing through Item's
// attribute orders, and the checks of the value constructors.
template <class Item> struct BudgetItemElement : IndexedElement {
    QLatin1String const& tagName() const override;
    // Checks the start tag, reads "id", then Item's attributes in its read order; the first
    // missing or bad attribute throws, and the values read before it are kept.
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;

protected:
    BudgetItemElement() = default;
    // Throws BudgetFileError, in this order, for identifier 0, for a currency that is blank
    // once trimmed, and for account number 0.
    BudgetItemElement(quint32 identifier, QString const& currency, quint32 accountId);
};

// The values of the items that hold one budgeted amount: wages, bills and nontrack spending.
template <class Item> struct AmountItemElement : BudgetItemElement<Item> {
    qint64 major = 0;
    quint16 minor = 0;
    QString period;
    QString name;
    QString currency;
    QDate nextOccurOn;
    quint32 accountId = 0;

    AmountItemElement() = default;
    AmountItemElement(quint32 identifier, qint64 major, quint16 minor, QString const& period,
                      QString const& name, QString const& currency, QDate const& nextOccurOn,
                      quint32 const& accountId);
};

struct WageElement final : AmountItemElement<WageElement> {
    static constexpr QLatin1String tag_ = names::wage;
    using AmountItemElement::AmountItemElement;
};

struct BillElement final : AmountItemElement<BillElement> {
    static constexpr QLatin1String tag_ = names::bill;
    using AmountItemElement::AmountItemElement;
};

struct DiscretionaryElement final : AmountItemElement<DiscretionaryElement> {
    static constexpr QLatin1String tag_ = names::nontrack;
    using AmountItemElement::AmountItemElement;
};

// A debt: the borrowed total and the minimum payment, both in currency.
struct DebtElement final : BudgetItemElement<DebtElement> {
    static constexpr QLatin1String tag_ = names::debt;

    qint64 totalMajor = 0;
    quint16 totalMinor = 0;
    QString period;
    QString name;
    QString currency;
    qint64 minimumMajor = 0;
    quint16 minimumMinor = 0;
    // Stored with six significant digits.
    double interest = 0.0;
    QDate nextOccurOn;
    quint32 accountId = 0;

    DebtElement() = default;
    DebtElement(quint32 identifier, qint64 totalMajor, quint16 totalMinor, QString const& period,
                QString const& name, QString const& currency, qint64 minimumMajor,
                quint16 minimumMinor, double interest, QDate const& nextOccurOn,
                quint32 const& accountId);
};

// A goal: the budgeted amount and the final amount, both in currency.
struct GoalElement final : BudgetItemElement<GoalElement> {
    static constexpr QLatin1String tag_ = names::goal;

    qint64 major = 0;
    quint16 minor = 0;
    QString period;
    QString name;
    QString currency;
    qint64 finalMajor = 0;
    quint16 finalMinor = 0;
    QDate nextOccurOn;
    quint32 accountId = 0;

    GoalElement() = default;
    GoalElement(quint32 identifier, qint64 major, quint16 minor, QString const& period,
                QString const& name, QString const& currency, qint64 finalMajor, quint16 finalMinor,
                QDate const& nextOccurOn, quint32 const& accountId);
};

// What the five collections share: they have no attributes and hold their items in document
// order. read() stops, without error, at the first child that is not an Item and leaves the
// reader on its start tag. An empty collection is written as an empty element.
template <class Collection, class Item> struct BudgetItemsElement : BasicElement {
    QLatin1String const& tagName() const override;
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

struct WagesElement final : BudgetItemsElement<WagesElement, WageElement> {
    static constexpr QLatin1String tag_ = names::wages;
    std::vector<WageElement> wages;
};

struct BillsElement final : BudgetItemsElement<BillsElement, BillElement> {
    static constexpr QLatin1String tag_ = names::bills;
    std::vector<BillElement> bills;
};

struct DebtsElement final : BudgetItemsElement<DebtsElement, DebtElement> {
    static constexpr QLatin1String tag_ = names::debts;
    std::vector<DebtElement> debts;
};

struct GoalsElement final : BudgetItemsElement<GoalsElement, GoalElement> {
    static constexpr QLatin1String tag_ = names::goals;
    std::vector<GoalElement> goals;
};

struct DiscretionariesElement final
    : BudgetItemsElement<DiscretionariesElement, DiscretionaryElement> {
    static constexpr QLatin1String tag_ = names::nontracks;
    std::vector<DiscretionaryElement> nontracks;
};

// The shared parts are compiled once, with the element classes' source.
extern template struct BudgetItemElement<WageElement>;
extern template struct BudgetItemElement<BillElement>;
extern template struct BudgetItemElement<DiscretionaryElement>;
extern template struct BudgetItemElement<DebtElement>;
extern template struct BudgetItemElement<GoalElement>;
extern template struct AmountItemElement<WageElement>;
extern template struct AmountItemElement<BillElement>;
extern template struct AmountItemElement<DiscretionaryElement>;
extern template struct BudgetItemsElement<WagesElement, WageElement>;
extern template struct BudgetItemsElement<BillsElement, BillElement>;
extern template struct BudgetItemsElement<DebtsElement, DebtElement>;
extern template struct BudgetItemsElement<GoalsElement, GoalElement>;
extern template struct BudgetItemsElement<DiscretionariesElement, DiscretionaryElement>;

} // namespace zel::file_storage::internal
