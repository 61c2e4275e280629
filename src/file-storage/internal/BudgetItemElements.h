#pragma once

#include "budgeting/Budgeting.h"
#include "file-storage/internal/AttributeCodecs.h"
#include "file-storage/internal/BasicElement.h"
#include "file-storage/internal/DocumentNames.h"
#include "file-storage/internal/StoredTexts.h"

#include <QDate>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <tuple>
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
//
// Each kind is described once, in the table of kinds below; the elements and the load and
// store procedures are written once over it.
namespace zel::file_storage::internal {

// One attribute of an item: its name, and the member that holds its value, whose type picks
// the codec.
template <class Member> struct ItemAttribute {
    QLatin1String name;
    Member member;
};
template <class Member> constexpr ItemAttribute<Member> attribute(QLatin1String name, Member m) {
    return {name, m};
}

namespace attr = names::attributes;

// The values of the three shapes of item, in the order in which the value constructor takes
// them. Each shape lists its attributes after "id" in the order written and in the order read
// (which decides the fault reported for an item with several), and converts to and from Item,
// the kind's domain class.

// Wages, bills and nontrack spending: one budgeted amount.
struct AmountValues {
    qint64 major = 0;
    quint16 minor = 0;
    QString period;
    QString name;
    QString currency;
    QDate nextOccurOn;
    quint32 accountId = 0;

    static constexpr std::tuple writeOrder{attribute(attr::major, &AmountValues::major),
                                           attribute(attr::minor, &AmountValues::minor),
                                           attribute(attr::period, &AmountValues::period),
                                           attribute(attr::name, &AmountValues::name),
                                           attribute(attr::currency, &AmountValues::currency),
                                           attribute(attr::nextOccurOn, &AmountValues::nextOccurOn),
                                           attribute(attr::accountId, &AmountValues::accountId)};
    static constexpr std::tuple readOrder{attribute(attr::major, &AmountValues::major),
                                          attribute(attr::minor, &AmountValues::minor),
                                          attribute(attr::name, &AmountValues::name),
                                          attribute(attr::currency, &AmountValues::currency),
                                          attribute(attr::period, &AmountValues::period),
                                          attribute(attr::nextOccurOn, &AmountValues::nextOccurOn),
                                          attribute(attr::accountId, &AmountValues::accountId)};

    template <class Item>
    Item toItem(budgeting::BudgetSource const& source, orvalis::currency::Iso4217Codes code,
                budgeting::EventFrequency frequency) const {
        return Item(source, orvalis::currency::Money(major, minor, code), frequency, nextOccurOn);
    }
    static AmountValues of(budgeting::BudgetedMoney const& item, quint32 account) {
        return {item.amount().major(),
                item.amount().minor(),
                budgeting::presentationText(item.period()),
                item.source().name(),
                currencyText(item.amount()),
                item.nextOccurOn(),
                account};
    }
};

// A debt: the borrowed total, and the minimum payment, which is its budgeted amount; both in
// the one currency.
struct DebtValues {
    qint64 totalMajor = 0;
    quint16 totalMinor = 0;
    QString period;
    QString name;
    QString currency;
    qint64 minimumMajor = 0;
    quint16 minimumMinor = 0;
    double interest = 0.0; // stored with six significant digits
    QDate nextOccurOn;
    quint32 accountId = 0;

    static constexpr std::tuple writeOrder{attribute(attr::totalMajor, &DebtValues::totalMajor),
                                           attribute(attr::totalMinor, &DebtValues::totalMinor),
                                           attribute(attr::period, &DebtValues::period),
                                           attribute(attr::name, &DebtValues::name),
                                           attribute(attr::currency, &DebtValues::currency),
                                           attribute(attr::minimumMajor, &DebtValues::minimumMajor),
                                           attribute(attr::minimumMinor, &DebtValues::minimumMinor),
                                           attribute(attr::interest, &DebtValues::interest),
                                           attribute(attr::nextOccurOn, &DebtValues::nextOccurOn),
                                           attribute(attr::accountId, &DebtValues::accountId)};
    static constexpr auto readOrder = writeOrder;

    template <class Item>
    Item toItem(budgeting::BudgetSource const& source, orvalis::currency::Iso4217Codes code,
                budgeting::EventFrequency frequency) const {
        return Item(source, orvalis::currency::Money(minimumMajor, minimumMinor, code), frequency,
                    nextOccurOn, orvalis::currency::Money(totalMajor, totalMinor, code),
                    budgeting::Percentage{interest});
    }
    static DebtValues of(budgeting::Debt const& item, quint32 account) {
        return {item.borrowed().major(),
                item.borrowed().minor(),
                budgeting::presentationText(item.period()),
                item.source().name(),
                currencyText(item.amount()),
                item.amount().major(),
                item.amount().minor(),
                item.interest().value,
                item.nextOccurOn(),
                account};
    }
};

// A goal: the budgeted amount and the final amount, in the one currency.
struct GoalValues {
    qint64 major = 0;
    quint16 minor = 0;
    QString period;
    QString name;
    QString currency;
    qint64 finalMajor = 0;
    quint16 finalMinor = 0;
    QDate nextOccurOn;
    quint32 accountId = 0;

    static constexpr std::tuple writeOrder{attribute(attr::major, &GoalValues::major),
                                           attribute(attr::minor, &GoalValues::minor),
                                           attribute(attr::period, &GoalValues::period),
                                           attribute(attr::name, &GoalValues::name),
                                           attribute(attr::currency, &GoalValues::currency),
                                           attribute(attr::finalMajor, &GoalValues::finalMajor),
                                           attribute(attr::finalMinor, &GoalValues::finalMinor),
                                           attribute(attr::nextOccurOn, &GoalValues::nextOccurOn),
                                           attribute(attr::accountId, &GoalValues::accountId)};
    static constexpr std::tuple readOrder{attribute(attr::major, &GoalValues::major),
                                          attribute(attr::minor, &GoalValues::minor),
                                          attribute(attr::name, &GoalValues::name),
                                          attribute(attr::currency, &GoalValues::currency),
                                          attribute(attr::period, &GoalValues::period),
                                          attribute(attr::finalMajor, &GoalValues::finalMajor),
                                          attribute(attr::finalMinor, &GoalValues::finalMinor),
                                          attribute(attr::nextOccurOn, &GoalValues::nextOccurOn),
                                          attribute(attr::accountId, &GoalValues::accountId)};

    template <class Item>
    Item toItem(budgeting::BudgetSource const& source, orvalis::currency::Iso4217Codes code,
                budgeting::EventFrequency frequency) const {
        return Item(source, orvalis::currency::Money(major, minor, code), frequency, nextOccurOn,
                    orvalis::currency::Money(finalMajor, finalMinor, code));
    }
    static GoalValues of(budgeting::Goal const& item, quint32 account) {
        return {item.amount().major(),
                item.amount().minor(),
                budgeting::presentationText(item.period()),
                item.source().name(),
                currencyText(item.amount()),
                item.final().major(),
                item.final().minor(),
                item.nextOccurOn(),
                account};
    }
};

// The texts of a kind: the value constructor's two checks and the load's refusal, translated
// when thrown, and the store's debug record.
struct ItemTexts {
    char const* blankCurrency;
    char const* noAccount;
    char const* malformed;
    char const* fillRecord;
};

struct WagesElement;
struct BillsElement;
struct DebtsElement;
struct GoalsElement;
struct DiscretionariesElement;

// The table of kinds.

struct WageKind {
    static constexpr QLatin1String tag = names::wage, collectionTag = names::wages;
    using Values = AmountValues;
    using Item = budgeting::Wage;
    using Collection = WagesElement;
    static constexpr auto type = budgeting::BudgetItemTypes::wage;
    static constexpr ItemTexts texts{
        QT_TRANSLATE_NOOP("QObject", "The wage currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The wage account identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed wage data."),
        "Filling wage elements"};
    static auto& items(budgeting::Budget& budget) { return budget.wages(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.wages(); }
};

struct BillKind {
    static constexpr QLatin1String tag = names::bill, collectionTag = names::bills;
    using Values = AmountValues;
    using Item = budgeting::Bill;
    using Collection = BillsElement;
    static constexpr auto type = budgeting::BudgetItemTypes::bill;
    static constexpr ItemTexts texts{
        QT_TRANSLATE_NOOP("QObject", "The bill currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The bill account identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed bill data."),
        "Filling bill elements"};
    static auto& items(budgeting::Budget& budget) { return budget.bills(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.bills(); }
};

struct DebtKind {
    static constexpr QLatin1String tag = names::debt, collectionTag = names::debts;
    using Values = DebtValues;
    using Item = budgeting::Debt;
    using Collection = DebtsElement;
    static constexpr auto type = budgeting::BudgetItemTypes::debt;
    static constexpr ItemTexts texts{
        QT_TRANSLATE_NOOP("QObject", "The debt currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The debt account identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed debt data."),
        "Filling debt elements"};
    static auto& items(budgeting::Budget& budget) { return budget.debts(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.debts(); }
};

struct GoalKind {
    static constexpr QLatin1String tag = names::goal, collectionTag = names::goals;
    using Values = GoalValues;
    using Item = budgeting::Goal;
    using Collection = GoalsElement;
    static constexpr auto type = budgeting::BudgetItemTypes::goal;
    static constexpr ItemTexts texts{
        QT_TRANSLATE_NOOP("QObject", "The goal currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The goal account identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed goal data."),
        "Filling goal elements"};
    static auto& items(budgeting::Budget& budget) { return budget.goals(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.goals(); }
};

struct DiscretionaryKind {
    static constexpr QLatin1String tag = names::nontrack, collectionTag = names::nontracks;
    using Values = AmountValues;
    using Item = budgeting::Nontrack;
    using Collection = DiscretionariesElement;
    static constexpr auto type = budgeting::BudgetItemTypes::nontrack;
    static constexpr ItemTexts texts{
        QT_TRANSLATE_NOOP("QObject", "The nontrack spending currency identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The nontrack account identifier cannot be zero."),
        QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed nontrack data."),
        "Filling discretionary elements"};
    static auto& items(budgeting::Budget& budget) { return budget.nontracks(); }
    static auto const& items(budgeting::Budget const& budget) { return budget.nontracks(); }
};

// The kinds in the order in which the document holds them and the procedures visit them.
using ItemKinds = std::tuple<WageKind, BillKind, DebtKind, GoalKind, DiscretionaryKind>;

template <class Visit> void forEachItemKind(Visit&& visit) {
    std::apply([&](auto... kinds) { (visit(kinds), ...); }, ItemKinds{});
}

// An item of one kind: its identifier, then its kind's values.
template <class Kind> struct ItemElement final : IndexedElement, Kind::Values {
    using Values = typename Kind::Values;
    static constexpr QLatin1String tag_ = Kind::tag;

    ItemElement() = default;
    // Throws BudgetFileError, in this order, for identifier 0, for a currency that is blank
    // once trimmed, and for account number 0; the values are taken unchanged.
    ItemElement(quint32 itemIdentifier, Values const& values)
        : IndexedElement(itemIdentifier), Values(values) {
        if (this->currency.trimmed().isEmpty()) {
            throw contentError(QObject::tr(Kind::texts.blankCurrency));
        }
        if (this->accountId == 0) {
            throw contentError(QObject::tr(Kind::texts.noAccount));
        }
    }

    QLatin1String const& tagName() const override { return tag_; }

    void read(QXmlStreamReader& reader) override {
        beginRead(reader, tag_);
        readIdentifier(reader);
        std::apply([&](auto const&... a) { (readAttribute(reader, a.name, this->*a.member), ...); },
                   Values::readOrder);
        reader.skipCurrentElement();
    }

    void write(QXmlStreamWriter& writer) const override {
        logWriting(tag_);
        startElement(writer, tag_);
        writeIdentifier(writer);
        std::apply(
            [&](auto const&... a) { (writeAttribute(writer, tag_, a.name, this->*a.member), ...); },
            Values::writeOrder);
        writer.writeEndElement();
    }
};

using WageElement = ItemElement<WageKind>;
using BillElement = ItemElement<BillKind>;
using DebtElement = ItemElement<DebtKind>;
using GoalElement = ItemElement<GoalKind>;
using DiscretionaryElement = ItemElement<DiscretionaryKind>;

// A collection of one kind: no attributes, its items in document order. read() stops, without
// error, at the first child that is not one of its items and leaves the reader on its start
// tag. An empty collection is written as an empty element. Collection names its vector of
// items in its static member items.
template <class Collection, class Kind> struct ItemsElement : BasicElement {
    QLatin1String const& tagName() const override { return Kind::collectionTag; }

    void read(QXmlStreamReader& reader) override {
        beginRead(reader, Kind::collectionTag);
        readChildren(reader, static_cast<Collection&>(*this).*Collection::items);
    }

    void write(QXmlStreamWriter& writer) const override {
        logWriting(Kind::collectionTag);
        startElement(writer, Kind::collectionTag);
        writeChildren(writer, static_cast<Collection const&>(*this).*Collection::items);
        writer.writeEndElement();
    }
};

struct WagesElement final : ItemsElement<WagesElement, WageKind> {
    std::vector<WageElement> wages;
    static constexpr auto items = &WagesElement::wages;
};

struct BillsElement final : ItemsElement<BillsElement, BillKind> {
    std::vector<BillElement> bills;
    static constexpr auto items = &BillsElement::bills;
};

struct DebtsElement final : ItemsElement<DebtsElement, DebtKind> {
    std::vector<DebtElement> debts;
    static constexpr auto items = &DebtsElement::debts;
};

struct GoalsElement final : ItemsElement<GoalsElement, GoalKind> {
    std::vector<GoalElement> goals;
    static constexpr auto items = &GoalsElement::goals;
};

struct DiscretionariesElement final : ItemsElement<DiscretionariesElement, DiscretionaryKind> {
    std::vector<DiscretionaryElement> nontracks;
    static constexpr auto items = &DiscretionariesElement::nontracks;
};

} // namespace zel::file_storage::internal
