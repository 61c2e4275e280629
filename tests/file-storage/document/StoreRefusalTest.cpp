// Budget states that the store must refuse rather than write a file that does not load or loads
// to another budget: documents that load to such a state, and changes to the small full budget
// of tests/support, in tests/data/documents/store-refusals.manifest. (A debt whose interest is not
// a number loads from a document and is stored as "nan": a row of canonical.manifest.)
#include "DocumentSupport.h"

#include "support/Budgets.h"
#include "support/Manifest.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

namespace {

using namespace zel::accounting;
using namespace zel::banking;
using namespace zel::budgeting;
using zel::storage::BudgetState;
using zel::surveying::ReconciledSurvey;
using zel::surveying::ReconciledSurveys;

orvalis::currency::Money const dollar(1, 0, orvalis::currency::Iso4217Codes::USD);

AccountCode code(unsigned number, QString const& name = {}) {
    return AccountCode(AccountNumber(number), name, std::nullopt);
}

// The small full budget, in parts that a case can change.
struct Parts {
    BudgetState s = zel::testing::smallFullBudget();
    std::map<AccountCode, LedgerAccount> ledgers = std::get<GeneralLedger>(s).ledgers();
    std::optional<AccountCode> opening = std::get<GeneralLedger>(s).openingAccountCode();
    BankMap::Banks banks{std::get<BankMap>(s).begin(), std::get<BankMap>(s).end()};
    ReconciledSurveys::Surveys surveys{std::get<ReconciledSurveys>(s).begin(),
                                       std::get<ReconciledSurveys>(s).end()};

    BudgetState state() const {
        auto result = s;
        std::get<GeneralLedger>(result) = GeneralLedger(ledgers, opening);
        std::get<BankMap>(result) = BankMap(banks);
        std::get<ReconciledSurveys>(result) = ReconciledSurveys(surveys);
        return result;
    }
};

// A text of the manifest, each \uXXXX in it turned into that UTF-16 unit.
QString unescaped(QString text) {
    for (auto at = text.indexOf(QLatin1String("\\u")); at >= 0;
         at = text.indexOf(QLatin1String("\\u"), at + 1)) {
        text.replace(at, 6, QChar(text.mid(at + 2, 4).toUShort(nullptr, 16)));
    }
    return text;
}

// "Y M D", "invalid" (a date that is no date), or nothing ("-" or no field).
std::optional<QDate> dateOf(QStringList const& fields, qsizetype at) {
    if (fields.size() <= at || fields[at] == QLatin1String("-")) {
        return std::nullopt;
    }
    auto const n = fields[at].split(QLatin1Char(' '));
    return n.size() == 3 ? QDate(n[0].toInt(), n[1].toInt(), n[2].toInt()) : QDate();
}

// Makes one change line of the manifest (see its head) to parts.
void change(Parts& p, std::string const& line) {
    QStringList f;
    for (auto const& field : QString::fromStdString(line).split(QLatin1Char('|'))) {
        f << (field.trimmed().isEmpty() ? QString() : unescaped(field.trimmed()));
    }
    auto const n = [&](qsizetype at) { return f[at].toUInt(); };
    auto const text = [&](qsizetype at) {
        return f.size() <= at || f[at] == QLatin1String("-") ? std::nullopt : std::optional(f[at]);
    };
    auto const& op = f[0];
    auto& s = p.s;
    if (op == QLatin1String("item")) {
        // Due once, on the date given or the first of 2026, and booked to its account, if any.
        BudgetSource const source(f[2]);
        QDate const on = dateOf(f, 4).value_or(QDate(2026, 1, 1));
        auto const once = EventFrequency::once;
        auto& budget = std::get<Budget>(s);
        auto const add = [&](auto& items, auto item) {
            items.add(item);
            if (f[3] != QLatin1String("-")) {
                std::get<zel::storage::ItemAccountMap>(s).insert<decltype(item)>(source,
                                                                                 code(n(3)));
            }
        };
        if (f[1] == QLatin1String("wage")) {
            add(budget.wages(), Wage(source, dollar, once, on));
        } else if (f[1] == QLatin1String("bill")) {
            add(budget.bills(), Bill(source, dollar, once, on));
        } else if (f[1] == QLatin1String("debt")) {
            double const interest = f.size() > 5 ? std::stod(f[5].toStdString()) : 0.1;
            add(budget.debts(), Debt(source, dollar, once, on, dollar, Percentage{interest}));
        } else if (f[1] == QLatin1String("goal")) {
            add(budget.goals(), Goal(source, dollar, once, on, dollar));
        } else {
            add(budget.nontracks(), Nontrack(source, dollar, once, on));
        }
    } else if (op == QLatin1String("account")) {
        auto const account = code(n(1), f[2]);
        p.ledgers.emplace(account,
                          LedgerAccount{Account(AccountTypes::asset, account, dollar, false), {}});
    } else if (op == QLatin1String("bank")) {
        std::set<AccountNumber> accounts;
        for (qsizetype i = 2; i < f.size(); ++i) {
            accounts.insert(AccountNumber(n(i)));
            std::get<AccountTypeMap>(s)[BankName(f[1])][AccountNumber(n(i))] =
                SupportedAccountTypes::checking;
        }
        p.banks.insert_or_assign(BankName(f[1]), Bank(BankName(f[1]), accounts, false));
    } else if (op == QLatin1String("hold")) {
        // Of one dollar, pending, on the date given or the fifth of January 2026.
        TransactionNumber const number(n(1));
        Transaction const held(dateOf(f, 6).value_or(QDate(2026, 1, 5)), code(n(2)), code(n(3)),
                               dollar, text(5), number, TransactionStatuses::pending);
        for (auto const& in : f[4].split(QLatin1Char(' '))) {
            p.ledgers.at(code(in.toUInt())).transactions.insert_or_assign(number, held);
        }
    } else if (op == QLatin1String("reconcile")) {
        // Replacing a reconciliation of that bank account.
        ReconciledSurvey::Distribution distribution;
        if (auto const item = text(5)) {
            auto const words = item->split(QLatin1Char(' '));
            distribution.insert_or_assign({toBudgetItemTypes(words[0]), BudgetSource(words[1])},
                                          dollar);
        }
        BankAccount const key{BankName(f[1]), code(n(2)), SupportedAccountTypes::checking};
        p.surveys.insert_or_assign(
            key, ReconciledSurvey(ReconciledBankAccount(key, dollar, dateOf(f, 4)), distribution,
                                  text(3)));
    } else if (op == QLatin1String("opening")) {
        p.opening = code(n(1));
    } else {
        std::get<AccountTypeMap>(s)[BankName(f[1])].erase(AccountNumber(n(2)));
    }
}

class RefusedValue : public ::testing::TestWithParam<zel::testing::Record> {};

TEST_P(RefusedValue, IsRefusedWithItsTexts) {
    auto const& row = GetParam();
    Parts parts;
    for (auto const& line : row.values("change")) {
        change(parts, line);
    }
    auto const state = row.has("document")
                           ? zel::testing::loadDocument(zel::testing::dataFile(
                                 QStringLiteral("documents/") + row.text("document")))
                           : parts.state();
    if (row.has("state")) {
        EXPECT_EQ(
            zel::testing::describe(state),
            zel::testing::dataFile(QStringLiteral("documents/") + row.text("state")).toStdString());
    }
    std::string const error = row.has("class") ? row.value("class") : "BudgetFileError";
    QByteArray written;
    EXPECT_EQ(zel::testing::errorOf([&] { zel::testing::storeDocument(state, false, &written); }),
              "class: " + error +
                  "\nfirst: The budget file is not valid.  Error appears at line 0, column 0.\n"
                  "second: " +
                  unescaped(row.text("second")).toStdString() +
                  "\ncause: " + (row.has("cause") ? row.value("cause") : "std::exception"));
    // Dates are checked as they are written, after the start of the document; every other value
    // is refused while the element tree is built, before anything but the declaration.
    if (error == "BudgetFileError") {
        EXPECT_EQ(written.toStdString(), R"(<?xml version="1.0" encoding="UTF-8"?>)");
    }
}

INSTANTIATE_TEST_SUITE_P(Store, RefusedValue,
                         ::testing::ValuesIn(zel::testing::readManifest(
                             QStringLiteral("documents/store-refusals.manifest"))),
                         zel::testing::recordName);

// A reader refuses an empty checksum and reads an empty description as none, so neither is
// written: the document loads, with neither value.
TEST(StoredValue, EmptyChecksumAndDescriptionAreLeftOutAndLoadAsNone) {
    Parts parts;
    change(parts, "hold | 5 | 500 | 101 | 101 | ");
    change(parts, "reconcile | First Bank | 101 | ");
    auto const text = zel::testing::describe(
        zel::testing::loadDocument(zel::testing::storeDocument(parts.state())));
    EXPECT_NE(text.find(" 1.0 USD Pending description=none\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" balance=1.0 USD on=none checksum=none\n"), std::string::npos) << text;
}

} // namespace
