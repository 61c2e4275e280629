#include "file-storage/document/ReconciliationElements.h"

#include "file-storage/document/AttributeCodecs.h"

#include <QObject>

#include <utility>

namespace zel::file_storage::internal {

namespace attributes = names::attributes;

namespace {

// Reads the attribute with its codec only when the element carries it, whatever its value;
// an absent attribute leaves the field as it is.
template <class Field, class Codec>
void readIfPresent(QXmlStreamReader& reader, QLatin1String const& name, Field& field, Codec codec) {
    if (hasAttribute(reader, name)) {
        field = codec(reader, name);
    }
}

// Reads the identifier that names what a leaf refers to; unlike other numbers here it is
// required and must not be 0.
quint32 readReference(QXmlStreamReader& reader, QLatin1String const& name,
                      QString const& invalidMessage) {
    auto const value = readNumericAttribute<quint32>(reader, name);
    if (value == 0) {
        throw readerError(reader, invalidMessage);
    }
    return value;
}

QString invalidAccountMessage() {
    return QObject::tr("The account ID for a reconciliation element cannot be invalid.");
}

} // namespace

DistributionElement::DistributionElement(QString typeText, quint32 const& identifier,
                                         qint64 majorUnits, quint16 minorUnits,
                                         QString currencyCode)
    : itemType(std::move(typeText)), itemIdentifier(identifier), major(majorUnits),
      minor(minorUnits), currency(std::move(currencyCode)) {}

QLatin1String const& DistributionElement::tagName() const {
    return tag_.latin1;
}

void DistributionElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    readIfPresent(reader, attributes::type, itemType, readRequiredAttribute);
    itemIdentifier = readReference(
        reader, attributes::id,
        QObject::tr("The budget item ID for a distribution element cannot be invalid."));
    readIfPresent(reader, attributes::major, major, readNumericAttribute<qint64>);
    readIfPresent(reader, attributes::minor, minor, readNumericAttribute<quint16>);
    readIfPresent(reader, attributes::currency, currency, readRequiredAttribute);
    reader.skipCurrentElement();
}

void DistributionElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeTextAttribute(writer, attributes::type, itemType);
    writeNumericAttribute(writer, attributes::id, itemIdentifier);
    writeNumericAttribute(writer, attributes::major, major);
    writeNumericAttribute(writer, attributes::minor, minor);
    writeTextAttribute(writer, attributes::currency, currency);
    writer.writeEndElement();
}

ReconciliationElement::ReconciliationElement(quint32 const& accountNumber, qint64 majorUnits,
                                             quint16 minorUnits, QString currencyCode,
                                             foundation::Optional<QDate> day,
                                             foundation::Optional<QString> checksumText,
                                             std::vector<DistributionElement> parts)
    : number(accountNumber), major(majorUnits), minor(minorUnits),
      currency(std::move(currencyCode)), reconciledOn(std::move(day)),
      checksum(std::move(checksumText)), distributions(std::move(parts)) {
    if (number == 0) {
        throw contentError(invalidAccountMessage());
    }
}

QLatin1String const& ReconciliationElement::tagName() const {
    return tag_.latin1;
}

void ReconciliationElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    number = readReference(reader, attributes::account, invalidAccountMessage());
    readIfPresent(reader, attributes::major, major, readNumericAttribute<qint64>);
    readIfPresent(reader, attributes::minor, minor, readNumericAttribute<quint16>);
    readIfPresent(reader, attributes::currency, currency, readRequiredAttribute);
    readIfPresent(reader, attributes::date, reconciledOn, readDateAttribute);
    readIfPresent(reader, attributes::checksum, checksum, readRequiredAttribute);
    readChildren(reader, distributions);
}

void ReconciliationElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeNumericAttribute(writer, attributes::account, number);
    writeNumericAttribute(writer, attributes::major, major);
    writeNumericAttribute(writer, attributes::minor, minor);
    writeTextAttribute(writer, attributes::currency, currency);
    if (reconciledOn) {
        writeDateAttribute(writer, tag_, attributes::date, *reconciledOn);
    }
    // An empty checksum is left out rather than written as an empty attribute, which the read
    // side refuses: a stored document must always load again.
    if (checksum && !checksum->isEmpty()) {
        writeTextAttribute(writer, attributes::checksum, *checksum);
    }
    writeChildren(writer, distributions);
    writer.writeEndElement();
}

QLatin1String const& ReconciliationsElement::tagName() const {
    return tag_.latin1;
}

void ReconciliationsElement::read(QXmlStreamReader& reader) {
    beginRead(reader, tag_);
    readChildren(reader, reconciliations);
}

void ReconciliationsElement::write(QXmlStreamWriter& writer) const {
    startElement(writer, tag_);
    writeChildren(writer, reconciliations);
    writer.writeEndElement();
}

} // namespace zel::file_storage::internal
