#include "file-storage/internal/BudgetItemElements.h"

#include "file-storage/internal/AttributeCodecs.h"

#include <QObject>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <type_traits>
#include <variant>

namespace zel::file_storage::internal {

namespace {

namespace attr = names::attributes;

// One attribute of an item: its name and the member that holds its value. The member's type
// picks the codec.
template <class Item> struct ItemAttribute {
    QLatin1String name;
    std::variant<qint64 Item::*, quint16 Item::*, quint32 Item::*, double Item::*, QString Item::*,
                 QDate Item::*>
        member;
};

// Takes members declared in a base of Item as members of Item.
template <class Item, class Value, class Owner>
constexpr ItemAttribute<Item> attribute(QLatin1String name, Value Owner::*member) {
    return {name, static_cast<Value Item::*>(member)};
}

template <class Value> Value readValue(QXmlStreamReader& reader, QLatin1String const& name) {
    if constexpr (std::is_same_v<Value, QString>) {
        return readRequiredAttribute(reader, name);
    } else if constexpr (std::is_same_v<Value, QDate>) {
        return readDateAttribute(reader, name);
    } else {
        return readNumericAttribute<Value>(reader, name);
    }
}

template <class Value>
void writeValue(QXmlStreamWriter& writer, QLatin1String const& tag, QLatin1String const& name,
                Value const& value) {
    if constexpr (std::is_same_v<Value, QString>) {
        writeTextAttribute(writer, name, value);
    } else if constexpr (std::is_same_v<Value, QDate>) {
        writeDateAttribute(writer, tag, name, value);
    } else {
        writeNumericAttribute(writer, name, value);
    }
}

// The same attributes in another order, given by their names; every name must be one of
// theirs, which the compiler checks.
template <class Item, std::size_t size>
constexpr std::array<ItemAttribute<Item>, size>
reordered(std::array<ItemAttribute<Item>, size> const& attributes,
          std::array<QLatin1String, size> const& names) {
    auto const text = [](QLatin1String name) {
        return std::string_view(name.latin1(), name.size());
    };
    std::array<ItemAttribute<Item>, size> result{};
    for (std::size_t i = 0; i < size; ++i) {
        result[i] = *std::find_if(attributes.begin(), attributes.end(), [&](auto const& attribute) {
            return text(attribute.name) == text(names[i]);
        });
    }
    return result;
}

// An attribute whose name is that of its member; the kinds' tables below are written in it.
#define ZEL_ITEM_ATTRIBUTE(member) attribute<Item>(attr::member, &Item::member)

// The texts of the value constructor's checks, translated when thrown.
struct ValueMessages {
    char const* currency;
    char const* account;
};

// Each kind's attributes after "id", in the order in which they are written and in the order
// in which they are read (which decides the fault reported for a file with several), and the
// texts of its value checks.
template <class Item> struct ItemTraits;

template <class Item> struct AmountItemAttributes {
    static constexpr std::array write{ZEL_ITEM_ATTRIBUTE(major),    ZEL_ITEM_ATTRIBUTE(minor),
                                      ZEL_ITEM_ATTRIBUTE(period),   ZEL_ITEM_ATTRIBUTE(name),
                                      ZEL_ITEM_ATTRIBUTE(currency), ZEL_ITEM_ATTRIBUTE(nextOccurOn),
                                      ZEL_ITEM_ATTRIBUTE(accountId)};
    static constexpr auto read =
        reordered(write, {attr::major, attr::minor, attr::name, attr::currency, attr::period,
                          attr::nextOccurOn, attr::accountId});
};

template <> struct ItemTraits<WageElement> : AmountItemAttributes<WageElement> {
    static constexpr ValueMessages messages{
        QT_TRANSLATE_NOOP("QObject", "The wage currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The wage account identifier cannot be zero.")};
};

template <> struct ItemTraits<BillElement> : AmountItemAttributes<BillElement> {
    static constexpr ValueMessages messages{
        QT_TRANSLATE_NOOP("QObject", "The bill currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The bill account identifier cannot be zero.")};
};

template <> struct ItemTraits<DiscretionaryElement> : AmountItemAttributes<DiscretionaryElement> {
    static constexpr ValueMessages messages{
        QT_TRANSLATE_NOOP("QObject", "The nontrack spending currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The nontrack account identifier cannot be zero.")};
};

template <> struct ItemTraits<DebtElement> {
    using Item = DebtElement;
    static constexpr std::array write{
        ZEL_ITEM_ATTRIBUTE(totalMajor),   ZEL_ITEM_ATTRIBUTE(totalMinor),
        ZEL_ITEM_ATTRIBUTE(period),       ZEL_ITEM_ATTRIBUTE(name),
        ZEL_ITEM_ATTRIBUTE(currency),     ZEL_ITEM_ATTRIBUTE(minimumMajor),
        ZEL_ITEM_ATTRIBUTE(minimumMinor), ZEL_ITEM_ATTRIBUTE(interest),
        ZEL_ITEM_ATTRIBUTE(nextOccurOn),  ZEL_ITEM_ATTRIBUTE(accountId)};
    static constexpr auto read = write;
    static constexpr ValueMessages messages{
        QT_TRANSLATE_NOOP("QObject", "The debt currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The debt account identifier cannot be zero.")};
};

template <> struct ItemTraits<GoalElement> {
    using Item = GoalElement;
    static constexpr std::array write{
        ZEL_ITEM_ATTRIBUTE(major),      ZEL_ITEM_ATTRIBUTE(minor),
        ZEL_ITEM_ATTRIBUTE(period),     ZEL_ITEM_ATTRIBUTE(name),
        ZEL_ITEM_ATTRIBUTE(currency),   ZEL_ITEM_ATTRIBUTE(finalMajor),
        ZEL_ITEM_ATTRIBUTE(finalMinor), ZEL_ITEM_ATTRIBUTE(nextOccurOn),
        ZEL_ITEM_ATTRIBUTE(accountId)};
    static constexpr auto read =
        reordered(write, {attr::major, attr::minor, attr::name, attr::currency, attr::period,
                          attr::finalMajor, attr::finalMinor, attr::nextOccurOn, attr::accountId});
    static constexpr ValueMessages messages{
        QT_TRANSLATE_NOOP("QObject", "The goal currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The goal account identifier cannot be zero.")};
};

#undef ZEL_ITEM_ATTRIBUTE

// Where each collection keeps its items.
template <class Collection> struct CollectionItems;
template <> struct CollectionItems<WagesElement> {
    static constexpr auto member = &WagesElement::wages;
};
template <> struct CollectionItems<BillsElement> {
    static constexpr auto member = &BillsElement::bills;
};
template <> struct CollectionItems<DebtsElement> {
    static constexpr auto member = &DebtsElement::debts;
};
template <> struct CollectionItems<GoalsElement> {
    static constexpr auto member = &GoalsElement::goals;
};
template <> struct CollectionItems<DiscretionariesElement> {
    static constexpr auto member = &DiscretionariesElement::nontracks;
};

} // namespace

template <class Item> QLatin1String const& BudgetItemElement<Item>::tagName() const {
    return Item::tag_;
}

template <class Item> void BudgetItemElement<Item>::read(QXmlStreamReader& reader) {
    beginRead(reader, Item::tag_);
    this->readIdentifier(reader);
    auto& item = static_cast<Item&>(*this);
    for (auto const& attribute : ItemTraits<Item>::read) {
        std::visit(
            [&](auto member) {
                using Value = std::remove_cvref_t<decltype(item.*member)>;
                item.*member = readValue<Value>(reader, attribute.name);
            },
            attribute.member);
    }
    reader.skipCurrentElement();
}

template <class Item> void BudgetItemElement<Item>::write(QXmlStreamWriter& writer) const {
    logWriting(Item::tag_);
    startElement(writer, Item::tag_);
    this->writeIdentifier(writer);
    auto const& item = static_cast<Item const&>(*this);
    for (auto const& attribute : ItemTraits<Item>::write) {
        std::visit(
            [&](auto member) { writeValue(writer, Item::tag_, attribute.name, item.*member); },
            attribute.member);
    }
    writer.writeEndElement();
}

template <class Item>
BudgetItemElement<Item>::BudgetItemElement(quint32 itemIdentifier, QString const& itemCurrency,
                                           quint32 account)
    : IndexedElement(itemIdentifier) {
    if (itemCurrency.trimmed().isEmpty()) {
        throw contentError(QObject::tr(ItemTraits<Item>::messages.currency));
    }
    if (account == 0) {
        throw contentError(QObject::tr(ItemTraits<Item>::messages.account));
    }
}

template <class Item>
AmountItemElement<Item>::AmountItemElement(quint32 itemIdentifier, qint64 amountMajor,
                                           quint16 amountMinor, QString const& itemPeriod,
                                           QString const& itemName, QString const& itemCurrency,
                                           QDate const& nextOccurrence, quint32 const& account)
    : BudgetItemElement<Item>(itemIdentifier, itemCurrency, account), major{amountMajor},
      minor{amountMinor}, period{itemPeriod}, name{itemName}, currency{itemCurrency},
      nextOccurOn{nextOccurrence}, accountId{account} {}

DebtElement::DebtElement(quint32 itemIdentifier, qint64 borrowedMajor, quint16 borrowedMinor,
                         QString const& itemPeriod, QString const& itemName,
                         QString const& itemCurrency, qint64 paymentMajor, quint16 paymentMinor,
                         double rate, QDate const& nextOccurrence, quint32 const& account)
    : BudgetItemElement(itemIdentifier, itemCurrency, account), totalMajor{borrowedMajor},
      totalMinor{borrowedMinor}, period{itemPeriod}, name{itemName}, currency{itemCurrency},
      minimumMajor{paymentMajor}, minimumMinor{paymentMinor}, interest{rate},
      nextOccurOn{nextOccurrence}, accountId{account} {}

GoalElement::GoalElement(quint32 itemIdentifier, qint64 amountMajor, quint16 amountMinor,
                         QString const& itemPeriod, QString const& itemName,
                         QString const& itemCurrency, qint64 targetMajor, quint16 targetMinor,
                         QDate const& nextOccurrence, quint32 const& account)
    : BudgetItemElement(itemIdentifier, itemCurrency, account), major{amountMajor},
      minor{amountMinor}, period{itemPeriod}, name{itemName}, currency{itemCurrency},
      finalMajor{targetMajor}, finalMinor{targetMinor}, nextOccurOn{nextOccurrence}, accountId{
                                                                                         account} {}

template <class Collection, class Item>
QLatin1String const& BudgetItemsElement<Collection, Item>::tagName() const {
    return Collection::tag_;
}

template <class Collection, class Item>
void BudgetItemsElement<Collection, Item>::read(QXmlStreamReader& reader) {
    beginRead(reader, Collection::tag_);
    readChildren(reader, static_cast<Collection&>(*this).*CollectionItems<Collection>::member);
}

template <class Collection, class Item>
void BudgetItemsElement<Collection, Item>::write(QXmlStreamWriter& writer) const {
    logWriting(Collection::tag_);
    startElement(writer, Collection::tag_);
    writeChildren(writer,
                  static_cast<Collection const&>(*this).*CollectionItems<Collection>::member);
    writer.writeEndElement();
}

template struct BudgetItemElement<WageElement>;
template struct BudgetItemElement<BillElement>;
template struct BudgetItemElement<DiscretionaryElement>;
template struct BudgetItemElement<DebtElement>;
template struct BudgetItemElement<GoalElement>;
template struct AmountItemElement<WageElement>;
template struct AmountItemElement<BillElement>;
template struct AmountItemElement<DiscretionaryElement>;
template struct BudgetItemsElement<WagesElement, WageElement>;
template struct BudgetItemsElement<BillsElement, BillElement>;
template struct BudgetItemsElement<DebtsElement, DebtElement>;
template struct BudgetItemsElement<GoalsElement, GoalElement>;
template struct BudgetItemsElement<DiscretionariesElement, DiscretionaryElement>;

} // namespace zel::file_storage::internal
