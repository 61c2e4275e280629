#pragma once

#include "file-storage/document/BasicElement.h"
#include "file-storage/document/DocumentFormat.h"
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
// is always read with its codec, so a present but empty value fails.
namespace zel::file_storage::internal {

// The part of a reconciled balance given to one budget item, named by the item's stored type
// text and its identifier within that type. Whether the item exists is not checked here.
struct DistributionElement final : BasicElement {
    static constexpr Name tag_ = names::distribution;

    QString itemType;
    quint32 itemIdentifier = 0;
    qint64 major = 0;
    quint16 minor = 0;
    QString currency;

    DistributionElement() = default;
    // Nothing is checked.
    DistributionElement(QString itemType, quint32 const& itemIdentifier, qint64 major,
                        quint16 minor, QString currency);

    QLatin1String const& tagName() const override;
    // Throws AttributeError for a missing or non-numeric "id" and BudgetFileError for "id" 0.
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

// The reconciled balance of one bank account, named by its ledger account number.
struct ReconciliationElement final : BasicElement {
    static constexpr Name tag_ = names::reconciliation;

    quint32 number = 0;
    qint64 major = 0;
    quint16 minor = 0;
    QString currency;
    foundation::Optional<QDate> reconciledOn;
    foundation::Optional<QString> checksum;
    std::vector<DistributionElement> distributions;

    // Number 0, no date, no checksum, no distributions; not checked.
    ReconciliationElement() = default;
    // Throws BudgetFileError for number 0.
    ReconciliationElement(quint32 const& number, qint64 major, quint16 minor, QString currency,
                          foundation::Optional<QDate> reconciledOn,
                          foundation::Optional<QString> checksum,
                          std::vector<DistributionElement> distributions);

    QLatin1String const& tagName() const override;
    // Throws AttributeError for a missing or non-numeric "account" and BudgetFileError for
    // "account" 0.
    void read(QXmlStreamReader& reader) override;
    // "date" is written only when there is a date (AttributeError if it is not valid);
    // "checksum" only when there is a non-empty one, since an empty value would not read back.
    void write(QXmlStreamWriter& writer) const override;
};

struct ReconciliationsElement final : BasicElement {
    static constexpr Name tag_ = names::reconciliations;

    std::vector<ReconciliationElement> reconciliations;

    QLatin1String const& tagName() const override;
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

} // namespace zel::file_storage::internal
