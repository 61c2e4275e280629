// export: the whole budget as JSON, or its transactions as CSV. docs/budget-file-export.md
// describes both.
#include "JsonText.h"
#include "Tool.h"
#include "Values.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace zel::tool {

namespace {

// ---- JSON ----------------------------------------------------------------------------------

template <class Item, class Map, class Extra>
void appendItems(QByteArray& out, char const* name, Map const& map,
                 storage::ItemAccountMap const& items, Extra const& extra, bool first = false) {
    JsonArray array(appendMember(out, 4, name, first), 4);
    for (auto const& [source, item] : map) {
        JsonObject record(array.next());
        record.text("name", source.name())
            .money("amount", item.amount())
            .text("period", budgeting::presentationText(item.period()))
            .text("nextOccurOn", item.nextOccurOn().toString(Qt::ISODate))
            .integer("account", itemAccount<Item>(items, source));
        extra(record, item);
        record.end();
    }
    array.end();
}

void appendLedger(QByteArray& out, accounting::GeneralLedger const& ledger) {
    JsonArray accounts(appendMember(out, 2, "accounts"), 2);
    for (auto const& [key, ledgerAccount] : ledger.ledgers()) {
        auto const& account = ledgerAccount.account;
        auto const& parent = account.code().parent();
        JsonObject(accounts.next())
            .integer("number", account.code().number().integer())
            .text("name", account.code().name())
            .text("type", accounting::presentationText(account.type()))
            .integer("parent", parent ? std::optional(parent->integer()) : std::nullopt)
            .money("balance", account.balance())
            .boolean("closed", account.isClosed())
            .end();
    }
    accounts.end();
    auto const& opening = ledger.openingAccountCode();
    appendMember(out, 2, "openingAccount") +=
        opening ? QByteArray::number(opening->number().integer()) : QByteArray("null");

    JsonArray transactions(appendMember(out, 2, "transactions"), 2);
    for (auto const& [number, transaction] : transactionsOnce(ledger)) {
        JsonObject(transactions.next())
            .integer("number", number)
            .text("date", transaction->occurredOn().toString(Qt::ISODate))
            .integer("debited", transaction->debiting().number().integer())
            .integer("credited", transaction->crediting().number().integer())
            .money("amount", transaction->amount())
            .text("status", accounting::presentationText(transaction->status()))
            .text("description", transaction->description())
            .end();
    }
    transactions.end();
}

void appendBudget(QByteArray& out, budgeting::Budget const& budget,
                  storage::ItemAccountMap const& items) {
    appendMember(out, 2, "budgetItems") += '{';
    auto const none = [](JsonObject&, auto const&) {};
    appendItems<budgeting::Wage>(out, "wages", budget.wages(), items, none, true);
    appendItems<budgeting::Bill>(out, "bills", budget.bills(), items, none);
    appendItems<budgeting::Debt>(
        out, "debts", budget.debts(), items, [](JsonObject& record, budgeting::Debt const& debt) {
            // JSON has no not-a-number, which a file can hold: it is written as null.
            auto const interest = debt.interest().value;
            record.money("borrowed", debt.borrowed())
                .raw("interest", std::isfinite(interest) ? numberText(interest).toLatin1()
                                                         : QByteArray("null"));
        });
    appendItems<budgeting::Goal>(out, "goals", budget.goals(), items,
                                 [](JsonObject& record, budgeting::Goal const& goal) {
                                     record.money("final", goal.final());
                                 });
    appendItems<budgeting::Nontrack>(out, "nontracks", budget.nontracks(), items, none);
    out += "\n  }";
}

// The types of the banks' accounts are a map of their own: the ones of accounts that the bank
// holds are written with the bank, the others on their own, so that none is lost.
void appendBanks(QByteArray& out, banking::BankMap const& banks,
                 banking::AccountTypeMap const& types) {
    JsonArray bankArray(appendMember(out, 2, "banks"), 2);
    for (auto const& [name, bank] : banks) {
        auto const typesOfBank = types.find(name);
        JsonObject record(bankArray.next());
        record.text("name", name.institution()).boolean("closed", bank.isClosed());
        JsonArray held(record.key("accounts"));
        for (auto const& number : bank.accounts()) {
            std::optional<QString> type;
            if (typesOfBank != types.end()) {
                if (auto const found = typesOfBank->second.find(number);
                    found != typesOfBank->second.end()) {
                    type = banking::presentationText(found->second);
                }
            }
            JsonObject(held.next()).integer("number", number.integer()).text("type", type).end();
        }
        held.end();
        record.end();
    }
    bankArray.end();

    JsonArray unheld(appendMember(out, 2, "unheldAccountTypes"), 2);
    for (auto const& [name, typesOfBank] : types) {
        auto const bank = std::find_if(banks.begin(), banks.end(),
                                       [&](auto const& entry) { return entry.first == name; });
        for (auto const& [number, type] : typesOfBank) {
            if (bank == banks.end() || !bank->second.accounts().contains(number)) {
                JsonObject(unheld.next())
                    .text("bank", name.institution())
                    .integer("account", number.integer())
                    .text("type", banking::presentationText(type))
                    .end();
            }
        }
    }
    unheld.end();
}

void appendReconciliations(QByteArray& out, surveying::ReconciledSurveys const& surveys) {
    JsonArray reconciliations(appendMember(out, 2, "reconciliations"), 2);
    for (auto const& [account, survey] : surveys) {
        auto const& on = survey.reconciled().reconciledOn();
        JsonObject record(reconciliations.next());
        record.text("bank", account.bank.institution())
            .integer("account", account.code.number().integer())
            .text("type", banking::presentationText(account.type))
            .money("balance", survey.reconciled().balance())
            .text("reconciledOn", on ? std::optional(on->toString(Qt::ISODate)) : std::nullopt)
            .text("checksum", survey.checksum());
        JsonArray distribution(record.key("distribution"));
        for (auto const& [item, amount] : survey.distribution()) {
            JsonObject(distribution.next())
                .text("kind", budgeting::toWeak(item.type))
                .text("name", item.source.name())
                .money("amount", amount)
                .end();
        }
        distribution.end();
        record.end();
    }
    reconciliations.end();
}

QByteArray budgetJson(storage::BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    QByteArray out;
    out += '{';
    appendMember(out, 2, "format", true) += "\"budget-file export\"";
    appendMember(out, 2, "version") += '1';
    appendLedger(out, ledger);
    appendBudget(out, budget, items);
    appendBanks(out, banks, types);
    appendReconciliations(out, surveys);
    out += "\n}\n";
    return out;
}

// ---- CSV -----------------------------------------------------------------------------------

// A field as RFC 4180 has it: quoted when it holds a comma, a quote or a line break, with its
// quotes doubled. With safe, a text that a spreadsheet would take for a formula (one that begins
// with =, +, -, @, a tab or a carriage return) begins with an apostrophe instead, which the
// spreadsheet shows as text.
void appendCsvField(QByteArray& out, QString const& text, bool safe) {
    bool const formula = safe && !text.isEmpty() && QStringView(u"=+-@\t\r").contains(text.front());
    auto const bytes = formula ? "'" + text.toUtf8() : text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r')) {
        out += bytes;
        return;
    }
    out += '"';
    for (char const c : bytes) {
        out += c == '"' ? QByteArrayView("\"\"") : QByteArrayView(&c, 1);
    }
    out += '"';
}

QString accountText(accounting::AccountCode const& code) {
    return QString::number(code.number().integer()) + QLatin1Char(' ') + code.name();
}

QByteArray transactionsCsv(accounting::GeneralLedger const& ledger, bool safe) {
    QByteArray out =
        "date,number,debited account,credited account,amount,currency,status,description\r\n";
    for (auto const& [number, transaction] : transactionsOnce(ledger)) {
        out += transaction->occurredOn().toString(Qt::ISODate).toLatin1();
        out += ',';
        out += QByteArray::number(number);
        out += ',';
        appendCsvField(out, accountText(transaction->debiting()), safe);
        out += ',';
        appendCsvField(out, accountText(transaction->crediting()), safe);
        out += ',';
        out += amountText(transaction->amount()).toLatin1();
        out += ',';
        out += codeText(transaction->amount().code()).toLatin1();
        out += ',';
        appendCsvField(out, accounting::presentationText(transaction->status()), safe);
        out += ',';
        appendCsvField(out, transaction->description().value_or(QString()), safe);
        out += "\r\n";
    }
    return out;
}

} // namespace

int exportBudget(Streams io, QString const& file, Options const& options) {
    auto const input = inputAt(io, options, file);
    if (!input) {
        return 1;
    }
    bool const toFile = !options.output.isEmpty() && options.output != QLatin1String("-");
    if (toFile) {
        // Even with --force, writing the export over the budget it comes from would lose it.
        if (QFileInfo::exists(options.output) &&
            QFileInfo(options.output).canonicalFilePath() == QFileInfo(file).canonicalFilePath()) {
            return fail(io, options, options.output,
                        QStringLiteral("is the file being exported; choose another output"));
        }
        // Refused before the load, which takes a while for a large budget.
        if (auto const refused = refusedOutput(options.output, options.force)) {
            return fail(io, options, options.output, *refused);
        }
    }
    std::optional<storage::BudgetState> state;
    try {
        Progress const progress(io, options, QStringLiteral("loading ") + file, input->unread());
        state.emplace(input->load());
    } catch (storage::StorageError const& error) {
        return fail(io, options, *input, error);
    }
    auto const bytes =
        options.format == QLatin1String("csv")
            ? transactionsCsv(std::get<accounting::GeneralLedger>(*state), options.csvSafe)
            : budgetJson(*state);
    if (auto const error = writeOutput(io, options.output, bytes, file, options.force)) {
        bool const toStandardOutput =
            options.output.isEmpty() || options.output == QLatin1String("-");
        return fail(io, options,
                    toStandardOutput ? QStringLiteral("standard output") : options.output, *error);
    }
    return 0;
}

} // namespace zel::tool
