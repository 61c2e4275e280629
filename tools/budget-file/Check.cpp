// check: whether a budget file loads, what it holds, and what the load lets through without a
// word; or, when it does not load, whether its back-up does.
#include "System.h"
#include "Tool.h"

#include "file-storage/BudgetDocumentInspection.h"
#include "file-storage/Errors.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace zel::tool {

namespace {

struct Counts {
    std::size_t accounts = 0;
    std::size_t transactions = 0;
    std::size_t wages = 0, bills = 0, debts = 0, goals = 0, nontracks = 0;
    std::size_t banks = 0;
    std::size_t reconciliations = 0;
};

Counts countsOf(storage::BudgetState const& state) {
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

QJsonObject countsObject(Counts const& counts) {
    return {{QStringLiteral("accounts"), qint64(counts.accounts)},
            {QStringLiteral("transactions"), qint64(counts.transactions)},
            {QStringLiteral("budgetItems"),
             QJsonObject{{QStringLiteral("wages"), qint64(counts.wages)},
                         {QStringLiteral("bills"), qint64(counts.bills)},
                         {QStringLiteral("debts"), qint64(counts.debts)},
                         {QStringLiteral("goals"), qint64(counts.goals)},
                         {QStringLiteral("nontracks"), qint64(counts.nontracks)}}},
            {QStringLiteral("banks"), qint64(counts.banks)},
            {QStringLiteral("reconciliations"), qint64(counts.reconciliations)}};
}

void printCounts(Streams io, QString const& file, Counts const& counts) {
    io.out << printable(file) << ": OK: " << counts.accounts << " accounts, " << counts.transactions
           << " transactions, budget items: " << counts.wages << " wages, " << counts.bills
           << " bills, " << counts.debts << " debts, " << counts.goals << " goals, "
           << counts.nontracks << " nontracks; " << counts.banks << " banks, "
           << counts.reconciliations << " reconciliations\n";
}

// What the back-up of a budget file that did not load holds.
struct BackUp {
    QString path; // as the user names it: FILE~, or beside the file a link names
    bool loads = false;
    std::optional<QJsonObject> error; // why it does not load
};

// The back-up that restore would put back, as the library names it: beside the file at the end
// of the links, named after it. Nothing when there is no back-up, or something other than a
// regular file stands there.
std::optional<BackUp> backUpOf(QString const& file) {
    QFileInfo const given(file);
    file_storage::BudgetFile const budgetFile(
        given.absoluteFilePath(), QString(file_storage::BudgetFile::defaultBackUpExtension_));
    BackUp backUp;
    backUp.path = budgetFile.backUpPath();
    QFileInfo const info(backUp.path);
    if (!info.isFile()) {
        return std::nullopt;
    }
    try {
        file_storage::BudgetFile(info.absoluteFilePath(),
                                 QString(file_storage::BudgetFile::defaultBackUpExtension_))
            .load();
        backUp.loads = true;
    } catch (storage::StorageError const& error) {
        backUp.error = errorObject(error);
    }
    return backUp;
}

// The command of the tool for file (restore, salvage), as a shell reads it: a name that holds
// anything but letters,
// digits and a few marks is put in single quotes (a quote in it as '"'"', which holds no
// backslash for the escaping of what is printed to double), and one that starts with a hyphen
// after ./, so that the line pasted does what it says.
QString commandFor(QLatin1String command, QString const& file) {
    QString name = file;
    if (name.startsWith(QLatin1Char('-'))) {
        name.prepend(QStringLiteral("./"));
    }
    bool const plain = !name.isEmpty() && std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c.unicode() < 0x80 && c.isLetterOrNumber()) ||
               QStringView(u"/._-+,:@%=").contains(c);
    });
    if (!plain) {
        name = QLatin1Char('\'') + name.replace(QLatin1Char('\''), QLatin1String("'\"'\"'")) +
               QLatin1Char('\'');
    }
    return QStringLiteral("budget-file ") + command + QLatin1Char(' ') + name;
}

QJsonObject backUpObject(BackUp const& backUp, QString const& file) {
    QJsonObject object{{QStringLiteral("path"), backUp.path},
                       {QStringLiteral("loads"), backUp.loads}};
    if (backUp.loads) {
        object.insert(QStringLiteral("restore"), commandFor(QLatin1String("restore"), file));
    } else if (backUp.error) {
        object.insert(QStringLiteral("error"), *backUp.error);
    }
    return object;
}

void printBackUp(Streams io, BackUp const& backUp, QString const& file) {
    if (backUp.loads) {
        io.out << printable(backUp.path)
               << " (the back-up) loads: " << printable(commandFor(QLatin1String("restore"), file))
               << " puts it back\n";
    } else {
        io.out << printable(backUp.path) << " (the back-up) does not load either\n";
    }
}

// A budget file that is not there, or does not load: the failure, and the back-up when there
// is one. A file that does not load, and whose back-up does not hold it either, is worth a
// salvage.
int notLoaded(Streams io, Options const& options, QString const& file, QJsonValue const& error,
              std::optional<BackUp> const& backUp, bool loadFailed = false) {
    bool const salvage = loadFailed && (!backUp || !backUp->loads);
    auto const salvageCommand = commandFor(QLatin1String("salvage"), file) + QStringLiteral(" OUT");
    if (options.json) {
        QJsonObject object{{QStringLiteral("error"), error}};
        if (backUp) {
            object.insert(QStringLiteral("backUp"), backUpObject(*backUp, file));
        }
        if (salvage) {
            object.insert(QStringLiteral("salvage"), salvageCommand);
        }
        printJson(io, file, false, object);
        return 1;
    }
    if (backUp) {
        printBackUp(io, *backUp, file);
    }
    if (salvage) {
        io.out << printable(salvageCommand)
               << " recovers what is still whole into a new file OUT\n";
    }
    return 1;
}

void printNotValid(Streams io, QString const& file, storage::StorageError const& error) {
    io.out << printable(file) << ": NOT VALID\n  " << printable(error.firstText()) << "\n  "
           << printable(error.secondText()) << '\n';
    if (auto const cause = causeOf(error); !cause.isEmpty()) {
        io.out << "  Cause: " << printable(cause) << '\n';
    }
}

QJsonArray warningsArray(std::vector<file_storage::DocumentWarning> const& warnings) {
    QJsonArray array;
    for (auto const& warning : warnings) {
        array.append(QJsonObject{{QStringLiteral("line"), warning.place.line},
                                 {QStringLiteral("column"), warning.place.column},
                                 {QStringLiteral("kind"), warning.kind},
                                 {QStringLiteral("text"), warning.text}});
    }
    return array;
}

QJsonObject moreObject(std::map<QString, qint64> const& moreOfKind) {
    QJsonObject object;
    for (auto const& [kind, more] : moreOfKind) {
        object.insert(kind, more);
    }
    return object;
}

// A count with its thousands grouped, as "9,999,000".
QString grouped(qint64 count) {
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(count);
}

// The warnings in document order; after the last one shown of a kind that has more, how many
// more.
void printWarnings(Streams io, QString const& file,
                   file_storage::DocumentInspection const& inspection) {
    QString const shownFile = printable(file);
    std::map<QString, std::size_t> left;
    for (auto const& warning : inspection.warnings) {
        ++left[warning.kind];
    }
    for (auto const& warning : inspection.warnings) {
        io.out << shownFile << ':' << warning.place.line << ':' << warning.place.column
               << ": warning: " << printable(warning.text) << '\n';
        auto const more = inspection.moreOfKind.find(warning.kind);
        if (--left[warning.kind] == 0 && more != inspection.moreOfKind.end()) {
            io.out << shownFile << ": ... and " << grouped(more->second) << " more of this kind ("
                   << warning.kind << ")\n";
        }
    }
    auto const count = inspection.count();
    io.out << shownFile << ": "
           << (count == 0   ? QStringLiteral("no warnings")
               : count == 1 ? QStringLiteral("1 warning")
                            : QStringLiteral("%1 warnings").arg(grouped(count)))
           << '\n';
}

} // namespace

int check(Streams io, QString const& file, Options const& options) {
    QString discarded;
    QTextStream nowhere(&discarded);
    Streams const shown{options.quiet ? nowhere : io.out, io.err};
    QFileInfo const info(file);
    // A link that leads nowhere (or round in a loop) is there; the load says what is wrong.
    if (file != QLatin1String("-") && !system::keptBytesOf(file) && !info.exists() &&
        !info.isSymLink()) {
        if (!options.json) {
            fail(io, options, file, QStringLiteral("no such file"));
        }
        return notLoaded(shown, options, file, errorObject(QStringLiteral("no such file")),
                         backUpOf(file));
    }
    auto const input = inputAt(io, options, file);
    if (!input) {
        return 1;
    }
    // Read twice: once for the warnings, once for the load.
    // Gone before anything is printed.
    std::optional<Progress> progress;
    progress.emplace(io, options, QStringLiteral("checking ") + file, 2 * input->unread());
    // The warnings are looked for before the load, so that the inspection's memory is free
    // again when the load takes its own: a large budget would otherwise need both at once. Only
    // a regular file is opened here; the load says what is wrong with anything else.
    std::optional<file_storage::DocumentInspection> lint;
    if (auto const bytes = input->bytes()) {
        lint = file_storage::inspectBudgetDocument(*bytes);
    }
    Counts counts;
    try {
        counts = countsOf(input->load());
    } catch (file_storage::BudgetFileError const& error) {
        progress.reset();
        // Only a document that does not load is worth replacing by its back-up; a file in use
        // or unreadable is not.
        auto const place = placeOf(*input, error);
        auto object = errorObject(error);
        if (options.json) {
            if (place) {
                object.insert(QStringLiteral("line"), place->line);
                object.insert(QStringLiteral("column"), place->column);
            }
        } else if (!options.quiet) {
            printNotValid(shown, file, error);
            printError(io, file, error, place);
        }
        // A file that does not load is worth a salvage; a budget read from a pipe is no file.
        return notLoaded(shown, options, file, object,
                         input->file() ? backUpOf(file) : std::nullopt, bool(input->file()));
    } catch (storage::StorageError const& error) {
        // Not a verdict on the document (a file in use, unreadable, not a regular file): a
        // diagnostic, as every command gives one.
        return fail(io, options, *input, error);
    }

    // A file that a store was writing while it was first read (the load waited for the store)
    // is read again, now that it loads.
    if (!lint || !lint->failure.isEmpty()) {
        auto const bytes = input->bytes();
        if (!bytes) {
            return fail(io, options, file, QStringLiteral("cannot be read again"));
        }
        lint = file_storage::inspectBudgetDocument(*bytes);
        if (!lint->failure.isEmpty()) {
            return fail(io, options, file,
                        QStringLiteral("changed while it was checked (%1); check it again")
                            .arg(lint->failure));
        }
    }
    progress.reset();
    if (options.json) {
        auto object = countsObject(counts);
        object.insert(QStringLiteral("warnings"), warningsArray(lint->warnings));
        if (!lint->moreOfKind.empty()) {
            object.insert(QStringLiteral("moreWarnings"), moreObject(lint->moreOfKind));
        }
        printJson(io, file, true, object);
    } else {
        printCounts(shown, file, counts);
        printWarnings(shown, file, *lint);
    }
    return options.strict && !lint->warnings.empty() ? 1 : 0;
}

} // namespace zel::tool
