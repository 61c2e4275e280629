#pragma once

#include "zel/accounting/Accounting.h"
#include "zel/foundation/Optional.h"
#include "zel/money/Currency.h"

#include <QDate>
#include <QString>

#include <map>
#include <set>
#include <tuple>

namespace zel::banking {

class BankName {
public:
    explicit BankName(QString institution) : institution_(std::move(institution)) {}
    QString const& institution() const { return institution_; }
    friend bool operator<(BankName const& a, BankName const& b) {
        return a.institution_ < b.institution_;
    }
    friend bool operator==(BankName const&, BankName const&) = default;

private:
    QString institution_;
};

class Bank {
public:
    Bank(BankName name, std::set<accounting::AccountNumber> accounts, bool closed)
        : name_(std::move(name)), accounts_(std::move(accounts)), closed_(closed) {}

    BankName const& name() const { return name_; }
    std::set<accounting::AccountNumber> const& accounts() const { return accounts_; }
    bool isClosed() const { return closed_; }

private:
    BankName name_;
    std::set<accounting::AccountNumber> accounts_;
    bool closed_;
};

class BankMap {
public:
    using Banks = std::map<BankName, Bank>;
    BankMap() = default;
    explicit BankMap(Banks banks) : banks_(std::move(banks)) {}

    Banks::const_iterator begin() const { return banks_.begin(); }
    Banks::const_iterator end() const { return banks_.end(); }
    std::size_t size() const { return banks_.size(); }

private:
    Banks banks_;
};

enum class SupportedAccountTypes { checking, savings, creditCard, loan, investment };
SupportedAccountTypes toSupportedAccountTypes(QString const& text);
QString presentationText(SupportedAccountTypes const& type);

// Per bank, the account numbers it holds and the bank's type of each.
using AccountTypeMap =
    std::map<BankName, std::map<accounting::AccountNumber, SupportedAccountTypes>>;

// One account of one bank.
struct BankAccount {
    BankName bank;
    accounting::AccountCode code;
    SupportedAccountTypes type;

    friend bool operator<(BankAccount const& a, BankAccount const& b) {
        return std::tie(a.bank, a.code, a.type) < std::tie(b.bank, b.code, b.type);
    }
};

class ReconciledBankAccount {
public:
    ReconciledBankAccount(BankAccount account, orvalis::currency::Money balance,
                          foundation::Optional<QDate> reconciledOn)
        : account_(std::move(account)), balance_(balance), reconciledOn_(std::move(reconciledOn)) {}

    BankAccount const& account() const { return account_; }
    orvalis::currency::Money const& balance() const { return balance_; }
    foundation::Optional<QDate> const& reconciledOn() const { return reconciledOn_; }

private:
    BankAccount account_;
    orvalis::currency::Money balance_;
    foundation::Optional<QDate> reconciledOn_;
};

} // namespace zel::banking
