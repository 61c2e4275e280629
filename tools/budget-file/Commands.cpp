#include "Commands.h"

#include "file-storage/BudgetFile.h"
#include "file-storage/Errors.h"
#include "file-storage/ExchangeRatesFile.h"
#include "sample-budgets/SampleBudget.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

namespace zel::tool {

namespace {

using storage::BudgetState;

// A budget file given on the command line, or the one line that says why it cannot be used.
std::optional<file_storage::BudgetFile> budgetFileAt(Streams io, QString const& path,
                                                     bool mustExist) {
    QFileInfo const info(path);
    if (mustExist && !info.exists()) {
        io.err << "budget-file: " << path << ": no such file\n";
        return std::nullopt;
    }
    if (info.isDir()) {
        io.err << "budget-file: " << path << ": is a directory, not a budget file\n";
        return std::nullopt;
    }
    try {
        return file_storage::BudgetFile(info.absoluteFilePath(),
                                        QString(file_storage::BudgetFile::defaultBackUpExtension_));
    } catch (storage::StorageError const& error) {
        io.err << "budget-file: " << path << ": " << error.firstText() << '\n';
        return std::nullopt;
    }
}

QString causeOf(foundation::Error const& error) {
    auto const cause = QString::fromStdString(error.causeDescription());
    return cause == QLatin1String(std::exception().what()) ? QString() : cause;
}

struct Counts {
    std::size_t accounts = 0;
    std::size_t transactions = 0;
    std::size_t wages = 0, bills = 0, debts = 0, goals = 0, nontracks = 0;
    std::size_t banks = 0;
    std::size_t reconciliations = 0;
};

Counts countsOf(BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    Counts counts;
    counts.accounts = ledger.ledgers().size();
    // A transaction is kept in the ledgers of both its accounts; count it once.
    std::set<unsigned> numbers;
    for (auto const& [code, account] : ledger.ledgers()) {
        for (auto const& [number, transaction] : account.transactions) {
            numbers.insert(number.integer());
        }
    }
    counts.transactions = numbers.size();
    counts.wages = budget.wages().size();
    counts.bills = budget.bills().size();
    counts.debts = budget.debts().size();
    counts.goals = budget.goals().size();
    counts.nontracks = budget.nontracks().size();
    counts.banks = banks.size();
    counts.reconciliations = surveys.size();
    return counts;
}

QString moneyText(orvalis::currency::Money const& money) {
    auto const minor = QString::number(money.minor()).rightJustified(2, u'0');
    return QStringLiteral("%1.%2 %3")
        .arg(money.major())
        .arg(minor, QString::fromStdString(orvalis::currency::toStdString(money.code())));
}

// Rows of text printed in columns as wide as their widest cell.
class Table {
public:
    explicit Table(QStringList headers) { rows_.push_back(std::move(headers)); }
    void add(QStringList row) { rows_.push_back(std::move(row)); }

    void print(QTextStream& out, QString const& title) const {
        out << title << " (" << rows_.size() - 1 << ")\n";
        if (rows_.size() == 1) {
            out << "  none\n\n";
            return;
        }
        std::vector<qsizetype> widths(rows_.front().size(), 0);
        for (auto const& row : rows_) {
            for (qsizetype i = 0; i < row.size(); ++i) {
                widths[i] = std::max(widths[i], row[i].size());
            }
        }
        for (auto const& row : rows_) {
            QString line = QStringLiteral(" ");
            for (qsizetype i = 0; i < row.size(); ++i) {
                line += QLatin1Char(' ') + row[i].leftJustified(widths[i]);
            }
            out << line.trimmed().prepend(QStringLiteral("  ")) << '\n';
        }
        out << '\n';
    }

private:
    std::vector<QStringList> rows_;
};

template <class Map, class Extra>
void itemTable(QTextStream& out, QString const& title, Map const& map,
               storage::ItemAccountMap const& items, QStringList extraHeaders, Extra extra) {
    using Item = typename Map::Items::mapped_type;
    QStringList headers{QStringLiteral("Name"), QStringLiteral("Amount"), QStringLiteral("Period"),
                        QStringLiteral("Next"), QStringLiteral("Account")};
    Table table(headers + extraHeaders);
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

// Copies a document token by token into a writer that indents one tab per level.
bool writeIndented(QString const& from, QString const& to, QString& error) {
    QFile input(from);
    if (!input.open(QIODevice::ReadOnly)) {
        error = input.errorString();
        return false;
    }
    QSaveFile output(to);
    if (!output.open(QIODevice::WriteOnly)) {
        error = output.errorString();
        return false;
    }
    QXmlStreamReader reader(&input);
    QXmlStreamWriter writer(&output);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(-1);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.hasError()) {
            error = reader.errorString();
            return false;
        }
        writer.writeCurrentToken(reader);
    }
    if (!output.commit()) {
        error = output.errorString();
        return false;
    }
    return true;
}

} // namespace

int check(Streams io, QString const& file, bool json) {
    auto const budgetFile = budgetFileAt(io, file, true);
    if (!budgetFile) {
        return 1;
    }
    try {
        auto const counts = countsOf(budgetFile->load());
        if (json) {
            QJsonObject const result{
                {QStringLiteral("file"), file},
                {QStringLiteral("ok"), true},
                {QStringLiteral("accounts"), qint64(counts.accounts)},
                {QStringLiteral("transactions"), qint64(counts.transactions)},
                {QStringLiteral("budgetItems"),
                 QJsonObject{{QStringLiteral("wages"), qint64(counts.wages)},
                             {QStringLiteral("bills"), qint64(counts.bills)},
                             {QStringLiteral("debts"), qint64(counts.debts)},
                             {QStringLiteral("goals"), qint64(counts.goals)},
                             {QStringLiteral("nontracks"), qint64(counts.nontracks)}}},
                {QStringLiteral("banks"), qint64(counts.banks)},
                {QStringLiteral("reconciliations"), qint64(counts.reconciliations)}};
            io.out << QJsonDocument(result).toJson(QJsonDocument::Compact) << '\n';
        } else {
            io.out << file << ": OK: " << counts.accounts << " accounts, " << counts.transactions
                   << " transactions, budget items: " << counts.wages << " wages, " << counts.bills
                   << " bills, " << counts.debts << " debts, " << counts.goals << " goals, "
                   << counts.nontracks << " nontracks; " << counts.banks << " banks, "
                   << counts.reconciliations << " reconciliations\n";
        }
        return 0;
    } catch (storage::StorageError const& error) {
        if (json) {
            QJsonObject const result{{QStringLiteral("file"), file},
                                     {QStringLiteral("ok"), false},
                                     {QStringLiteral("error"), error.firstText()},
                                     {QStringLiteral("message"), error.secondText()},
                                     {QStringLiteral("cause"), causeOf(error)}};
            io.out << QJsonDocument(result).toJson(QJsonDocument::Compact) << '\n';
        } else {
            io.out << file << ": NOT VALID\n  " << error.firstText() << "\n  " << error.secondText()
                   << '\n';
            if (auto const cause = causeOf(error); !cause.isEmpty()) {
                io.out << "  Cause: " << cause << '\n';
            }
        }
        return 1;
    }
}

int summary(Streams io, QString const& file) {
    auto const budgetFile = budgetFileAt(io, file, true);
    if (!budgetFile) {
        return 1;
    }
    std::optional<BudgetState> state;
    try {
        state.emplace(budgetFile->load());
    } catch (storage::StorageError const& error) {
        io.err << "budget-file: " << file << ": " << error.secondText() << ' ' << error.firstText()
               << '\n';
        return 1;
    }
    auto const& [ledger, budget, items, banks, types, surveys] = *state;

    Table accounts({QStringLiteral("Number"), QStringLiteral("Name"), QStringLiteral("Type"),
                    QStringLiteral("Parent"), QStringLiteral("Balance"),
                    QStringLiteral("Transactions"), QStringLiteral("Closed")});
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
    accounts.print(io.out, QStringLiteral("Accounts"));

    auto none = [](auto const&) { return QStringList(); };
    itemTable(io.out, QStringLiteral("Wages"), budget.wages(), items, {}, none);
    itemTable(io.out, QStringLiteral("Bills"), budget.bills(), items, {}, none);
    itemTable(io.out, QStringLiteral("Debts"), budget.debts(), items,
              {QStringLiteral("Borrowed"), QStringLiteral("Interest")},
              [](budgeting::Debt const& d) {
                  return QStringList{moneyText(d.borrowed()),
                                     QString::number(d.interest().value, 'g', 6)};
              });
    itemTable(io.out, QStringLiteral("Goals"), budget.goals(), items, {QStringLiteral("Final")},
              [](budgeting::Goal const& g) { return QStringList{moneyText(g.final())}; });
    itemTable(io.out, QStringLiteral("Nontrack spending"), budget.nontracks(), items, {}, none);

    Table bankTable({QStringLiteral("Bank"), QStringLiteral("Account"), QStringLiteral("Type"),
                     QStringLiteral("Closed")});
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
    bankTable.print(io.out, QStringLiteral("Bank accounts"));

    Table reconciliations({QStringLiteral("Bank"), QStringLiteral("Account"),
                           QStringLiteral("Balance"), QStringLiteral("Reconciled on"),
                           QStringLiteral("Checksum"), QStringLiteral("Distribution")});
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
    reconciliations.print(io.out, QStringLiteral("Reconciliations"));
    return 0;
}

int format(Streams io, QString const& file, QString const& output) {
    auto const budgetFile = budgetFileAt(io, file, true);
    if (!budgetFile) {
        return 1;
    }
    QFileInfo const target(output);
    if (target.isDir()) {
        io.err << "budget-file: " << output << ": is a directory\n";
        return 1;
    }
    // A save file would replace a device, a named pipe or a socket with a plain file.
    if (target.exists() && !target.isFile()) {
        io.err << "budget-file: " << output << ": is not a regular file\n";
        return 1;
    }
    if (target.exists() && target.canonicalFilePath() == QFileInfo(file).canonicalFilePath()) {
        io.err << "budget-file: " << output
               << ": is the file being formatted; choose another output\n";
        return 1;
    }
    try {
        auto const state = budgetFile->load();
        // The library writes compact documents; write one in a scratch folder, then copy it
        // token by token with indentation, so the budget file itself is never written.
        QTemporaryDir scratch;
        if (!scratch.isValid()) {
            io.err << "budget-file: cannot create a scratch folder: " << scratch.errorString()
                   << '\n';
            return 1;
        }
        file_storage::BudgetFile const compact(scratch.filePath(QStringLiteral("budget.xml")),
                                               QStringLiteral("~"));
        auto const& [ledger, budget, items, banks, types, surveys] = state;
        compact.store(ledger, budget, items, banks, types, surveys);
        QString error;
        if (!writeIndented(scratch.filePath(QStringLiteral("budget.xml")), output, error)) {
            io.err << "budget-file: " << output << ": " << error << '\n';
            return 1;
        }
        return 0;
    } catch (storage::StorageError const& error) {
        io.err << "budget-file: " << file << ": " << error.secondText() << ' ' << error.firstText()
               << '\n';
        return 1;
    }
}

int sample(Streams io, QString const& file, std::uint32_t transactions, std::uint32_t seed) {
    auto const budgetFile = budgetFileAt(io, file, false);
    if (!budgetFile) {
        return 1;
    }
    auto const state = sample::sampleBudget(transactions, seed);
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    try {
        budgetFile->store(ledger, budget, items, banks, types, surveys);
    } catch (storage::StorageError const& error) {
        io.err << "budget-file: " << file << ": " << error.secondText() << ' ' << error.firstText()
               << '\n';
        return 1;
    }
    io.out << "Wrote a sample budget with " << transactions << " transactions (seed " << seed
           << ") to " << file << '\n';
    return 0;
}

int showRates(Streams io) {
    auto const path = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                      QStringLiteral("/exchange-rates.dat");
    file_storage::ExchangeRatesFile const rates;
    io.out << "Exchange-rates file: " << path << '\n';
    if (!rates.exists()) {
        io.out << "There is no exchange-rates file.\n";
        return 0;
    }
    try {
        auto const map = rates.load();
        auto const fetched = std::chrono::duration_cast<std::chrono::milliseconds>(
            map.lastFetched().time_since_epoch());
        io.out << "Last fetched: "
               << QDateTime::fromMSecsSinceEpoch(fetched.count()).toString(Qt::ISODateWithMs)
               << '\n';
        Table table({QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Ratio")});
        for (auto const& [from, ratios] : map) {
            for (auto const& ratio : ratios) {
                table.add({QString::fromStdString(orvalis::currency::toStdString(from)),
                           QString::fromStdString(orvalis::currency::toStdString(ratio.code())),
                           QString::number(ratio.ratio().underlying(), 'g', 17)});
            }
        }
        table.print(io.out, QStringLiteral("Ratios"));
        return 0;
    } catch (storage::StorageError const& error) {
        io.err << "budget-file: " << error.firstText() << ' ' << error.secondText() << '\n';
        return 1;
    }
}

} // namespace zel::tool
