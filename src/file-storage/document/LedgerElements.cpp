#include "file-storage/document/LedgerElements.h"

#include "file-storage/common/Log.h"
#include "file-storage/document/AttributeCodecs.h"

#include <QObject>

#include <utility>

namespace zel::file_storage::internal {

// The parameters are named apart from the members they set, so that the body can only mean
// the members.
AccountElement::AccountElement(quint32 const& accountNumber, QString const& nameText,
                               QString const& typeText, qint64 const& majorUnits,
                               quint16 const& minorUnits, QString const& currencyCode,
                               bool isClosed, foundation::Optional<quint32> parent)
    : LeafElement(accountNumber), name(nameText), type(typeText), major(majorUnits),
      minor(minorUnits), currency(currencyCode), closed(isClosed), parentNumber(std::move(parent)) {
    if (currency.trimmed().isEmpty()) {
        throw contentError(QObject::tr("The account currency identifier cannot be zero."));
    }
}

TransactionElement::TransactionElement(quint32 const& transactionNumber, QDate const& day,
                                       quint32 const& otherAccount, QString const& entryText,
                                       qint64 const& majorUnits, quint16 const& minorUnits,
                                       QString const& currencyCode, QString const& statusText,
                                       foundation::Optional<QString> descriptionText)
    : LeafElement(transactionNumber), date(day), otherAccountNumber(otherAccount), entry(entryText),
      major(majorUnits), minor(minorUnits), currency(currencyCode), status(statusText),
      description(std::move(descriptionText)) {}

void TransactionElement::readContent(QXmlStreamReader& reader) {
    // The description is the element's text. A child element is not part of the format: the
    // reader then raises its own error, which ends the load.
    auto text = reader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    if (!text.isEmpty()) {
        description = std::move(text);
    }
}

void TransactionElement::writeContent(QXmlStreamWriter& writer) const {
    if (!description) {
        return;
    }
    // A reader turns every carriage return of character data into a line feed, so each one is
    // written as a character reference, which reads back as itself.
    auto const& text = *description;
    qsizetype start = 0;
    for (qsizetype cr = text.indexOf(u'\r'); cr >= 0; cr = text.indexOf(u'\r', start)) {
        writer.writeCharacters(text.mid(start, cr - start));
        writer.writeEntityReference(QStringLiteral("#13"));
        start = cr + 1;
    }
    writer.writeCharacters(text.mid(start));
}

LedgerElement::LedgerElement(quint32 accountNumber) : ParentElement(accountNumber) {}

void LedgersElement::attributesRead(QXmlStreamReader& reader) const {
    if (!hasAttribute(reader, names::attributes::openingAccountId)) {
        // A ledger without an opening account is valid, but worth a note when a load goes
        // wrong later.
        ZEL_LOG_INFO() << "No attribute" << names::attributes::openingAccountId.latin1 << "in"
                       << form_.tag.latin1 << "tag element.";
    }
}

} // namespace zel::file_storage::internal
