// The commands that look at one file and show it, write it elsewhere, or make one: summary,
// format, sample, restore and rates show.
#include "Tool.h"

#include "file-storage/ExchangeRatesFile.h"
#include "sample-budgets/SampleBudget.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <chrono>
#include <optional>

namespace zel::tool {

namespace {

using storage::BudgetState;

template <class Map, class Extra>
void itemTable(QTextStream& out, QString const& title, Map const& map,
               storage::ItemAccountMap const& items, QStringList extraHeaders, Extra extra) {
    using Item = typename Map::Items::mapped_type;
    QStringList headers{QStringLiteral("Name"), QStringLiteral("Amount"), QStringLiteral("Period"),
                        QStringLiteral("Next"), QStringLiteral("Account")};
    // The amount, the account's number and every extra column (amounts and rates) are numbers.
    std::vector<qsizetype> numbers{1, 4};
    for (qsizetype i = 0; i < extraHeaders.size(); ++i) {
        numbers.push_back(headers.size() + i);
    }
    Table table(headers + extraHeaders, numbers);
    for (auto const& [source, item] : map) {
        auto const& account = items.at<Item>(source);
        table.add(QStringList{source.name(), moneyText(item.amount()),
                              budgeting::presentationText(item.period()),
                              item.nextOccurOn().toString(Qt::ISODate),
                              QString::number(account.number().integer())} +
                  extra(item));
    }
    table.print(out, title);
}

// The document in from, copied token by token into a writer that indents one tab per level.
// False, with the reader's error, where it is not well-formed XML; bytes then holds the tokens
// before the error, and read how many characters of from they took.
bool indented(QByteArray const& from, QByteArray& bytes, QString& error, qint64* read = nullptr) {
    QBuffer output(&bytes);
    output.open(QIODevice::WriteOnly);
    QXmlStreamReader reader(from);
    QXmlStreamWriter writer(&output);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(-1);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.hasError()) {
            error = reader.errorString();
            // Ends a start tag that the writer holds open.
            writer.writeCharacters(QString());
            return false;
        }
        writer.writeCurrentToken(reader);
        if (read != nullptr) {
            *read = reader.characterOffset();
        }
    }
    return true;
}

// Whether the budget file and its back-up, a regular file (never opened when it is anything
// else, a named pipe say), can both be read and hold the same bytes.
bool sameBytes(QString const& a, QString const& b) {
    QFileInfo const backUp(b);
    if (!backUp.isFile() || backUp.isSymLink() || !QFileInfo(a).isFile()) {
        return false;
    }
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly) ||
        first.size() != second.size()) {
        return false;
    }
    while (!first.atEnd()) {
        constexpr qint64 block = 1 << 20;
        auto const bytes = first.read(block);
        if (bytes.isEmpty() || bytes != second.read(block)) {
            return false;
        }
    }
    return second.atEnd();
}

// The summary's table of the accounts of ledger.
void printAccounts(QTextStream& out, accounting::GeneralLedger const& ledger) {
    Table accounts({QStringLiteral("Number"), QStringLiteral("Name"), QStringLiteral("Type"),
                    QStringLiteral("Parent"), QStringLiteral("Balance"),
                    QStringLiteral("Transactions"), QStringLiteral("Closed")},
                   {0, 3, 4, 5});
    for (auto const& [code, ledgerAccount] : ledger.ledgers()) {
        auto const& account = ledgerAccount.account;
        accounts.add({QString::number(account.code().number().integer()), account.code().name(),
                      accounting::presentationText(account.type()),
                      account.code().parent() ? QString::number(account.code().parent()->integer())
                                              : QString(),
                      moneyText(account.balance()),
                      QString::number(ledgerAccount.transactions.size()),
                      account.isClosed() ? QStringLiteral("yes") : QString()});
    }
    accounts.print(out, QStringLiteral("Accounts"));
}

// The summary's table of the banks and their accounts.
void printBanks(QTextStream& out, banking::BankMap const& banks,
                banking::AccountTypeMap const& types) {
    Table bankTable({QStringLiteral("Bank"), QStringLiteral("Account"), QStringLiteral("Type"),
                     QStringLiteral("Closed")},
                    {1});
    for (auto const& [name, bank] : banks) {
        auto const typesOfBank = types.find(name);
        for (auto const& number : bank.accounts()) {
            QString type;
            if (typesOfBank != types.end()) {
                if (auto const found = typesOfBank->second.find(number);
                    found != typesOfBank->second.end()) {
                    type = banking::presentationText(found->second);
                }
            }
            bankTable.add({name.institution(), QString::number(number.integer()), type,
                           bank.isClosed() ? QStringLiteral("yes") : QString()});
        }
        if (bank.accounts().empty()) {
            bankTable.add({name.institution(), QString(), QString(),
                           bank.isClosed() ? QStringLiteral("yes") : QString()});
        }
    }
    bankTable.print(out, QStringLiteral("Bank accounts"));
}

// The summary's table of the reconciliations.
void printReconciliations(QTextStream& out, surveying::ReconciledSurveys const& surveys) {
    Table reconciliations({QStringLiteral("Bank"), QStringLiteral("Account"),
                           QStringLiteral("Balance"), QStringLiteral("Reconciled on"),
                           QStringLiteral("Checksum"), QStringLiteral("Distribution")},
                          {2});
    for (auto const& [account, survey] : surveys) {
        QStringList parts;
        for (auto const& [item, amount] : survey.distribution()) {
            parts << QStringLiteral("%1 '%2' %3")
                         .arg(budgeting::presentationText(item.type), item.source.name(),
                              moneyText(amount));
        }
        auto const& on = survey.reconciled().reconciledOn();
        reconciliations.add(
            {account.bank.institution(),
             QStringLiteral("%1 %2").arg(account.code.number().integer()).arg(account.code.name()),
             moneyText(survey.reconciled().balance()), on ? on->toString(Qt::ISODate) : QString(),
             survey.checksum().value_or(QString()), parts.join(QStringLiteral(", "))});
    }
    reconciliations.print(out, QStringLiteral("Reconciliations"));
}

} // namespace

int summary(Streams io, QString const& file, Options const& options) {
    auto const input = inputAt(io, options, file);
    if (!input) {
        return 1;
    }
    std::optional<BudgetState> state;
    try {
        Progress const progress(io, options, QStringLiteral("loading ") + file, input->unread());
        state.emplace(input->load());
    } catch (storage::StorageError const& error) {
        return fail(io, options, *input, error);
    }
    auto const& [ledger, budget, items, banks, types, surveys] = *state;

    printAccounts(io.out, ledger);
    auto none = [](auto const&) { return QStringList(); };
    itemTable(io.out, QStringLiteral("Wages"), budget.wages(), items, {}, none);
    itemTable(io.out, QStringLiteral("Bills"), budget.bills(), items, {}, none);
    itemTable(io.out, QStringLiteral("Debts"), budget.debts(), items,
              {QStringLiteral("Borrowed"), QStringLiteral("Interest")},
              [](budgeting::Debt const& d) {
                  return QStringList{moneyText(d.borrowed()), numberText(d.interest().value)};
              });
    itemTable(io.out, QStringLiteral("Goals"), budget.goals(), items, {QStringLiteral("Final")},
              [](budgeting::Goal const& g) { return QStringList{moneyText(g.final())}; });
    itemTable(io.out, QStringLiteral("Nontrack spending"), budget.nontracks(), items, {}, none);

    printBanks(io.out, banks, types);
    printReconciliations(io.out, surveys);
    return 0;
}

namespace {

// A budget that does not load, for format --or-raw: its bytes as they are, indented where they
// are XML at all, and the reason on standard error; a textconv filter that fails makes git
// show nothing of the file.
int formatRaw(Streams io, Input const& input, QString const& output, Options const& options,
              storage::StorageError const& error) {
    Options const plain;
    fail(io, plain, input, error);
    auto bytes = input.bytes();
    if (!bytes) {
        return 0;
    }
    QByteArray formatted;
    QString notXml;
    qint64 read = 0;
    if (indented(*bytes, formatted, notXml, &read)) {
        bytes = formatted;
    } else if (auto const text = QString::fromUtf8(*bytes); read > 0 && text.toUtf8() == *bytes) {
        // A budget cut short (a crash, a sync tool) is indented up to where it breaks, and the
        // rest follows as it is: in UTF-8, characters can be told from bytes.
        bytes = formatted + '\n' + QStringView(text).mid(read).toUtf8();
    }
    if (auto const failure = writeOutput(io, output, *bytes, input.name(), options.force)) {
        return fail(io, plain, output.isEmpty() ? QStringLiteral("standard output") : output,
                    *failure);
    }
    return 0;
}

} // namespace

int format(Streams io, QString const& file, QString const& output, Options const& options) {
    auto const input = inputAt(io, options, file);
    if (!input) {
        return options.orRaw ? 0 : 1;
    }
    bool const toFile = !output.isEmpty() && output != QLatin1String("-");
    if (toFile && QFileInfo::exists(output) &&
        QFileInfo(output).canonicalFilePath() == QFileInfo(file).canonicalFilePath()) {
        return fail(io, options, output,
                    QStringLiteral("is the file being formatted; choose another output"));
    }
    if (auto const refused = toFile ? refusedOutput(output, options.force) : std::nullopt) {
        return fail(io, options, output, *refused);
    }
    std::optional<BudgetState> state;
    try {
        Progress const progress(io, options, QStringLiteral("loading ") + file, input->unread());
        state.emplace(input->load());
    } catch (storage::StorageError const& error) {
        return options.orRaw ? formatRaw(io, *input, output, options, error)
                             : fail(io, options, *input, error);
    }
    try {
        // The compact document, about the size of the input, is written, read back and
        // written indented.
        Progress const progress(io, options, QStringLiteral("formatting ") + file,
                                3 * input->unread());
        // The library writes compact documents; write one in a scratch folder, then copy it
        // token by token with indentation, so the budget file itself is never written.
        QTemporaryDir scratch;
        if (!scratch.isValid()) {
            return fail(io, options, scratch.path(), scratch.errorString());
        }
        QString const compactPath = scratch.filePath(QStringLiteral("budget.xml"));
        file_storage::BudgetFile const compact(compactPath, QStringLiteral("~"));
        auto const& [ledger, budget, items, banks, types, surveys] = *state;
        compact.store(ledger, budget, items, banks, types, surveys);
        QFile written(compactPath);
        if (!written.open(QIODevice::ReadOnly)) {
            return fail(io, options, compactPath, written.errorString());
        }
        QString error;
        QByteArray bytes;
        if (!indented(written.readAll(), bytes, error)) {
            return fail(io, options, compactPath, error);
        }
        // A file is complete, and on the disk, once format says it is done.
        if (auto const failure = writeOutput(io, output, bytes, file, options.force)) {
            return fail(io, options, toFile ? output : QStringLiteral("standard output"), *failure);
        }
        return 0;
    } catch (storage::StorageError const& error) {
        return fail(io, options, file, error);
    }
}

int sample(Streams io, QString const& file, Options const& options) {
    if (auto const refused = refusedOutput(file, options.force)) {
        return fail(io, options, file, *refused);
    }
    auto const budgetFile = budgetFileAt(io, options, file, false);
    if (!budgetFile) {
        return 1;
    }
    auto const state = sample::sampleBudget(options.transactions, options.seed);
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    try {
        budgetFile->store(ledger, budget, items, banks, types, surveys);
    } catch (storage::StorageError const& error) {
        return fail(io, options, file, error);
    }
    io.out << "Wrote a sample budget with " << options.transactions << " transactions (seed "
           << options.seed << ") to " << printable(file) << '\n';
    return 0;
}

int restore(Streams io, QString const& file, Options const& options) {
    auto const budgetFile = budgetFileAt(io, options, file, false);
    if (!budgetFile) {
        return 1;
    }
    // A file that already holds its back-up's bytes would only gain one more copy of itself.
    if (sameBytes(file, budgetFile->backUpPath())) {
        if (options.json) {
            printJson(io, file, true,
                      {{QStringLiteral("restored"), false}, {QStringLiteral("kept"), QString()}});
        } else {
            io.out << printable(file) << ": already the same as its back-up; nothing to restore\n";
        }
        return 0;
    }
    try {
        QString const kept = budgetFile->restoreBackUp();
        if (options.json) {
            printJson(io, file, true,
                      {{QStringLiteral("restored"), true}, {QStringLiteral("kept"), kept}});
        } else {
            io.out << printable(file) << ": restored from its back-up"
                   << (kept.isEmpty()
                           ? QStringLiteral(".")
                           : QStringLiteral("; the file it replaced is kept as ") + printable(kept))
                   << '\n';
        }
        return 0;
    } catch (storage::StorageError const& error) {
        return fail(io, options, file, error);
    }
}

int showRates(Streams io, Options const& options) {
    file_storage::ExchangeRatesFile const rates =
        options.file.isEmpty() ? file_storage::ExchangeRatesFile()
                               : file_storage::ExchangeRatesFile(options.file);
    QString const path = rates.filePathName();
    if (!rates.exists()) {
        if (QFileInfo::exists(path)) {
            return fail(io, options, path, QStringLiteral("is not a regular file"));
        }
        if (!options.file.isEmpty()) {
            return fail(io, options, path, QStringLiteral("no such file"));
        }
        if (options.json) {
            printJson(io, path, true, {{QStringLiteral("exists"), false}});
        } else {
            io.out << "Exchange-rates file: " << printable(path)
                   << "\nThere is no exchange-rates file.\n"
                   << "(An application keeps its own: give --application NAME, or --file PATH; "
                      "see budget-file --help.)\n";
        }
        return 0;
    }
    try {
        auto const map = rates.load();
        auto const fetched =
            QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               map.lastFetched().time_since_epoch())
                                               .count());
        Table table({QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Ratio")}, {2});
        QJsonArray ratios;
        for (auto const& [from, targets] : map) {
            for (auto const& ratio : targets) {
                QStringList const row{codeText(from), codeText(ratio.code()),
                                      numberText(ratio.ratio().underlying())};
                table.add(row);
                ratios.append(QJsonObject{{QStringLiteral("from"), row[0]},
                                          {QStringLiteral("to"), row[1]},
                                          {QStringLiteral("ratio"), ratio.ratio().underlying()}});
            }
        }
        if (options.json) {
            printJson(io, path, true,
                      {{QStringLiteral("exists"), true},
                       {QStringLiteral("lastFetched"), fetched.toString(Qt::ISODateWithMs)},
                       {QStringLiteral("ratios"), ratios}});
            return 0;
        }
        io.out << "Exchange-rates file: " << printable(path)
               << "\nLast fetched: " << fetched.toString(Qt::ISODateWithMs) << '\n';
        table.print(io.out, QStringLiteral("Ratios"));
        return 0;
    } catch (storage::StorageError const& error) {
        return fail(io, options, path, error);
    }
}

} // namespace zel::tool
