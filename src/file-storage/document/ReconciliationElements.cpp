#include "file-storage/document/ReconciliationElements.h"

#include <QObject>

#include <utility>

namespace zel::file_storage::internal {

DistributionElement::DistributionElement(QString typeText, quint32 const& identifier,
                                         qint64 majorUnits, quint16 minorUnits,
                                         QString currencyCode)
    : itemType(std::move(typeText)), itemIdentifier(identifier), major(majorUnits),
      minor(minorUnits), currency(std::move(currencyCode)) {}

QString DistributionElement::invalidIdentifier() const {
    return QObject::tr("The budget item ID for a distribution element cannot be invalid.");
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
        throw contentError(invalidIdentifier());
    }
}

QString ReconciliationElement::invalidIdentifier() const {
    return QObject::tr("The account ID for a reconciliation element cannot be invalid.");
}

} // namespace zel::file_storage::internal
