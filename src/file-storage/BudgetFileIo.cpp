#include "file-storage/BoundedDocumentDevice.h"
#include "file-storage/BudgetFile.h"

#include "file-storage/internal/ApplicationElement.h"
#include "file-storage/internal/BudgetDocument.h"
#include "file-storage/internal/ErrorForms.h"
#include "file-storage/internal/FileSync.h"
#include "file-storage/internal/Log.h"
#include "file-storage/internal/StoreMarker.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QXmlStreamReader>

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>

// The store writes the budget file in place: it truncates the file and writes the new document
// into it, rather than writing a new file and renaming it over the old one. Written in place,
// the file keeps what the user gave it (hard links, permissions, owner, the file a symbolic
// link names) and stays where a synced folder expects it. The price is a moment in which the
// file holds no complete budget, and everything else here exists to pay it: the copy of the
// previous file at the back-up path, synced before the truncation; the marker, also synced
// before it, that names what the file may hold until the new document is on the disk, so that a
// file left part-written by a power loss is never loaded nor backed up over the good back-up;
// the clean-up that puts the back-up back when the write fails; the check that keeps a good
// back-up from being replaced by a file that an earlier store left cut short; and the lock that
// keeps two stores, or a store and a load, of one file apart.
//
// The order of the syncs is the promise: the back-up's data, the marker's data, then the folder
// that names them both, all before the budget file is truncated; the budget file's data before
// the marker goes; the folder last, so that what a store or a restore reports is what a power
// loss leaves.

namespace zel::file_storage {

namespace {

using internal::File;
using internal::FileKind;
using internal::FileLock;
using internal::FileStatus;
using internal::Folder;
using internal::Result;

// How long a load or store waits for another one of the same budget file to end: a store of a
// budget of many years takes well under a second, and a person waiting longer is better told
// why.
constexpr std::chrono::seconds lockWait{10};

// Where a budget file is: the folder that holds it, held open so that every name beside the
// file is used through it, and the file's name there.
struct Place {
    Folder folder;
    QString name;

    QString path() const { return folder.pathOf(name); }
};

// The place of the budget file that path names, a link followed to its end where the system
// would follow it. Throws StorageError, with failed as its second text, when it cannot be found.
Place located(QString const& path, QString const& failed) {
    Place place;
    if (auto const failure = internal::locate(path, place.folder, place.name); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    return place;
}

// What stands at name beside the budget file, which must be a regular file or nothing. Throws
// StorageError, with failed as its second text, for anything else (a directory, a device, a
// named pipe, a socket, a link) and when the system cannot tell.
FileStatus regularOrAbsent(Place const& place, QString const& name, QString const& failed) {
    FileStatus status;
    if (auto const failure = place.folder.inspect(name, status); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    if (status.kind != FileKind::absent && status.kind != FileKind::regular) {
        throw internal::operationError(
            internal::notARegularFile(place.folder.pathOf(name), status.kind), failed);
    }
    return status;
}

// The permissions of a file made beside the budget file that holds what the budget file holds,
// or says what it holds: those of the budget file, or the owner's alone when there is none yet.
uint permissionsBeside(FileStatus const& budget) {
    return budget.kind == FileKind::regular ? budget.mode & 0666 : 0600;
}

// Takes the lock of the budget file into lock; a new lock file gets the permissions mode.
// Throws StorageError, with failed as its second text, when others hold it for the whole wait,
// and when its lock file is there but cannot be used. Where no lock can be had at all (a folder
// that cannot be written, a file system without locks) the load or store goes ahead without
// one, as it would without this lock.
void lockBudgetFile(FileLock& lock, Place const& place, FileLock::Mode mode, uint newMode,
                    QString const& failed) {
    QString why;
    // Hidden beside the budget file. Every back-up's name starts with the budget file's name, so
    // no back-up extension can give a back-up this name.
    QString const lockPath =
        place.folder.pathOf(QLatin1Char('.') + place.name + QStringLiteral(".lock"));
    switch (lock.acquire(lockPath, mode, lockWait, why, newMode)) {
    case FileLock::Outcome::acquired:
        return;
    case FileLock::Outcome::busy:
        throw internal::operationError(
            QObject::tr("The budget file is in use: other loads or stores held it for the whole "
                        "%1 seconds this one waited.")
                    .arg(lockWait.count()) +
                (why.isEmpty() ? QString() : QLatin1Char(' ') + why),
            failed);
    case FileLock::Outcome::refused:
        throw internal::operationError(why, failed);
    case FileLock::Outcome::unavailable:
        if (mode == FileLock::Mode::exclusive) {
            // The cause may be a sentence of its own (the library's, or Windows' system texts),
            // whose full stop the record's own ends.
            QString cause = why;
            if (cause.endsWith(QLatin1Char('.'))) {
                cause.chop(1);
            }
            ZEL_LOG_WARNING().noquote()
                << QStringLiteral("Storing without the lock %1: %2.").arg(lockPath, cause);
        }
        return;
    }
}

// Opens the regular file at name beside the budget file. Throws StorageError, with failed as its
// second text, when it cannot.
void openBeside(File& file, Place const& place, QString const& name, File::Access access,
                QString const& failed) {
    if (auto const failure = file.open(place.folder, name, access); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
}

// Whether the open file holds a well-formed document. A store that died while writing leaves
// the file cut short, which does not. Every document a store writes ends with the root's end
// tag, and that ending alone settles it; only a file that ends otherwise (a comment after the
// root, a root with no end tag of its own, another encoding) is read through, and that within
// the format's bounds: a document that crosses them, which no load reads, is not whole either.
bool holdsCompleteDocument(File const& budget) {
    QFile file;
    if (!file.open(budget.handle(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        // Unreadable is not known to be cut short; the copy that follows reports it.
        return true;
    }
    auto const tail = QByteArray("</") + internal::ApplicationElement::tag_.latin1.data() + '>';
    auto const size = file.size();
    auto const start = std::max<qint64>(0, size - tail.size() - 64);
    if (file.seek(start) && file.read(size - start).trimmed().endsWith(tail)) {
        return true;
    }
    if (!file.seek(0)) {
        return true;
    }
    BoundedDocumentDevice bounded(file);
    QXmlStreamReader reader(&bounded);
    while (!reader.atEnd()) {
        reader.readNext();
    }
    return !reader.hasError();
}

// Moves the previous back-up aside and copies the budget file, open at budgetFile, to the
// back-up, with the budget file's owner, group and permissions, so that a good copy of the
// previous budget is on the disk (its name once the folder is synced) before the budget file is
// truncated. Returns the fingerprint of what it copied.
internal::Fingerprint backUp(Place const& place, File& budgetFile, QString const& displayName,
                             FileStatus const& budget, QString const& backUpName,
                             bool backUpExists) {
    Folder const& folder = place.folder;
    std::optional<QString> oldBackUpName;
    if (backUpExists) {
        QString const oldName = backUpName + BudgetFile::oldBackUpExtension_;
        QString const rotationFailed =
            QObject::tr("The back-up budget file, %1, failed to be backed-up prior to backing "
                        "up the budget file.")
                .arg(folder.pathOf(backUpName));
        // A left-over old back-up is older than the back-up that is about to replace it, so it
        // holds nothing worth keeping; left in place it would block every later store. A link
        // there goes too (removed, never followed); anything else is not the store's to remove,
        // and is named instead.
        FileStatus old;
        if (auto const failure = folder.inspect(oldName, old); !failure.ok()) {
            throw internal::operationError(failure.why(), rotationFailed);
        }
        if (old.kind != FileKind::absent && old.kind != FileKind::regular &&
            old.kind != FileKind::link) {
            throw internal::operationError(
                internal::notARegularFile(folder.pathOf(oldName), old.kind), rotationFailed);
        }
        if (old.kind != FileKind::absent && folder.remove(oldName).ok()) {
            ZEL_LOG_WARNING() << "Removed a left-over old back-up budget file"
                              << folder.pathOf(oldName);
        }
        if (auto const failure = folder.rename(backUpName, oldName); !failure.ok()) {
            throw internal::operationError(failure.why(), rotationFailed);
        }
        ZEL_LOG_DEBUG() << "Successfully backed-up the old back-up budget file.";
        oldBackUpName = oldName;
    }

    QString const failed =
        QObject::tr("The budget file, %1, failed to be backed-up prior to saving.")
            .arg(displayName);
    internal::Fingerprinter copied;
    Result failure = budgetFile.rewind();
    if (failure.ok()) {
        failure = internal::copyFile(budgetFile, folder, backUpName, budget,
                                     [&](QByteArray const& block) { copied.add(block); });
    }
    if (!failure.ok()) {
        if (oldBackUpName) {
            if (auto const notRestored = folder.rename(*oldBackUpName, backUpName);
                !notRestored.ok()) {
                ZEL_LOG_CRITICAL().noquote()
                    << QObject::tr("Failed to restore the back-up budget file '%1' due to %2.")
                           .arg(folder.pathOf(*oldBackUpName), notRestored.why());
            } else {
                ZEL_LOG_DEBUG() << "Successfully restored the old back-up budget file.";
            }
        }
        throw internal::operationError(failure.why(), failed);
    }
    ZEL_LOG_DEBUG() << "Successfully backed-up the budget file.";
    if (oldBackUpName) {
        if (auto const notRemoved = folder.remove(*oldBackUpName); !notRemoved.ok()) {
            ZEL_LOG_CRITICAL().noquote()
                << QObject::tr("Failed to remove the old back-up budget file '%1' due to %2.")
                       .arg(folder.pathOf(*oldBackUpName), notRemoved.why());
        } else {
            ZEL_LOG_DEBUG() << "Successfully removed the old back-up budget file.";
        }
    }
    return copied.fingerprint();
}

// A name beside the budget file, saying what the file kept there is and when it was kept, at
// which nothing stands yet. Throws StorageError, with failed as its second text, when the folder
// cannot be read. Such names are easily foreseen, so anything at one, a link included, is passed
// over rather than used; the copy is then made as a new file, never through a link.
QString keepingName(Place const& place, QString const& what, QString const& failed) {
    QString const stem = place.name + QLatin1Char('.') + what + QLatin1Char('-') +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    QString name = stem;
    FileStatus taken;
    for (int n = 2;; ++n) {
        if (auto const failure = place.folder.inspect(name, taken); !failure.ok()) {
            throw internal::operationError(failure.why(), failed);
        }
        if (taken.kind == FileKind::absent) {
            return name;
        }
        name = stem + QLatin1Char('-') + QString::number(n);
    }
}

// Reads the marker, or the record, at name beside the budget file into marker, which is left
// empty for bytes that are no marker. Fails when the file cannot be read.
Result readMarker(Place const& place, QString const& name,
                  std::optional<internal::StoreMarker>& marker) {
    File file;
    QByteArray bytes;
    Result result = file.open(place.folder, name, File::Access::read);
    if (result.ok()) {
        result = file.read(bytes);
    }
    // A marker is a few lines; anything longer is no marker of a store's.
    marker = result.ok() ? internal::parseMarker(bytes.left(4096)) : std::nullopt;
    return result;
}

// Keeps the budget file, open at budgetFile and of the fingerprint current, beside itself
// under a name that says so when another program has saved it since the library last wrote it:
// the store is about to write over it, and otherwise only the back-up would hold it, until the
// next store. What the library last wrote is what the record of its last store that finished
// says, or the marker of one that did not, if given (the file it wrote, or the file it left as
// it was); with neither, nothing is known, and nothing kept. Throws StorageError, with failed as
// its second text, when the copy cannot be made.
void keepWhatOthersSaved(Place const& place, File& budgetFile, FileStatus const& budget,
                         internal::Fingerprint const& current,
                         std::optional<internal::StoreMarker> const& marker,
                         QString const& failed) {
    // A record that cannot be read says nothing.
    std::optional<internal::StoreMarker> record;
    (void)readMarker(place, internal::recordNameOf(place.name), record);
    if ((!record && !marker) || (record && record->next == current) ||
        (marker && internal::isWholeBudget(*marker, current))) {
        return;
    }
    QString const kept = keepingName(place, QStringLiteral("changed-elsewhere"), failed);
    Result failure = budgetFile.rewind();
    if (failure.ok()) {
        failure = internal::copyFile(budgetFile, place.folder, kept, budget);
    }
    if (!failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    ZEL_LOG_WARNING().noquote()
        << QStringLiteral("The budget file %1 was changed by another program since it was last "
                          "stored; that version is kept as %2.")
               .arg(place.path(), place.folder.pathOf(kept));
}

// What an earlier store that never finished left of the budget file, by its marker.
enum class Leftover {
    none,        // no marker, or one that its store never got past: the file is as it was
    whole,       // the file holds what that store wrote, or the whole budget it replaced
    partWritten, // the file is neither: parts of two documents, or of one, can stand in it
};

// The marker read, if any, is left in found.
Leftover leftoverAt(Place const& place, QString const& failed,
                    std::optional<internal::StoreMarker>* found = nullptr) {
    QString const markerName = internal::markerNameOf(place.name);
    FileStatus marker;
    if (auto const failure = place.folder.inspect(markerName, marker); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    // A store makes its marker as a new file, never a link: a link there is nobody's marker.
    if (marker.kind == FileKind::absent || marker.kind == FileKind::link) {
        return Leftover::none;
    }
    std::optional<internal::StoreMarker> parsed;
    if (auto const failure = readMarker(place, markerName, parsed); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    if (!parsed) {
        return Leftover::none;
    }
    if (found != nullptr) {
        *found = parsed;
    }
    if (regularOrAbsent(place, place.name, failed).kind == FileKind::absent) {
        return Leftover::whole;
    }
    File budget;
    openBeside(budget, place, place.name, File::Access::read, failed);
    internal::Fingerprint fingerprint;
    if (auto const failure = internal::fingerprintOfFile(budget, fingerprint); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    return internal::isWholeBudget(*parsed, fingerprint) ? Leftover::whole : Leftover::partWritten;
}

// Why a budget file that a store left part-written is not loaded, with the back-up to turn to.
QString partWritten(Place const& place, QString const& backUpName) {
    FileStatus backUp;
    return place.folder.inspect(backUpName, backUp).ok() && backUp.kind == FileKind::regular
               ? QObject::tr("A store of the budget file did not finish, so the file may hold "
                             "parts of two budgets. Its back-up, %1, holds the budget before "
                             "that store: restore it.")
                     .arg(place.folder.pathOf(backUpName))
               : QObject::tr("A store of the budget file did not finish, so the file may hold "
                             "parts of two budgets, and it has no back-up.");
}

// Makes the marker of a store that writes next over the budget file (which held the whole
// budget previous, if any) durable in its folder, together with every entry made before it
// there. The marker says what the budget file holds, so it is as readable as that file. Throws
// StorageError, with failed as its second text, when it cannot.
void markStore(Place const& place, internal::StoreMarker const& marker, uint mode,
               QString const& failed) {
    QString const markerName = internal::markerNameOf(place.name);
    // A marker left behind goes, and so does a link in its place (removed, never followed);
    // anything else there is named.
    FileStatus left;
    if (auto const failure = place.folder.inspect(markerName, left); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    if (left.kind == FileKind::regular || left.kind == FileKind::link) {
        if (auto const failure = place.folder.remove(markerName); !failure.ok()) {
            throw internal::operationError(failure.why(), failed);
        }
    } else if (left.kind != FileKind::absent) {
        throw internal::operationError(
            internal::notARegularFile(place.folder.pathOf(markerName), left.kind), failed);
    }
    File file;
    Result failure = file.create(place.folder, markerName, mode);
    if (failure.ok()) {
        failure = file.write(internal::markerBytes(marker));
    }
    if (failure.ok()) {
        failure = file.sync();
    }
    if (failure.ok()) {
        failure = file.close();
    }
    if (!failure.ok()) {
        (void)place.folder.remove(markerName);
        throw internal::operationError(failure.why(), failed);
    }
    if (!place.folder.sync().ok()) {
        // The budget file is untouched: the marker has nothing to say of it.
        (void)place.folder.remove(markerName);
        throw internal::operationError(
            QObject::tr("The directory %1 could not be written to the disk.")
                .arg(place.folder.path()),
            failed);
    }
}

// How a store or restore that marked itself ended.
enum class Ended { written, putBack };

// Lets the marker go once what it guards is on the disk, and then makes its going durable: the
// store or restore has only succeeded then. The marker of one that wrote its document is kept
// as the record of what the library last wrote, which the next store compares with what it
// finds; one that put the previous file back leaves the record as it was, unless its marker
// had already become the record (the last folder sync failed), which then goes: a record that
// names what the file does not hold would take the file for another program's. A marker whose
// going is lost to a power loss still matches the file, and only costs the next load a look at
// it.
Result unmark(Place const& place, Ended ended) {
    QString const markerName = internal::markerNameOf(place.name);
    QString const recordName = internal::recordNameOf(place.name);
    if (ended == Ended::written) {
        if (!place.folder.replace(markerName, recordName).ok()) {
            (void)place.folder.remove(markerName);
        }
    } else if (!place.folder.remove(markerName).ok()) {
        (void)place.folder.remove(recordName);
    }
    return place.folder.sync();
}

// Opens the budget file for a store or restore to write into: the file there, cut to nothing,
// keeping its identity, owner, permissions and links; a new file where there is none.
Result openForWriting(File& budgetFile, Place const& place, bool exists) {
    if (!exists) {
        return budgetFile.create(place.folder, place.name, 0666);
    }
    Result failure = budgetFile.open(place.folder, place.name, File::Access::write);
    return failure.ok() ? budgetFile.truncate() : failure;
}

// Writes bytes into the open budget file and puts them on the disk, then lets the marker go.
Result writeDurably(File& budgetFile, QByteArray const& bytes, Place const& place) {
    Result failure = budgetFile.write(bytes);
    if (failure.ok()) {
        failure = budgetFile.sync();
    }
    if (failure.ok()) {
        failure = budgetFile.close();
    }
    return failure.ok() ? unmark(place, Ended::written) : failure;
}

// Writes the file at name beside the budget file back into the budget file, in place, so that
// the budget file keeps its identity, owner, permissions and every hard link.
Result putBack(Place const& place, QString const& name) {
    File source;
    File budgetFile;
    Result failure = source.open(place.folder, name, File::Access::read);
    if (failure.ok()) {
        failure = budgetFile.open(place.folder, place.name, File::Access::write);
    }
    if (failure.ok()) {
        failure = internal::copyInto(source, budgetFile);
    }
    return failure.ok() ? budgetFile.close() : failure;
}

// Puts the previous budget file back after a failed write: its bytes written back in place,
// or, when that fails, the back-up renamed into its place. Failures are logged only: the caller
// rethrows the error that caused the clean-up.
void cleanUp(File& budgetFile, Place const& place, std::optional<QString> const& backUpName) {
    ZEL_LOG_CRITICAL() << "An error occurred after writing the budget file started.";
    // A failure to close changes nothing about what follows.
    (void)budgetFile.close();
    if (backUpName) {
        if (auto const failure = putBack(place, *backUpName); !failure.ok()) {
            ZEL_LOG_WARNING().noquote()
                << QStringLiteral("Failed to write the backed-up budget file, %1, back into the "
                                  "budget file due to %2.")
                       .arg(place.folder.pathOf(*backUpName), failure.why());
        } else {
            ZEL_LOG_DEBUG() << "Successfully restored the backed-up budget file.";
            (void)unmark(place, Ended::putBack);
            return;
        }
    }
    if (auto const notRemoved = place.folder.remove(place.name); !notRemoved.ok()) {
        ZEL_LOG_WARNING().noquote() << QStringLiteral("Failed to remove the broken budget file, ") +
                                           place.path() + QStringLiteral(", due to ") +
                                           notRemoved.why() + QStringLiteral(".");
        // The marker stays and keeps the broken file from being loaded or backed up.
        return;
    }
    ZEL_LOG_DEBUG() << "Successfully removed the broken budget file.";
    if (backUpName) {
        // Renamed, never copied: the back-up is the only good copy left, and stays where it is
        // when the rename fails.
        if (auto const notRenamed = place.folder.rename(*backUpName, place.name);
            !notRenamed.ok()) {
            ZEL_LOG_WARNING().noquote()
                << QStringLiteral("Failed to restore the backed-up budget file, ") +
                       place.folder.pathOf(*backUpName) +
                       QStringLiteral(", failed to be renamed due to ") + notRenamed.why() +
                       QStringLiteral(".");
        } else {
            ZEL_LOG_DEBUG() << "Successfully restored the backed-up budget file.";
        }
    }
    // What stands at the budget path now is the previous budget, or nothing, and the marker has
    // done its work; but it goes only once that is on the disk: a file system that does not
    // keep its entries in order could otherwise keep its removal and lose the rename.
    if (place.folder.sync().ok()) {
        (void)unmark(place, Ended::putBack);
    }
}

// The whole document of a budget, as the budget file is to hold it. Throws BudgetFileError for
// a value that could not be read back.
QByteArray documentOf(accounting::GeneralLedger const& ledger, budgeting::Budget const& budget,
                      storage::ItemAccountMap const& itemAccounts, banking::BankMap const& banks,
                      banking::AccountTypeMap const& accountTypes,
                      surveying::ReconciledSurveys const& surveys) {
    QByteArray document;
    QBuffer buffer(&document);
    // Not in text mode: on Windows that would turn every line feed into a carriage return and a
    // line feed, and a budget file must hold the same bytes on every system.
    buffer.open(QIODevice::WriteOnly);
    internal::storeBudgetDocument(budget, ledger, banks, accountTypes, itemAccounts, surveys,
                                  &buffer, false);
    return document;
}

} // namespace

storage::BudgetState BudgetFile::load() const {
    QString const failed = QObject::tr("The budget file, %1, failed to be loaded.").arg(name_);
    Place const place = located(directoryPath_ + QLatin1Char('/') + name_, failed);
    FileStatus const budget = regularOrAbsent(place, place.name, failed);
    // Held to the end of the read, so that no store truncates the file under it.
    FileLock lock;
    lockBudgetFile(lock, place, FileLock::Mode::shared, permissionsBeside(budget), failed);
    if (leftoverAt(place, failed) == Leftover::partWritten) {
        throw internal::operationError(partWritten(place, place.name + backUpExtension_), failed);
    }
    File budgetFile;
    openBeside(budgetFile, place, place.name, File::Access::read, failed);
    QFile file(place.path());
    if (!file.open(budgetFile.handle(), QIODevice::ReadOnly | QIODevice::Text,
                   QFileDevice::DontCloseHandle)) {
        throw internal::operationError(file.errorString(), failed);
    }
    return internal::loadBudgetDocument(file);
}

void BudgetFile::store(accounting::GeneralLedger const& ledger, budgeting::Budget const& budget,
                       storage::ItemAccountMap const& itemAccounts, banking::BankMap const& banks,
                       banking::AccountTypeMap const& accountTypes,
                       surveying::ReconciledSurveys const& surveys) const {
    QString const budgetPath = directoryPath_ + QLatin1Char('/') + name_;
    ZEL_LOG_DEBUG() << "Storing Budget File" << budgetPath;
    // Made, and every value in it checked, before any file is touched: a budget that cannot be
    // stored leaves every file as it was.
    QByteArray const document =
        documentOf(ledger, budget, itemAccounts, banks, accountTypes, surveys);

    QString const openFailed =
        QObject::tr("The budget file, %1, failed to be saved while opening.").arg(name_);
    // A symbolic link at the budget path stays: the store writes the file it names, and keeps
    // that file's back-up beside it.
    Place const place = located(budgetPath, openFailed);
    FileStatus const beforeLock = regularOrAbsent(place, place.name, openFailed);
    FileLock lock;
    lockBudgetFile(lock, place, FileLock::Mode::exclusive, permissionsBeside(beforeLock),
                   QObject::tr("The budget file, %1, failed to be saved.").arg(name_));
    // Looked at again under the lock: another store may have made or replaced it meanwhile.
    FileStatus const current = regularOrAbsent(place, place.name, openFailed);
    bool const budgetExists = current.kind == FileKind::regular;
    QString const backUpName = place.name + backUpExtension_;
    bool const backUpExists =
        regularOrAbsent(place, backUpName,
                        QObject::tr("The back-up budget file, %1, failed to be backed-up prior to "
                                    "backing up the budget file.")
                            .arg(place.folder.pathOf(backUpName)))
            .kind == FileKind::regular;

    // Set once a good copy of the previous budget file stands at the back-up's name.
    std::optional<QString> restorable;
    std::optional<internal::Fingerprint> previous;
    if (budgetExists) {
        std::optional<internal::StoreMarker> marker;
        bool const partly = leftoverAt(place, openFailed, &marker) == Leftover::partWritten;
        File previousFile;
        if (auto const failure = previousFile.open(place.folder, place.name, File::Access::read);
            !failure.ok()) {
            throw internal::operationError(
                QObject::tr("Cannot open %1 for input: %2").arg(place.path(), failure.why()),
                QObject::tr("The budget file, %1, failed to be backed-up prior to saving.")
                    .arg(name_));
        }
        // A budget file that an earlier store left part-written or cut short holds no budget
        // worth keeping: backed up, it would replace the last good copy, and a failure of this
        // store would then leave the user with neither. The back-up is kept as it is instead.
        // Without a back-up, a file cut short for some other reason (edited by hand, say) is
        // still backed up: it may be all the user has.
        if (backUpExists && (partly || !holdsCompleteDocument(previousFile))) {
            ZEL_LOG_CRITICAL() << "The budget file is incomplete; keeping the back-up budget file"
                               << place.folder.pathOf(backUpName);
        } else if (partly) {
            ZEL_LOG_CRITICAL() << "The budget file was left part-written; not backing it up"
                               << place.path();
        } else {
            previous = backUp(place, previousFile, name_, current, backUpName, backUpExists);
            keepWhatOthersSaved(
                place, previousFile, current, *previous, marker,
                QObject::tr("The budget file, %1, failed to be backed-up prior to saving.")
                    .arg(name_));
        }
        restorable = backUpName;
    } else {
        ZEL_LOG_DEBUG() << "No pre-existing budget file found, no back-up needed.";
    }
    markStore(place, {internal::fingerprintOf(document), previous}, permissionsBeside(current),
              budgetExists ? QObject::tr("The budget file, %1, failed to be backed-up prior to "
                                         "saving.")
                                 .arg(name_)
                           : openFailed);

    File budgetFile;
    if (auto const failure = openForWriting(budgetFile, place, budgetExists); !failure.ok()) {
        // Not opened, not truncated: the marker has nothing to say of the file.
        (void)place.folder.remove(internal::markerNameOf(place.name));
        throw internal::operationError(failure.why(), openFailed);
    }
    try {
        if (auto const failure = writeDurably(budgetFile, document, place); !failure.ok()) {
            throw internal::operationError(
                failure.why(),
                QObject::tr("The budget file, %1, failed to be saved due.").arg(name_));
        }
    } catch (std::exception const&) {
        cleanUp(budgetFile, place, restorable);
        throw;
    }
}

QString BudgetFile::backUpPath() const {
    QString const path = directoryPath_ + QLatin1Char('/') + name_;
    Folder folder;
    QString name;
    if (!internal::locate(path, folder, name).ok()) {
        return path + backUpExtension_;
    }
    return folder.pathOf(name + backUpExtension_);
}

QString BudgetFile::restoreBackUp() const {
    QString const failed =
        QObject::tr("The back-up budget file of %1 failed to be restored.").arg(name_);
    Place const place = located(directoryPath_ + QLatin1Char('/') + name_, failed);
    FileStatus const before = regularOrAbsent(place, place.name, failed);
    FileLock lock;
    lockBudgetFile(lock, place, FileLock::Mode::exclusive, permissionsBeside(before), failed);
    FileStatus const budget = regularOrAbsent(place, place.name, failed);
    bool const budgetExists = budget.kind == FileKind::regular;
    QString const backUpName = place.name + backUpExtension_;
    QString const backUpPath = place.folder.pathOf(backUpName);
    FileStatus backUpStatus;
    if (auto const failure = place.folder.inspect(backUpName, backUpStatus); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    if (backUpStatus.kind == FileKind::absent) {
        throw internal::operationError(
            QObject::tr("There is no back-up budget file %1.").arg(backUpPath), failed);
    }
    // In a shared folder another user can put a file or a link at the back-up's name; restored,
    // it would become this user's budget.
    if (backUpStatus.kind != FileKind::regular) {
        throw internal::operationError(internal::notARegularFile(backUpPath, backUpStatus.kind),
                                       failed);
    }
    File backUp;
    openBeside(backUp, place, backUpName, File::Access::read, failed);
    if (auto const failure = backUp.status(backUpStatus); !failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    if (backUpStatus.owner != internal::currentUser() &&
        !(budgetExists && backUpStatus.owner == budget.owner)) {
        throw internal::operationError(
            QObject::tr("The back-up budget file %1 belongs to %2, who does not own the budget "
                        "file, so it is not restored.")
                .arg(backUpPath, internal::userName(backUpStatus.owner)),
            failed);
    }
    // The back-up must hold a budget that loads; its fingerprint is taken on a second reading.
    internal::Fingerprint next;
    {
        QFile document(backUpPath);
        if (!document.open(backUp.handle(), QIODevice::ReadOnly | QIODevice::Text,
                           QFileDevice::DontCloseHandle)) {
            throw internal::operationError(document.errorString(), failed);
        }
        internal::loadBudgetDocument(document);
    }
    Result failure = backUp.rewind();
    if (failure.ok()) {
        failure = internal::fingerprintOfFile(backUp, next);
    }
    if (failure.ok()) {
        failure = backUp.rewind();
    }
    if (!failure.ok()) {
        throw internal::operationError(failure.why(), failed);
    }
    ZEL_LOG_DEBUG() << "Restoring the back-up budget file" << backUpPath;

    // What the file being replaced holds, for the marker: a file that an earlier store left
    // part-written passes for no budget, even if a power loss leaves it as it is.
    std::optional<internal::Fingerprint> previous;

    // The file being replaced is copied aside first, with its owner and permissions, and the
    // copy made durable, name and all, with the marker.
    QString kept;
    if (budgetExists) {
        bool const partly = leftoverAt(place, failed) == Leftover::partWritten;
        kept = keepingName(place, QStringLiteral("before-restore"), failed);
        internal::Fingerprinter copied;
        File source;
        openBeside(source, place, place.name, File::Access::read, failed);
        if (auto const notCopied =
                internal::copyFile(source, place.folder, kept, budget,
                                   [&](QByteArray const& block) { copied.add(block); });
            !notCopied.ok()) {
            throw internal::operationError(notCopied.why(), failed);
        }
        if (!partly) {
            previous = copied.fingerprint();
        }
    }
    markStore(place, {next, previous}, permissionsBeside(budget), failed);
    // Then the back-up is written in place, block by block, as a store writes: the budget file
    // keeps its links, permissions and owner.
    File budgetFile;
    failure = openForWriting(budgetFile, place, budgetExists);
    if (failure.ok()) {
        failure = internal::copyInto(backUp, budgetFile);
    }
    if (failure.ok()) {
        failure = budgetFile.close();
    }
    if (failure.ok()) {
        failure = unmark(place, Ended::written);
    }
    if (!failure.ok()) {
        (void)budgetFile.close();
        // The copy aside goes back in place, as a store's back-up does: written back into the
        // file, or renamed into its place when that cannot be done.
        bool const putBackInPlace = budgetExists && putBack(place, kept).ok();
        if (putBackInPlace) {
            // The file was never replaced after all, and its copy is one too many.
            (void)place.folder.remove(kept);
        }
        bool const putBackAtAll =
            !budgetExists || putBackInPlace ||
            (place.folder.remove(place.name).ok() && place.folder.rename(kept, place.name).ok());
        // The marker stays for a file put back that an earlier store left part-written, which
        // it keeps from being loaded; otherwise it goes once the file put back is on the disk.
        if (place.folder.sync().ok() && putBackAtAll && previous) {
            (void)unmark(place, Ended::putBack);
        }
        throw internal::operationError(
            failure.why(), putBackAtAll
                               ? failed
                               : QObject::tr("The back-up budget file of %1 failed to be restored; "
                                             "the file it was to replace is kept as %2.")
                                     .arg(name_, place.folder.pathOf(kept)));
    }
    return kept.isEmpty() ? kept : place.folder.pathOf(kept);
}

} // namespace zel::file_storage
