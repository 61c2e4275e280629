#include "file-storage/document/LedgerElements.h"

#include "file-storage/common/Log.h"
#include "file-storage/document/AttributeCodecs.h"

#include <QObject>

#include <utility>

namespace zel::file_storage::internal {

namespace attributes = names::attributes;

// The parameters are named apart from the members they set, so that the body can only mean
// the members.
AccountElement::AccountElement(quint32 const& accountNumber, QString const& nameText,
                               QString const& typeText, qint64 const& majorUnits,
                               quint16 const& minorUnits, QString const& currencyCode,
                               bool isClosed, foundation::Optional<quint32> parent)
    : IndexedElement(accountNumber), name(nameText), type(typeText), major(majorUnits),
      minor(minorUnits), currency(currencyCode), closed(isClosed), parentNumber(std::move(parent)) {
    if (currency.trimmed().isEmpty()) {
        throw contentError(QObject::tr("The account currency identifier cannot be zero."));
    }
}

QLatin1String const& AccountElement::tagName() const {
    return tag_.latin1;
}

void AccountElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    readIdentifier(reader);
    name = readRequiredAttribute(reader, attributes::name);
    type = readRequiredAttribute(reader, attributes::type);
    major = readNumericAttribute<qint64>(reader, attributes::major);
    minor = readNumericAttribute<quint16>(reader, attributes::minor);
    currency = readRequiredAttribute(reader, attributes::currency);
    closed = readBoolAttribute(reader, attributes::closed);
    parentNumber = readOptionalNumericAttribute(reader, attributes::parentId);
    reader.skipCurrentElement();
}

void AccountElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeIdentifier(writer);
    writeTextAttribute(writer, attributes::name, name);
    writeTextAttribute(writer, attributes::type, type);
    writeNumericAttribute(writer, attributes::major, major);
    writeNumericAttribute(writer, attributes::minor, minor);
    writeTextAttribute(writer, attributes::currency, currency);
    writeBoolAttribute(writer, attributes::closed, closed);
    if (parentNumber) {
        writeNumericAttribute(writer, attributes::parentId, *parentNumber);
    }
    writer.writeEndElement();
}

QLatin1String const& AccountsElement::tagName() const {
    return tag_.latin1;
}

void AccountsElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    readChildren(reader, accounts);
}

void AccountsElement::write(QXmlStreamWriter& writer) const {
    logWriting(tag_);
    startElement(writer, tag_);
    writeChildren(writer, accounts);
    writer.writeEndElement();
}

TransactionElement::TransactionElement(quint32 const& transactionNumber, QDate const& day,
                                       quint32 const& otherAccount, QString const& entryText,
                                       qint64 const& majorUnits, quint16 const& minorUnits,
                                       QString const& currencyCode, QString const& statusText,
                                       foundation::Optional<QString> descriptionText)
    : IndexedElement(transactionNumber), date(day), otherAccountNumber(otherAccount),
      entry(entryText), major(majorUnits), minor(minorUnits), currency(currencyCode),
      status(statusText), description(std::move(descriptionText)) {}

QLatin1String const& TransactionElement::tagName() const {
    return tag_.latin1;
}

void TransactionElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    readIdentifier(reader);
    date = readDateAttribute(reader, attributes::date);
    otherAccountNumber = readNumericAttribute<quint32>(reader, attributes::accountId);
    entry = readRequiredAttribute(reader, attributes::entry);
    major = readNumericAttribute<qint64>(reader, attributes::major);
    minor = readNumericAttribute<quint16>(reader, attributes::minor);
    currency = readRequiredAttribute(reader, attributes::currency);
    status = readRequiredAttribute(reader, attributes::status);
    // The description is the element's text. A child element is not part of the format: the
    // reader then raises its own error, which ends the load.
    auto text = reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    if (!text.isEmpty()) {
        description = std::move(text);
    }
}

namespace {

// A reader turns every carriage return of character data into a line feed, so each one is
// written as a character reference, which reads back as itself.
void writeText(QXmlStreamWriter& writer, QString const& text) {
    qsizetype start = 0;
    for (qsizetype cr = text.indexOf(u'\r'); cr >= 0; cr = text.indexOf(u'\r', start)) {
        writer.writeCharacters(text.mid(start, cr - start));
        writer.writeEntityReference(QStringLiteral("#13"));
        start = cr + 1;
    }
    writer.writeCharacters(text.mid(start));
}

} // namespace

void TransactionElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeIdentifier(writer);
    writeDateAttribute(writer, tag_, attributes::date, date);
    writeNumericAttribute(writer, attributes::accountId, otherAccountNumber);
    writeTextAttribute(writer, attributes::entry, entry);
    writeNumericAttribute(writer, attributes::major, major);
    writeNumericAttribute(writer, attributes::minor, minor);
    writeTextAttribute(writer, attributes::currency, currency);
    writeTextAttribute(writer, attributes::status, status);
    if (description) {
        writeText(writer, *description);
    }
    writer.writeEndElement();
}

LedgerElement::LedgerElement(quint32 accountNumber) : IndexedElement(accountNumber) {}

QLatin1String const& LedgerElement::tagName() const {
    return tag_.latin1;
}

void LedgerElement::read(QXmlStreamReader& reader) {
    readIdentifier(reader);
    readChildren(reader, transactions);
}

void LedgerElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeIdentifier(writer);
    writeChildren(writer, transactions);
    writer.writeEndElement();
}

LedgersElement::LedgersElement(foundation::Optional<quint32> openingAccount)
    : openingAccountNumber(std::move(openingAccount)) {}

QLatin1String const& LedgersElement::tagName() const {
    return tag_.latin1;
}

void LedgersElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    if (auto const opening = readOptionalNumericAttribute(reader, attributes::openingAccountId)) {
        openingAccountNumber = opening;
    } else {
        // A ledger without an opening account is valid, but worth a note when a load goes
        // wrong later.
        ZEL_LOG_INFO() << "No attribute" << attributes::openingAccountId.latin1 << "in"
                       << tag_.latin1 << "tag element.";
    }
    readChildren(reader, ledgers);
}

void LedgersElement::write(QXmlStreamWriter& writer) const {
    logWriting(tag_);
    startElement(writer, tag_);
    if (openingAccountNumber) {
        writeNumericAttribute(writer, attributes::openingAccountId, *openingAccountNumber);
    }
    writeChildren(writer, ledgers);
    writer.writeEndElement();
}

} // namespace zel::file_storage::internal
