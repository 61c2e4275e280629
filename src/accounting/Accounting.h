#pragma once

#include "zel/foundation/Optional.h"
#include "zel/money/Currency.h"

#include <QDate>
#include <QString>

#include <compare>
#include <map>

namespace zel::accounting {

// The number of a ledger account.
class AccountNumber {
public:
    explicit AccountNumber(unsigned int value) : value_(value) {}
    unsigned int const& integer() const { return value_; }
    friend auto operator<=>(AccountNumber const&, AccountNumber const&) = default;

private:
    unsigned int value_;
};

QString presentationText(AccountNumber const& number);

// An account's number, name and parent account. Codes are identified by their number alone:
// two codes with the same number order and compare as equal whatever their names or parents,
// so a code built from a number finds the full code in a map.
class AccountCode {
public:
    AccountCode() : number_(0) {}
    AccountCode(AccountNumber number, foundation::Optional<AccountNumber> parent)
        : number_(number), parent_(parent) {}
    AccountCode(AccountNumber number, QString name, foundation::Optional<AccountNumber> parent)
        : number_(number), name_(std::move(name)), parent_(parent) {}

    AccountNumber const& number() const { return number_; }
    QString const& name() const { return name_; }
    foundation::Optional<AccountNumber> const& parent() const { return parent_; }

    friend bool operator<(AccountCode const& a, AccountCode const& b) {
        return a.number_ < b.number_;
    }
    friend bool operator==(AccountCode const& a, AccountCode const& b) {
        return a.number_ == b.number_;
    }

private:
    AccountNumber number_;
    QString name_;
    foundation::Optional<AccountNumber> parent_;
};

enum class AccountTypes { asset, liability, equity, income, expense };
AccountTypes toAccountTypes(QString const& text);
QString presentationText(AccountTypes const& type);

enum class TransactionStatuses { pending, cleared, reconciled };
TransactionStatuses toTransactionStatuses(QString const& text);
QString presentationText(TransactionStatuses const& status);

// The texts that mark the side of a transaction on which an account stands.
QString const& debitAbbreviation();
QString const& creditAbbreviation();

class Account {
public:
    Account(AccountTypes type, AccountCode code, orvalis::currency::Money const& balance,
            bool closed)
        : type_(type), code_(std::move(code)), balance_(balance), closed_(closed) {}

    AccountTypes const& type() const { return type_; }
    AccountCode const& code() const { return code_; }
    orvalis::currency::Money const& balance() const { return balance_; }
    bool isClosed() const { return closed_; }

private:
    AccountTypes type_;
    AccountCode code_;
    orvalis::currency::Money balance_;
    bool closed_;
};

class TransactionNumber {
public:
    explicit TransactionNumber(unsigned int const& value) : value_(value) {}
    unsigned int const& integer() const { return value_; }
    friend auto operator<=>(TransactionNumber const&, TransactionNumber const&) = default;

private:
    unsigned int value_;
};

class Transaction {
public:
    Transaction(QDate const& occurredOn, AccountCode const& debiting, AccountCode const& crediting,
                orvalis::currency::Money const& amount, foundation::Optional<QString> description,
                foundation::Optional<TransactionNumber> number, TransactionStatuses const& status)
        : occurredOn_(occurredOn), debiting_(debiting), crediting_(crediting), amount_(amount),
          description_(std::move(description)), number_(number), status_(status) {}

    QDate const& occurredOn() const { return occurredOn_; }
    AccountCode const& debiting() const { return debiting_; }
    AccountCode const& crediting() const { return crediting_; }
    orvalis::currency::Money const& amount() const { return amount_; }
    foundation::Optional<QString> const& description() const { return description_; }
    foundation::Optional<TransactionNumber> const& number() const { return number_; }
    TransactionStatuses const& status() const { return status_; }

private:
    QDate occurredOn_;
    AccountCode debiting_;
    AccountCode crediting_;
    orvalis::currency::Money amount_;
    foundation::Optional<QString> description_;
    foundation::Optional<TransactionNumber> number_;
    TransactionStatuses status_;
};

// One account with the transactions of its ledger.
struct LedgerAccount {
    Account account;
    std::map<TransactionNumber, Transaction> transactions;
};

class GeneralLedger {
public:
    GeneralLedger(std::map<AccountCode, LedgerAccount> ledgers,
                  foundation::Optional<AccountCode> openingAccountCode)
        : ledgers_(std::move(ledgers)), openingAccountCode_(std::move(openingAccountCode)) {}

    std::map<AccountCode, LedgerAccount> const& ledgers() const { return ledgers_; }
    foundation::Optional<AccountCode> const& openingAccountCode() const {
        return openingAccountCode_;
    }

private:
    std::map<AccountCode, LedgerAccount> ledgers_;
    foundation::Optional<AccountCode> openingAccountCode_;
};

} // namespace zel::accounting
