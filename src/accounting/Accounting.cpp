#include "accounting/Accounting.h"

#include "foundation/EnumTexts.h"

namespace zel::accounting {

namespace {

constexpr foundation::EnumTexts<AccountTypes, 5> accountTypeTexts{
    "account type",
    {{{AccountTypes::asset, "Asset"},
      {AccountTypes::liability, "Liability"},
      {AccountTypes::equity, "Equity"},
      {AccountTypes::income, "Income"},
      {AccountTypes::expense, "Expense"}}}};

constexpr foundation::EnumTexts<TransactionStatuses, 3> transactionStatusTexts{
    "transaction status",
    {{{TransactionStatuses::pending, "Pending"},
      {TransactionStatuses::cleared, "Cleared"},
      {TransactionStatuses::reconciled, "Reconciled"}}}};

} // namespace

QString presentationText(AccountNumber const& number) {
    return QString::number(number.integer());
}

AccountTypes toAccountTypes(QString const& text) {
    return accountTypeTexts.value(text);
}
QString presentationText(AccountTypes const& type) {
    return accountTypeTexts.text(type);
}

TransactionStatuses toTransactionStatuses(QString const& text) {
    return transactionStatusTexts.value(text);
}
QString presentationText(TransactionStatuses const& status) {
    return transactionStatusTexts.text(status);
}

QString const& debitAbbreviation() {
    static QString const text = QStringLiteral("Dr");
    return text;
}

QString const& creditAbbreviation() {
    static QString const text = QStringLiteral("Cr");
    return text;
}

} // namespace zel::accounting
