#include "file-storage/document/BudgetItemElements.h"

#include "file-storage/document/AttributeCodecs.h"

#include <QObject>

namespace zel::file_storage::internal {

namespace {

using budgeting::BudgetItemTypes;

// Made on first use, from the format's table.
ItemKindForm const* forms() {
    static ItemKindForm const table[]{
        {format::elementTagged(names::wage), format::elementTagged(names::wages),
         BudgetItemTypes::wage,
         QT_TRANSLATE_NOOP("QObject", "The wage currency identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The wage account identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed wage data."),
         "Filling wage elements"},
        {format::elementTagged(names::bill), format::elementTagged(names::bills),
         BudgetItemTypes::bill,
         QT_TRANSLATE_NOOP("QObject", "The bill currency identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The bill account identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed bill data."),
         "Filling bill elements"},
        {format::elementTagged(names::debt), format::elementTagged(names::debts),
         BudgetItemTypes::debt,
         QT_TRANSLATE_NOOP("QObject", "The debt currency identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The debt account identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed debt data."),
         "Filling debt elements"},
        {format::elementTagged(names::goal), format::elementTagged(names::goals),
         BudgetItemTypes::goal,
         QT_TRANSLATE_NOOP("QObject", "The goal currency identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The goal account identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed goal data."),
         "Filling goal elements"},
        {format::elementTagged(names::nontrack), format::elementTagged(names::nontracks),
         BudgetItemTypes::nontrack,
         QT_TRANSLATE_NOOP("QObject", "The nontrack spending currency identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The nontrack account identifier cannot be zero."),
         QT_TRANSLATE_NOOP("QObject", "The budget file contains malformed nontrack data."),
         "Filling discretionary elements"},
    };
    return table;
}

// Reads one attribute into the member that holds it; "id" is read by readIdentifier.
void readValue(QXmlStreamReader& reader, format::Attribute const& attribute, ItemValues& values) {
    auto const& name = attribute.name;
    switch (attribute.member) {
    case format::itemMajor:
        values.major = readNumericAttribute<qint64>(reader, name);
        return;
    case format::itemMinor:
        values.minor = readNumericAttribute<quint16>(reader, name);
        return;
    case format::itemPeriod:
        values.period = readRequiredAttribute(reader, name);
        return;
    case format::itemName:
        values.name = readRequiredAttribute(reader, name);
        return;
    case format::itemCurrency:
        values.currency = readRequiredAttribute(reader, name);
        return;
    case format::itemOtherMajor:
        values.otherMajor = readNumericAttribute<qint64>(reader, name);
        return;
    case format::itemOtherMinor:
        values.otherMinor = readNumericAttribute<quint16>(reader, name);
        return;
    case format::itemInterest:
        values.interest = readNumericAttribute<double>(reader, name);
        return;
    case format::itemNextOccurOn:
        values.nextOccurOn = readDateAttribute(reader, name);
        return;
    case format::itemAccountId:
        values.accountId = readNumericAttribute<quint32>(reader, name);
        return;
    }
}

void writeValue(QXmlStreamWriter& writer, QLatin1String const& tag,
                format::Attribute const& attribute, ItemElement const& item) {
    auto const& name = attribute.name;
    switch (attribute.member) {
    case format::itemId:
        item.writeIdentifier(writer);
        return;
    case format::itemMajor:
        writeNumericAttribute(writer, name, item.major);
        return;
    case format::itemMinor:
        writeNumericAttribute(writer, name, item.minor);
        return;
    case format::itemPeriod:
        writeTextAttribute(writer, name, item.period);
        return;
    case format::itemName:
        writeTextAttribute(writer, name, item.name);
        return;
    case format::itemCurrency:
        writeTextAttribute(writer, name, item.currency);
        return;
    case format::itemOtherMajor:
        writeNumericAttribute(writer, name, item.otherMajor);
        return;
    case format::itemOtherMinor:
        writeNumericAttribute(writer, name, item.otherMinor);
        return;
    case format::itemInterest:
        writeNumericAttribute(writer, name, item.interest);
        return;
    case format::itemNextOccurOn:
        writeDateAttribute(writer, tag, name, item.nextOccurOn);
        return;
    case format::itemAccountId:
        writeNumericAttribute(writer, name, item.accountId);
        return;
    }
}

} // namespace

ItemKindForm const& formOf(ItemKind kind) {
    return forms()[static_cast<std::size_t>(kind)];
}

ItemElement::ItemElement(ItemKind itemKind) : kind(itemKind) {}

ItemElement::ItemElement(ItemKind itemKind, quint32 itemIdentifier, ItemValues const& values)
    : IndexedElement(itemIdentifier), ItemValues(values), kind(itemKind) {
    if (currency.trimmed().isEmpty()) {
        throw contentError(QObject::tr(formOf(kind).blankCurrency));
    }
    if (accountId == 0) {
        throw contentError(QObject::tr(formOf(kind).noAccount));
    }
}

QLatin1String const& ItemElement::tagName() const {
    return formOf(kind).element.tag.latin1;
}

void ItemElement::read(QXmlStreamReader& reader) {
    auto const& element = formOf(kind).element;
    beginRead(reader, element.tag);
    readIdentifier(reader);
    for (std::size_t index = 1; index < element.attributes.size(); ++index) {
        readValue(reader, format::attributeRead(element, index), *this);
    }
    reader.skipCurrentElement();
}

void ItemElement::write(QXmlStreamWriter& writer) const {
    auto const& element = formOf(kind).element;
    logWriting(element.tag);
    startElement(writer, element.tag);
    for (auto const& attribute : element.attributes) {
        writeValue(writer, element.tag, attribute, *this);
    }
    writer.writeEndElement();
}

ItemsElement::ItemsElement(ItemKind itemKind) : kind(itemKind) {}

QLatin1String const& ItemsElement::tagName() const {
    return formOf(kind).collection.tag.latin1;
}

void ItemsElement::read(QXmlStreamReader& reader) {
    auto const& form = formOf(kind);
    beginRead(reader, form.collection.tag);
    while (reader.readNextStartElement()) {
        if (reader.name() != form.element.tag.latin1) {
            return;
        }
        ItemElement item(kind);
        item.read(reader);
        items.push_back(std::move(item));
    }
}

void ItemsElement::write(QXmlStreamWriter& writer) const {
    auto const& tag = formOf(kind).collection.tag;
    logWriting(tag);
    startElement(writer, tag);
    for (auto const& item : items) {
        item.write(writer);
    }
    writer.writeEndElement();
}

} // namespace zel::file_storage::internal
