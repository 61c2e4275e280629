#include "file-storage/document/BankElements.h"

#include "file-storage/document/AttributeCodecs.h"

#include <utility>

namespace zel::file_storage::internal {

namespace attributes = names::attributes;

BankAccountElement::BankAccountElement(quint32 accountNumber, QString const& typeText)
    : number(accountNumber), type(typeText) {}

QLatin1String const& BankAccountElement::tagName() const {
    return tag_.latin1;
}

void BankAccountElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    number = readNumericAttribute<quint32>(reader, attributes::id);
    type = readRequiredAttribute(reader, attributes::type);
    reader.skipCurrentElement();
}

void BankAccountElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeNumericAttribute(writer, attributes::id, number);
    writeTextAttribute(writer, attributes::type, type);
    writer.writeEndElement();
}

BankElement::BankElement(QString const& institution, bool isClosed,
                         std::vector<BankAccountElement> heldAccounts)
    : name(institution), closed(isClosed), accounts(std::move(heldAccounts)) {}

QLatin1String const& BankElement::tagName() const {
    return tag_.latin1;
}

void BankElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    name = readRequiredAttribute(reader, attributes::name);
    closed = readBoolAttribute(reader, attributes::closed);
    readChildren(reader, accounts);
}

void BankElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeTextAttribute(writer, attributes::name, name);
    writeBoolAttribute(writer, attributes::closed, closed);
    writeChildren(writer, accounts);
    writer.writeEndElement();
}

BanksElement::BanksElement(std::vector<BankElement> allBanks) : banks(std::move(allBanks)) {}

QLatin1String const& BanksElement::tagName() const {
    return tag_.latin1;
}

void BanksElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    readChildren(reader, banks);
}

void BanksElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeChildren(writer, banks);
    writer.writeEndElement();
}

} // namespace zel::file_storage::internal
