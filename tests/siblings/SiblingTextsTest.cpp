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

// One case for each value of E and its text.
template <class E>
void addCases(std::vector<TextCase>& cases, std::string const& kind, QString (*toText)(E const&),
              E (*fromText)(QString const&), std::vector<std::pair<E, char const*>> const& texts) {
    for (auto const& [value, text] : texts) {
        cases.push_back({kind, static_cast<int>(value), QString::fromUtf8(text),
                         [toText](int v) { return toText(static_cast<E>(v)); },
                         [fromText](QString const& t) { return static_cast<int>(fromText(t)); }});
    }
}

std::vector<TextCase> textCases() {
    using namespace accounting;
    using namespace budgeting;
    using namespace banking;
    using F = EventFrequency;
    std::vector<TextCase> cases;
    addCases<F>(cases, "frequency", &budgeting::presentationText, &toEventFrequency,
                {std::pair(F::once, "Once"), std::pair(F::daily, "Daily"),
                 std::pair(F::weekly, "Weekly"), std::pair(F::fortnightly, "Fortnightly"),
                 std::pair(F::monthly, "Monthly"), std::pair(F::quarterly, "Quarterly"),
                 std::pair(F::semiAnnually, "Semi-annually"), std::pair(F::annually, "Annually")});
    using A = AccountTypes;
    addCases<A>(cases, "accountType", &accounting::presentationText, &toAccountTypes,
                {std::pair(A::asset, "Asset"), std::pair(A::liability, "Liability"),
                 std::pair(A::equity, "Equity"), std::pair(A::income, "Income"),
                 std::pair(A::expense, "Expense")});
    using S = TransactionStatuses;
    addCases<S>(cases, "status", &accounting::presentationText, &toTransactionStatuses,
                {std::pair(S::pending, "Pending"), std::pair(S::cleared, "Cleared"),
                 std::pair(S::reconciled, "Reconciled")});
    using B = SupportedAccountTypes;
    addCases<B>(cases, "bankType", &banking::presentationText, &toSupportedAccountTypes,
                {std::pair(B::checking, "Checking"), std::pair(B::savings, "Savings"),
                 std::pair(B::creditCard, "Credit Card"), std::pair(B::loan, "Loan"),
                 std::pair(B::investment, "Investment")});
    using I = BudgetItemTypes;
    addCases<I>(cases, "itemType", &budgeting::toWeak, &toBudgetItemTypes,
                {std::pair(I::bill, "bill"), std::pair(I::debt, "debt"), std::pair(I::goal, "goal"),
                 std::pair(I::nontrack, "nontrack"), std::pair(I::wage, "wage")});
    return cases;
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

INSTANTIATE_TEST_SUITE_P(AllKinds, StoredTexts, testing::ValuesIn(textCases()), [](auto const& p) {
    auto name = p.param.kind + "_" + p.param.text.toStdString();
    std::erase_if(name, [](char c) { return !std::isalnum(c) && c != '_'; });
    return name;
});

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
    bills.add(Bill(BudgetSource(QStringLiteral("Rent")), money, EventFrequency::monthly,
                   QDate(2026, 1, 1)));
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
