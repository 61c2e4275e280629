#pragma once

#include "file-storage/document/BasicElement.h"
#include "file-storage/document/DocumentFormat.h"
#include "foundation/Optional.h"

#include <QDate>
#include <QString>
#include <QtGlobal>

#include <vector>

// The general ledger in the budget document: the chart of accounts ("accounts" of "account")
// and, per account, its ledger of transactions ("ledgers" of "ledger" of "transaction").
//
// Texts (names, type and status display texts, currency codes, entry abbreviations) are kept
// exactly as given; these elements do not interpret them.
namespace zel::file_storage::internal {

// One account of the chart of accounts; identifier is the account number.
struct AccountElement final : IndexedElement {
    static constexpr Name tag_ = names::account;

    QString name;
    QString type;
    qint64 major = 0;
    quint16 minor = 0;
    QString currency;
    bool closed = false;
    foundation::Optional<quint32> parentNumber;

    AccountElement() = default;
    // Throws BudgetFileError for identifier 0 and for a currency that is empty or blank.
    AccountElement(quint32 const& identifier, QString const& name, QString const& type,
                   qint64 const& major, quint16 const& minor, QString const& currency, bool closed,
                   foundation::Optional<quint32> parentNumber);

    QLatin1String const& tagName() const override;
    // Reads every attribute as required, except "parentId", which may be absent (but not
    // empty). A blank currency is accepted here; only the constructor refuses it.
    void read(QXmlStreamReader& reader) override;
    // "parentId" is written only when there is a parent.
    void write(QXmlStreamWriter& writer) const override;
};

struct AccountsElement final : BasicElement {
    static constexpr Name tag_ = names::accounts;

    std::vector<AccountElement> accounts;

    QLatin1String const& tagName() const override;
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

// One transaction of a ledger; identifier is the transaction number. Its text content is the
// description.
struct TransactionElement final : IndexedElement {
    static constexpr Name tag_ = names::transaction;

    QDate date;
    quint32 otherAccountNumber = 0;
    QString entry;
    qint64 major = 0;
    quint16 minor = 0;
    QString currency;
    QString status;
    foundation::Optional<QString> description;

    TransactionElement() = default;
    // Throws BudgetFileError for identifier 0; nothing else is checked.
    TransactionElement(quint32 const& identifier, QDate const& date,
                       quint32 const& otherAccountNumber, QString const& entry, qint64 const& major,
                       quint16 const& minor, QString const& currency, QString const& status,
                       foundation::Optional<QString> description);

    QLatin1String const& tagName() const override;
    // Any non-empty text, white space included, becomes the description. A child element
    // inside the transaction puts the reader into its error state instead of throwing.
    void read(QXmlStreamReader& reader) override;
    // Throws AttributeError, with the start tag already written, when the date is not valid.
    void write(QXmlStreamWriter& writer) const override;
};

// The ledger of one account; identifier is the account's number.
struct LedgerElement final : IndexedElement {
    static constexpr Name tag_ = names::ledger;

    std::vector<TransactionElement> transactions;

    LedgerElement() = default;
    // Throws BudgetFileError for identifier 0.
    explicit LedgerElement(quint32 identifier);

    QLatin1String const& tagName() const override;
    // Only for a reader that its parent has already found on a "ledger" start tag: it neither
    // checks the tag nor logs.
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

struct LedgersElement final : BasicElement {
    static constexpr Name tag_ = names::ledgers;

    // The ledger's opening account, if it has one.
    foundation::Optional<quint32> openingAccountNumber;
    std::vector<LedgerElement> ledgers;

    LedgersElement() = default;
    explicit LedgersElement(foundation::Optional<quint32> openingAccountNumber);

    QLatin1String const& tagName() const override;
    // A missing "openingAccountId" is logged at info level and leaves no opening account; one
    // that is present is read as a number, so an empty value fails.
    void read(QXmlStreamReader& reader) override;
    void write(QXmlStreamWriter& writer) const override;
};

} // namespace zel::file_storage::internal
