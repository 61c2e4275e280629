#pragma once

#include "budgeting/Budgeting.h"
#include "file-storage/document/BasicElement.h"
#include "file-storage/document/DocumentFormat.h"

#include <QDate>
#include <QString>
#include <QtGlobal>

#include <array>
#include <vector>

// The budget items of the budget document (wages, bills, debts, goals and nontrack spending)
// and the five collections that hold them under the root.
//
// Every item is a leaf with one attribute per value, all of them required when read; "id"
// comes first. An item reads and writes its attributes as its element in format::elements
// lists them. Reading takes the values from the attributes alone (the item's contents are
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

ItemKindForm const& formOf(ItemKind kind);

// The values of an item, each held by the member that format::ItemMember names.
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
struct ItemElement final : IndexedElement, ItemValues {
    ItemKind kind = ItemKind::wage;

    explicit ItemElement(ItemKind kind);
    // Throws BudgetFileError, in this order, for identifier 0, for a currency that is blank
    // once trimmed, and for account number 0; the values are taken unchanged.
    ItemElement(ItemKind kind, quint32 identifier, ItemValues const& values);

    QLatin1String const& tagName() const override;
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

// The items of one kind, in document order. read() stops, without error, at the first child
// that is not one of its items and leaves the reader on its start tag. An empty collection is
// written as an empty element.
struct ItemsElement final : BasicElement {
    ItemKind kind;
    std::vector<ItemElement> items;

    explicit ItemsElement(ItemKind kind);

    QLatin1String const& tagName() const override;
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

} // namespace zel::file_storage::internal
