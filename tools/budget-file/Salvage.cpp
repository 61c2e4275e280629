// The salvage command: what is still whole of a budget file that does not load, written to a
// new budget file through the library's store.
#include "System.h"
#include "Tool.h"

#include "file-storage/BudgetDocumentSalvage.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>
#include <optional>

namespace zel::tool {

namespace {

using file_storage::BudgetSalvage;

// The lost elements that the text report lists; --json lists them all.
constexpr std::size_t lostListed = 20;

// The bytes of the regular file at path, or why not: each is held in memory whole, so no more
// than a budget read from a pipe may hold.
std::optional<QByteArray> bytesOf(QString const& path, QString& why) {
    QFile file;
    if (auto const name = system::keptBytesOf(path)) {
        // A name that is not UTF-8 is opened by its bytes, which alone name the file.
        if (!system::openByBytes(*name, file, why)) {
            return std::nullopt;
        }
    } else if (file.setFileName(path); !file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return std::nullopt;
    }
    if (file.size() > largestReadDocument) {
        why = QStringLiteral("holds more than %1 bytes, more than salvage reads")
                  .arg(largestReadDocument);
        return std::nullopt;
    }
    return file.read(largestReadDocument);
}

// Whether two paths name one file: through links, or as two links of the file (whose bytes are
// then the same).
bool sameFile(QString const& a, QString const& b, QByteArray const& bytesOfB) {
    QFileInfo const x(a);
    QFileInfo const y(b);
    if (!x.exists() || !y.exists()) {
        return false;
    }
    if (x.canonicalFilePath() == y.canonicalFilePath()) {
        return true;
    }
    QString why;
    return x.size() == y.size() && bytesOf(a, why) == bytesOfB;
}

QString placeText(file_storage::DocumentPlace const& place) {
    return QStringLiteral("%1:%2").arg(place.line).arg(place.column);
}

QJsonObject reportObject(BudgetSalvage const& salvage, QString const& output,
                         QString const& backUp) {
    QJsonObject counts;
    for (auto const& count : salvage.counts) {
        counts.insert(count.kind, QJsonObject{{QStringLiteral("kept"), count.kept},
                                              {QStringLiteral("fromBackUp"), count.fromBackUp},
                                              {QStringLiteral("lost"), count.lost}});
    }
    QJsonArray damages;
    for (auto const& damage : salvage.damages) {
        damages.append(QJsonObject{{QStringLiteral("line"), damage.place.line},
                                   {QStringLiteral("column"), damage.place.column},
                                   {QStringLiteral("element"), damage.kind},
                                   {QStringLiteral("text"), damage.text}});
    }
    auto const elements = [](std::vector<file_storage::SalvagedElement> const& all) {
        QJsonArray array;
        for (auto const& element : all) {
            QJsonObject object{{QStringLiteral("kind"), element.kind},
                               {QStringLiteral("identity"), element.identity}};
            if (element.place.line != 0) {
                object.insert(QStringLiteral("line"), element.place.line);
                object.insert(QStringLiteral("column"), element.place.column);
            }
            if (!element.reason.isEmpty()) {
                object.insert(QStringLiteral("reason"), element.reason);
            }
            array.append(object);
        }
        return array;
    };
    QJsonObject backUpObject{{QStringLiteral("path"), backUp},
                             {QStringLiteral("used"), salvage.backUpUsed}};
    if (!salvage.backUpFailure.isEmpty()) {
        backUpObject.insert(QStringLiteral("error"), salvage.backUpFailure);
    }
    return {{QStringLiteral("output"), output},
            {QStringLiteral("backUp"), backUp.isEmpty() ? QJsonValue() : backUpObject},
            {QStringLiteral("counts"), counts},
            {QStringLiteral("damages"), damages},
            {QStringLiteral("fromBackUp"), elements(salvage.fromBackUp)},
            {QStringLiteral("lost"), elements(salvage.lost)}};
}

void printReport(Streams io, BudgetSalvage const& salvage, QString const& file,
                 QString const& output, QString const& backUp) {
    io.out << printable(file) << ": salvaged into " << printable(output) << '\n';
    if (!backUp.isEmpty()) {
        io.out << printable(backUp) << " (the back-up) "
               << (salvage.backUpUsed
                       ? QStringLiteral("loads: what the file lost is taken from it")
                       : QStringLiteral("is not used: ") + printable(salvage.backUpFailure))
               << '\n';
    }
    Table counts({QStringLiteral("Element"), QStringLiteral("Kept"), QStringLiteral("From back-up"),
                  QStringLiteral("Lost")},
                 {1, 2, 3});
    for (auto const& count : salvage.counts) {
        counts.add({count.kind, QString::number(count.kept), QString::number(count.fromBackUp),
                    QString::number(count.lost)});
    }
    counts.print(io.out, QStringLiteral("Elements by kind"));
    for (auto const& damage : salvage.damages) {
        io.out << printable(file) << ':' << placeText(damage.place) << ": damaged " << damage.kind
               << ": " << printable(damage.text) << '\n';
    }
    auto const listed = std::min(salvage.lost.size(), lostListed);
    for (std::size_t i = 0; i < listed; ++i) {
        auto const& lost = salvage.lost[i];
        io.out << printable(file) << ':' << placeText(lost.place) << ": lost " << lost.kind << ' '
               << printable(lost.identity) << ": " << printable(lost.reason) << '\n';
    }
    if (salvage.lost.size() > listed) {
        io.out << "and " << salvage.lost.size() - listed << " more lost (--json lists them all)\n";
    }
}

} // namespace

int salvage(Streams io, QString const& file, QString const& output, Options const& options) {
    // A file whose name is not UTF-8 is read by the name's bytes; the library, which takes names
    // as text, does not name its back-up, so only a back-up given with --backup is used.
    bool const namedByBytes = system::keptBytesOf(file).has_value();
    std::optional<file_storage::BudgetFile> budgetFile;
    if (!namedByBytes && !(budgetFile = budgetFileAt(io, options, file, true))) {
        return 1;
    }
    QString why;
    auto const damaged = bytesOf(file, why);
    if (!damaged) {
        return fail(io, options, file, why);
    }
    // The back-up asked for, or the file's own when there is one.
    QString const backUp = !options.backUp.isEmpty() ? options.backUp
                           : budgetFile              ? budgetFile->backUpPath()
                                                     : QString();
    std::optional<QByteArray> backUpBytes;
    QString untrusted;
    if (QFileInfo const info(backUp);
        options.backUp.isEmpty() && info.exists() &&
        (info.isSymLink() || !info.isFile() || info.ownerId() != QFileInfo(file).ownerId())) {
        // What stands beside the file in a shared folder may be anyone's: the file's own
        // back-up is a regular file of the file's owner, as a store leaves it, or it is not used.
        untrusted = info.isSymLink() || !info.isFile()
                        ? QStringLiteral("it is not a regular file")
                        : QStringLiteral("it belongs to another user than the file (give "
                                         "--backup to use it)");
    } else if (info.isFile()) {
        backUpBytes = bytesOf(backUp, why);
        if (!backUpBytes) {
            return fail(io, options, backUp, why);
        }
    } else if (!options.backUp.isEmpty()) {
        return fail(io, options, backUp,
                    info.exists() ? QStringLiteral("is not a regular file")
                                  : QStringLiteral("no such file"));
    }
    // The output is a new file: never the damaged file or the back-up, whose bytes may be the
    // only ones left.
    if (output == file || sameFile(output, file, *damaged)) {
        return fail(io, options, output, QStringLiteral("is the file to salvage; name a new file"));
    }
    if (backUpBytes && sameFile(output, backUp, *backUpBytes)) {
        return fail(io, options, output, QStringLiteral("is the back-up; name a new file"));
    }
    if (auto const refused = refusedOutput(output, options.force)) {
        return fail(io, options, output, *refused);
    }
    auto const target = budgetFileAt(io, options, output, false);
    if (!target) {
        return 1;
    }
    try {
        auto salvage = file_storage::salvageBudgetDocument(*damaged, backUpBytes);
        auto const& [ledger, budget, itemAccounts, banks, accountTypes, surveys] = salvage.budget;
        target->store(ledger, budget, itemAccounts, banks, accountTypes, surveys);
        QString const shownBackUp = backUpBytes || !untrusted.isEmpty() ? backUp : QString();
        if (!untrusted.isEmpty()) {
            salvage.backUpFailure = untrusted;
        }
        if (options.json) {
            printJson(io, file, true, reportObject(salvage, output, shownBackUp));
        } else {
            printReport(io, salvage, file, output, shownBackUp);
        }
        return 0;
    } catch (storage::StorageError const& error) {
        return fail(io, options, file, error);
    }
}

} // namespace zel::tool
