// Every value that the budget file stores as text turns into that text and back, and a text
// that names no value is refused with an error that names it.
#include "accounting/Accounting.h"
#include "banking/Banking.h"
#include "budgeting/Budgeting.h"
#include "foundation/Error.h"
#include "money/Currency.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace zel;

namespace {

struct TextCase {
    std::string kind;
    int value;
    QString text;
    std::function<QString(int)> toText;
    std::function<int(QString const&)> fromText;
};

template <class E> TextCase textCase(std::string kind, E value, char const* text,
                                     QString (*toText)(E const&), E (*fromText)(QString const&)) {
    return {std::move(kind), static_cast<int>(value), QString::fromUtf8(text),
            [toText](int v) { return toText(static_cast<E>(v)); },
            [fromText](QString const& t) { return static_cast<int>(fromText(t)); }};
}

std::vector<TextCase> textCases() {
    using namespace accounting;
    using namespace budgeting;
    using namespace banking;
    QString (*itemText)(BudgetItemTypes const&) = &budgeting::toWeak;
    QString (*frequencyText)(EventFrequency const&) = &budgeting::presentationText;
    QString (*accountTypeText)(AccountTypes const&) = &accounting::presentationText;
    QString (*statusText)(TransactionStatuses const&) = &accounting::presentationText;
    QString (*bankTypeText)(SupportedAccountTypes const&) = &banking::presentationText;
    return {
        textCase("frequency", EventFrequency::once, "Once", frequencyText, &toEventFrequency),
        textCase("frequency", EventFrequency::daily, "Daily", frequencyText, &toEventFrequency),
        textCase("frequency", EventFrequency::weekly, "Weekly", frequencyText, &toEventFrequency),
        textCase("frequency", EventFrequency::fortnightly, "Fortnightly", frequencyText, &toEventFrequency),
        textCase("frequency", EventFrequency::monthly, "Monthly", frequencyText, &toEventFrequency),
        textCase("frequency", EventFrequency::quarterly, "Quarterly", frequencyText, &toEventFrequency),
        textCase("frequency", EventFrequency::semiAnnually, "Semi-annually", frequencyText, &toEventFrequency),
        textCase("frequency", EventFrequency::annually, "Annually", frequencyText, &toEventFrequency),
        textCase("accountType", AccountTypes::asset, "Asset", accountTypeText, &toAccountTypes),
        textCase("accountType", AccountTypes::liability, "Liability", accountTypeText, &toAccountTypes),
        textCase("accountType", AccountTypes::equity, "Equity", accountTypeText, &toAccountTypes),
        textCase("accountType", AccountTypes::income, "Income", accountTypeText, &toAccountTypes),
        textCase("accountType", AccountTypes::expense, "Expense", accountTypeText, &toAccountTypes),
        textCase("status", TransactionStatuses::pending, "Pending", statusText, &toTransactionStatuses),
        textCase("status", TransactionStatuses::cleared, "Cleared", statusText, &toTransactionStatuses),
        textCase("status", TransactionStatuses::reconciled, "Reconciled", statusText, &toTransactionStatuses),
        textCase("bankType", SupportedAccountTypes::checking, "Checking", bankTypeText, &toSupportedAccountTypes),
        textCase("bankType", SupportedAccountTypes::savings, "Savings", bankTypeText, &toSupportedAccountTypes),
        textCase("bankType", SupportedAccountTypes::creditCard, "Credit Card", bankTypeText, &toSupportedAccountTypes),
        textCase("bankType", SupportedAccountTypes::loan, "Loan", bankTypeText, &toSupportedAccountTypes),
        textCase("bankType", SupportedAccountTypes::investment, "Investment", bankTypeText, &toSupportedAccountTypes),
        textCase("itemType", BudgetItemTypes::bill, "bill", itemText, &toBudgetItemTypes),
        textCase("itemType", BudgetItemTypes::debt, "debt", itemText, &toBudgetItemTypes),
        textCase("itemType", BudgetItemTypes::goal, "goal", itemText, &toBudgetItemTypes),
        textCase("itemType", BudgetItemTypes::nontrack, "nontrack", itemText, &toBudgetItemTypes),
        textCase("itemType", BudgetItemTypes::wage, "wage", itemText, &toBudgetItemTypes),
    };
}

class StoredTexts : public testing::TestWithParam<TextCase> {};

TEST_P(StoredTexts, TurnIntoTheirTextAndBack) {
    auto const& c = GetParam();
    EXPECT_EQ(c.toText(c.value), c.text);
    EXPECT_EQ(c.fromText(c.text), c.value);
}

TEST_P(StoredTexts, RefuseOtherSpellingsNamingTheText) {
    auto const& c = GetParam();
    for (QString const& wrong : {c.text.toUpper(), c.text.toLower(), QLatin1Char(' ') + c.text,
                                 c.text + QLatin1Char(' '), QString()}) {
        if (wrong == c.text) {
            continue;
        }
        try {
            c.fromText(wrong);
            ADD_FAILURE() << "accepted '" << wrong.toStdString() << "'";
        } catch (foundation::Error const& error) {
            EXPECT_TRUE(error.message().contains(QLatin1Char('\'') + wrong + QLatin1Char('\'')))
                << error.message().toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllKinds, StoredTexts, testing::ValuesIn(textCases()),
                         [](auto const& p) {
                             auto name = p.param.kind + "_" + p.param.text.toStdString();
                             std::erase_if(name, [](char c) { return !std::isalnum(c) && c != '_'; });
                             return name;
                         });

TEST(BudgetItemTypes, KeepTheirStoredValues) {
    using budgeting::BudgetItemTypes;
    EXPECT_EQ(static_cast<int>(BudgetItemTypes::bill), 1);
    EXPECT_EQ(static_cast<int>(BudgetItemTypes::debt), 2);
    EXPECT_EQ(static_cast<int>(BudgetItemTypes::goal), 3);
    EXPECT_EQ(static_cast<int>(BudgetItemTypes::nontrack), 4);
    EXPECT_EQ(static_cast<int>(BudgetItemTypes::wage), 5);
    EXPECT_EQ(budgeting::presentationText(BudgetItemTypes::nontrack), QStringLiteral("Nontrack"));
    EXPECT_EQ(budgeting::presentationText(BudgetItemTypes::wage), QStringLiteral("Wage"));
}

TEST(Abbreviations, AreDrAndCr) {
    EXPECT_EQ(accounting::debitAbbreviation(), QStringLiteral("Dr"));
    EXPECT_EQ(accounting::creditAbbreviation(), QStringLiteral("Cr"));
}

TEST(CurrencyCodes, EveryActiveCodeTurnsIntoThreeCapitalsAndBack) {
    auto const codes = orvalis::currency::allIso4217Codes();
    EXPECT_GT(codes.size(), 150u);
    for (auto const code : codes) {
        auto const text = orvalis::currency::toStdString(code);
        ASSERT_EQ(text.size(), 3u);
        for (char const c : text) {
            EXPECT_TRUE(c >= 'A' && c <= 'Z') << text;
        }
        EXPECT_EQ(orvalis::currency::toIso4217Code(text), code) << text;
    }
    EXPECT_EQ(orvalis::currency::toStdString(orvalis::currency::Iso4217Codes::EUR), "EUR");
}

TEST(CurrencyCodes, RefuseTextsThatNameNoActiveCode) {
    for (std::string const wrong : {"", "eur", "EU", "EURO", " USD", "ZZZ", "HRK"}) {
        EXPECT_THROW(orvalis::currency::toIso4217Code(wrong), foundation::Error) << wrong;
    }
}

TEST(PresentationTexts, ShowNumbersAndNamesPlainly) {
    EXPECT_EQ(accounting::presentationText(accounting::AccountNumber(4294967295u)),
              QStringLiteral("4294967295"));
    EXPECT_EQ(budgeting::presentationText(budgeting::BudgetSource(QStringLiteral(" Rent "))),
              QStringLiteral(" Rent "));
}

TEST(BudgetMaps, RefuseASecondItemWithTheSameSource) {
    using namespace budgeting;
    orvalis::currency::Money const money(1, 0, orvalis::currency::Iso4217Codes::USD);
    BillMap bills;
    bills.add(Bill(BudgetSource(QStringLiteral("Rent")), money, EventFrequency::monthly, QDate(2026, 1, 1)));
    EXPECT_THROW(bills.add(Bill(BudgetSource(QStringLiteral("Rent")), money, EventFrequency::weekly,
                                QDate(2026, 2, 1))),
                 foundation::Error);
    EXPECT_EQ(bills.size(), 1u);
    EXPECT_EQ(bills.begin()->second.period(), EventFrequency::monthly);
}

TEST(AccountCodes, AreIdentifiedByTheirNumberAlone) {
    using namespace accounting;
    AccountCode const full(AccountNumber(7), QStringLiteral("Cash"), AccountNumber(1));
    AccountCode const bare(AccountNumber(7), std::nullopt);
    EXPECT_TRUE(full == bare);
    EXPECT_FALSE(full < bare || bare < full);
    EXPECT_TRUE(bare < AccountCode(AccountNumber(8), std::nullopt));
}

} // namespace
