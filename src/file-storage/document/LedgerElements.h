#pragma once

#include "file-storage/document/DocumentFormat.h"
#include "file-storage/document/TableElement.h"
#include "foundation/Optional.h"

#include <QDate>
#include <QString>
#include <QtGlobal>

#include <vector>

// The general ledger in the budget document: the chart of accounts ("accounts" of "account")
// and, per account, its ledger of transactions ("ledgers" of "ledger" of "transaction").
//
// Texts (names, type and status display texts, currency codes, entry abbreviations) are kept
// exactly as given; these elements do not interpret them. Each element reads and writes its
// attributes as its element in format::elements lists them (TableElement.h).
namespace zel::file_storage::internal {

// One account of the chart of accounts; identifier is the account number. "parentId" is
// written only when there is a parent. A blank currency is read as it stands; only the
// constructor refuses it.
struct AccountElement final : LeafElement<AccountElement, IndexedElement> {
    static constexpr format::Element const& form_ =
        format::elementAt(names::accounts, names::account);

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

    static constexpr auto fields() {
        return std::tuple{&AccountElement::identifier, &AccountElement::name,
                          &AccountElement::type,       &AccountElement::major,
                          &AccountElement::minor,      &AccountElement::currency,
                          &AccountElement::closed,     &AccountElement::parentNumber};
    }
};

struct AccountsElement final : ParentElement<AccountsElement, AccountElement> {
    static constexpr bool logsWriting_ = true;
    static constexpr format::Element const& form_ =
        format::elementAt(names::application, names::accounts);

    std::vector<AccountElement> accounts;
};

// One transaction of a ledger; identifier is the transaction number. Its text content is the
// description: any non-empty text, white space included. A child element inside the
// transaction puts the reader into its error state instead of throwing.
struct TransactionElement final : LeafElement<TransactionElement, IndexedElement> {
    static constexpr format::Element const& form_ =
        format::elementAt(names::ledger, names::transaction);

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

    static constexpr auto fields() {
        return std::tuple{&TransactionElement::identifier,
                          &TransactionElement::date,
                          &TransactionElement::otherAccountNumber,
                          &TransactionElement::entry,
                          &TransactionElement::major,
                          &TransactionElement::minor,
                          &TransactionElement::currency,
                          &TransactionElement::status};
    }
    void readContent(QXmlStreamReader& reader);
    void writeContent(QXmlStreamWriter& writer) const;
};

// The ledger of one account; identifier is the account's number. Read only from a reader that
// its parent has already found on a "ledger" start tag: it neither checks the tag nor logs.
struct LedgerElement final : ParentElement<LedgerElement, TransactionElement, IndexedElement> {
    static constexpr bool checksStart_ = false;
    static constexpr format::Element const& form_ =
        format::elementAt(names::ledgers, names::ledger);

    std::vector<TransactionElement> transactions;
    static constexpr auto children_ = &LedgerElement::transactions;

    LedgerElement() = default;
    // Throws BudgetFileError for identifier 0.
    explicit LedgerElement(quint32 identifier);

    static constexpr auto fields() { return std::tuple{&LedgerElement::identifier}; }
};

// A missing "openingAccountId" is logged at info level and leaves no opening account.
struct LedgersElement final : ParentElement<LedgersElement, LedgerElement> {
    static constexpr bool logsWriting_ = true;
    static constexpr format::Element const& form_ =
        format::elementAt(names::application, names::ledgers);

    // The ledger's opening account, if it has one.
    foundation::Optional<quint32> openingAccountNumber;
    std::vector<LedgerElement> ledgers;
    static constexpr auto children_ = &LedgersElement::ledgers;

    static constexpr auto fields() { return std::tuple{&LedgersElement::openingAccountNumber}; }
    void attributesRead(QXmlStreamReader& reader) const;
};

} // namespace zel::file_storage::internal
