#pragma once

#include "file-storage/document/DocumentFormat.h"
#include "file-storage/document/TableElement.h"
#include "foundation/Optional.h"

#include <QDate>
#include <QString>
#include <QtGlobal>

#include <vector>

// The bank reconciliation surveys in the budget document: "reconciliations" of
// "reconciliation", each distributing its balance over budget items in "distribution"
// elements.
//
// Apart from the account and item identifiers, the attributes of the two leaves may be
// absent: an absent one leaves its field as default-constructed. An attribute that is present
// is always read with its codec, so a present but empty value fails. "date" is written only
// when there is a date (AttributeError if it is not valid), "checksum" only when there is a
// non-empty one.
namespace zel::file_storage::internal {

// The part of a reconciled balance given to one budget item, named by the item's stored type
// text and its identifier within that type. Whether the item exists is not checked here.
struct DistributionElement final : LeafElement<DistributionElement> {
    static constexpr format::Element const& form_ =
        format::elementAt(names::reconciliation, names::distribution);

    QString itemType;
    quint32 itemIdentifier = 0;
    qint64 major = 0;
    quint16 minor = 0;
    QString currency;

    DistributionElement() = default;
    // Nothing is checked.
    DistributionElement(QString itemType, quint32 const& itemIdentifier, qint64 major,
                        quint16 minor, QString currency);

    static constexpr auto fields() {
        return std::tuple{&DistributionElement::itemType, &DistributionElement::itemIdentifier,
                          &DistributionElement::major, &DistributionElement::minor,
                          &DistributionElement::currency};
    }
    // A read "id" of 0.
    QString invalidIdentifier() const;
};

// The reconciled balance of one bank account, named by its ledger account number.
struct ReconciliationElement final : ParentElement<ReconciliationElement, DistributionElement> {
    static constexpr format::Element const& form_ =
        format::elementAt(names::reconciliations, names::reconciliation);

    quint32 number = 0;
    qint64 major = 0;
    quint16 minor = 0;
    QString currency;
    foundation::Optional<QDate> reconciledOn;
    foundation::Optional<QString> checksum;
    std::vector<DistributionElement> distributions;
    static constexpr auto children_ = &ReconciliationElement::distributions;

    // Number 0, no date, no checksum, no distributions; not checked.
    ReconciliationElement() = default;
    // Throws BudgetFileError for number 0.
    ReconciliationElement(quint32 const& number, qint64 major, quint16 minor, QString currency,
                          foundation::Optional<QDate> reconciledOn,
                          foundation::Optional<QString> checksum,
                          std::vector<DistributionElement> distributions);

    static constexpr auto fields() {
        return std::tuple{&ReconciliationElement::number,       &ReconciliationElement::major,
                          &ReconciliationElement::minor,        &ReconciliationElement::currency,
                          &ReconciliationElement::reconciledOn, &ReconciliationElement::checksum};
    }
    // A read "account" of 0, or a number 0 given to the constructor.
    QString invalidIdentifier() const;
};

struct ReconciliationsElement final : ParentElement<ReconciliationsElement, ReconciliationElement> {
    static constexpr format::Element const& form_ =
        format::elementAt(names::application, names::reconciliations);

    std::vector<ReconciliationElement> reconciliations;
};

} // namespace zel::file_storage::internal
