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

using internal::Failure;
using internal::FileKind;
using internal::FileLock;

// How long a load or store waits for another one of the same budget file to end: a store of a
// budget of many years takes well under a second, and a person waiting longer is better told
// why.
constexpr std::chrono::seconds lockWait{10};

// The lock file of the budget file at path: beside it and hidden. Every back-up's name starts
// with the budget file's name, so no back-up extension can give a back-up this name.
QString lockPathOf(QString const& path) {
    QFileInfo const info(path);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock");
}

// Takes the lock of the budget file at path into lock. Throws StorageError, with failed as its
// second text, when others hold it for the whole wait, and when its lock file is there but
// cannot be used. Where no lock can be had at all (a folder that cannot be written, a file
// system without locks) the load or store goes ahead without one, as it would without this
// lock.
void lockBudgetFile(FileLock& lock, QString const& path, FileLock::Mode mode,
                    QString const& failed) {
    QString why;
    QString const lockPath = lockPathOf(path);
    switch (lock.acquire(lockPath, mode, lockWait, why)) {
    case FileLock::Outcome::acquired:
        return;
    case FileLock::Outcome::busy:
        throw internal::operationError(
            QObject::tr("The budget file is in use: other loads or stores held it for the whole "
                        "%1 seconds this one waited.")
                .arg(lockWait.count()),
            failed);
    case FileLock::Outcome::refused:
        throw internal::operationError(why, failed);
    case FileLock::Outcome::unavailable:
        if (mode == FileLock::Mode::exclusive) {
            ZEL_LOG_WARNING().noquote()
                << QStringLiteral("Storing without the lock %1: %2.").arg(lockPath, why);
        }
        return;
    }
}

// The file that the budget path names, a link followed to its end. Throws StorageError, with
// failed as its second text, when the link cannot be followed.
QString resolvedPath(QString const& path, QString const& failed) {
    QString target;
    if (auto failure = internal::resolveLinks(path, target)) {
        throw internal::operationError(*failure, failed);
    }
    return target;
}

// What stands at path, which must be a regular file or nothing. Throws StorageError, with
// failed as its second text, for anything else (a directory, a device, a named pipe, a socket)
// and when the system cannot tell.
FileKind regularOrAbsent(QString const& path, QString const& failed) {
    auto kind = FileKind::absent;
    if (auto failure = internal::kindOf(path, kind)) {
        throw internal::operationError(*failure, failed);
    }
    if (kind != FileKind::absent && kind != FileKind::regular) {
        throw internal::operationError(internal::notARegularFile(path, kind), failed);
    }
    return kind;
}

// Whether the file at path holds a well-formed document. A store that died while writing
// leaves the file cut short, which does not. Every document a store writes ends with the
// root's end tag, and that ending alone settles it; only a file that ends otherwise (a comment
// after the root, a root with no end tag of its own, another encoding) is read through.
bool holdsCompleteDocument(QString const& path) {
    QFile file(path);
    if (internal::openForReading(file, QIODevice::ReadOnly)) {
        // Unreadable is not known to be cut short; the copy that follows reports it.
        return true;
    }
    auto const tail = QByteArray("</") + internal::ApplicationElement::tag_.data() + '>';
    auto const size = file.size();
    auto const start = std::max<qint64>(0, size - tail.size() - 64);
    if (file.seek(start) && file.read(size - start).trimmed().endsWith(tail)) {
        return true;
    }
    if (!file.seek(0)) {
        return true;
    }
    QXmlStreamReader reader(&file);
    while (!reader.atEnd()) {
        reader.readNext();
    }
    return !reader.hasError();
}

// Moves the previous back-up aside and copies the budget file to the back-up path, so that a
// good copy of the previous budget is on the disk (its name once the folder is synced) before
// the budget file is truncated.
// Returns the fingerprint of what it copied.
internal::Fingerprint backUp(QString const& budgetPath, QString const& name,
                             QString const& backUpPath, bool backUpExists) {
    std::optional<QString> oldBackUpPath;
    if (backUpExists) {
        QString const oldPath = backUpPath + BudgetFile::oldBackUpExtension_;
        QString const rotationFailed =
            QObject::tr("The back-up budget file, %1, failed to be backed-up prior to backing "
                        "up the budget file.")
                .arg(backUpPath);
        // A left-over old back-up is older than the back-up that is about to replace it, so it
        // holds nothing worth keeping; left in place it would block every later store. Something
        // other than a file there is not the store's to remove, and is named instead.
        if (regularOrAbsent(oldPath, rotationFailed) == FileKind::regular &&
            !internal::removeFile(oldPath)) {
            ZEL_LOG_WARNING() << "Removed a left-over old back-up budget file" << oldPath;
        }
        if (auto failure = internal::renameFile(backUpPath, oldPath)) {
            throw internal::operationError(*failure, rotationFailed);
        }
        ZEL_LOG_DEBUG() << "Successfully backed-up the old back-up budget file.";
        oldBackUpPath = oldPath;
    }

    QString const failed =
        QObject::tr("The budget file, %1, failed to be backed-up prior to saving.").arg(name);
    internal::Fingerprinter copied;
    if (auto failure = internal::copyFile(budgetPath, backUpPath,
                                          [&](QByteArray const& block) { copied.add(block); })) {
        if (oldBackUpPath) {
            if (auto notRestored = internal::renameFile(*oldBackUpPath, backUpPath)) {
                ZEL_LOG_CRITICAL().noquote()
                    << QObject::tr("Failed to restore the back-up budget file '%1' due to %2.")
                           .arg(*oldBackUpPath, *notRestored);
            } else {
                ZEL_LOG_DEBUG() << "Successfully restored the old back-up budget file.";
            }
        }
        throw internal::operationError(*failure, failed);
    }
    ZEL_LOG_DEBUG() << "Successfully backed-up the budget file.";
    if (oldBackUpPath) {
        if (auto notRemoved = internal::removeFile(*oldBackUpPath)) {
            ZEL_LOG_CRITICAL().noquote()
                << QObject::tr("Failed to remove the old back-up budget file '%1' due to %2.")
                       .arg(*oldBackUpPath, *notRemoved);
        } else {
            ZEL_LOG_DEBUG() << "Successfully removed the old back-up budget file.";
        }
    }
    return copied.fingerprint();
}

// What an earlier store that never finished left of the budget file at path, by its marker.
enum class Leftover {
    none,        // no marker, or one that its store never got past: the file is as it was
    whole,       // the file holds what that store wrote, or the whole budget it replaced
    partWritten, // the file is neither: parts of two documents, or of one, can stand in it
};

Leftover leftoverAt(QString const& path, QString const& failed) {
    QString const markerPath = internal::markerPathOf(path);
    if (regularOrAbsent(markerPath, failed) == FileKind::absent) {
        return Leftover::none;
    }
    QFile file(markerPath);
    if (auto failure = internal::openForReading(file, QIODevice::ReadOnly)) {
        throw internal::operationError(*failure, failed);
    }
    // A marker is a few lines; anything longer is no marker of a store's.
    auto const marker = internal::parseMarker(file.read(4096));
    if (!marker) {
        return Leftover::none;
    }
    if (regularOrAbsent(path, failed) == FileKind::absent) {
        return Leftover::whole;
    }
    internal::Fingerprint fingerprint;
    if (auto failure = internal::fingerprintOfFile(path, fingerprint)) {
        throw internal::operationError(*failure, failed);
    }
    return internal::isWholeBudget(*marker, fingerprint) ? Leftover::whole : Leftover::partWritten;
}

// Why a budget file that a store left part-written is not loaded, with the back-up to turn to.
QString partWritten(QString const& backUpPath) {
    return QFileInfo::exists(backUpPath)
               ? QObject::tr("A store of the budget file did not finish, so the file may hold "
                             "parts of two budgets. Its back-up, %1, holds the budget before "
                             "that store: restore it.")
                     .arg(backUpPath)
               : QObject::tr("A store of the budget file did not finish, so the file may hold "
                             "parts of two budgets, and it has no back-up.");
}

// Makes the marker of a store that writes next over the budget file at path (which held the
// whole budget previous, if any) durable in its folder, together with every entry made before
// it there. Throws StorageError, with failed as its second text, when it cannot.
void markStore(QString const& path, internal::StoreMarker const& marker, QString const& failed) {
    QString const markerPath = internal::markerPathOf(path);
    // A marker left behind goes, and so does a link in its place (removed, never followed);
    // anything else there is named.
    if (regularOrAbsent(markerPath, failed) == FileKind::regular ||
        QFileInfo(markerPath).isSymLink()) {
        if (auto failure = internal::removeFile(markerPath)) {
            throw internal::operationError(*failure, failed);
        }
    }
    internal::OutputFile file(markerPath);
    Failure failure = file.create();
    if (!failure) {
        failure = file.write(internal::markerBytes(marker));
    }
    if (!failure) {
        failure = file.sync();
    }
    if (!failure) {
        failure = file.close();
    }
    if (failure) {
        (void)internal::removeFile(markerPath);
        throw internal::operationError(*failure, failed);
    }
    QString const directory = QFileInfo(path).absolutePath();
    if (internal::syncDirectory(directory)) {
        // The budget file is untouched: the marker has nothing to say of it.
        (void)internal::removeFile(markerPath);
        throw internal::operationError(
            QObject::tr("The directory %1 could not be written to the disk.").arg(directory),
            failed);
    }
}

// Writes bytes into the open budget file and puts them on the disk, then lets the marker go,
// with the name of a new file: the store or restore has only succeeded then.
Failure writeDurably(internal::OutputFile& budgetFile, QByteArray const& bytes,
                     QString const& directory) {
    Failure failure = budgetFile.write(bytes);
    if (!failure) {
        failure = budgetFile.sync();
    }
    if (!failure) {
        failure = budgetFile.close();
    }
    if (!failure) {
        // A marker whose removal is lost to a power loss still matches the file, and only
        // costs the next load a look at it.
        (void)internal::removeFile(internal::markerPathOf(budgetFile.path()));
        failure = internal::syncDirectory(directory);
    }
    return failure;
}

// Puts the previous budget file back after a failed write. Failures are logged only: the
// caller rethrows the error that caused the clean-up.
void cleanUp(internal::OutputFile& budgetFile, std::optional<QString> const& backUpPath,
             QString const& directory) {
    ZEL_LOG_CRITICAL() << "An error occurred after writing the budget file started.";
    // Closed before it is removed, which some systems require; a failure to close changes
    // nothing about what follows.
    (void)budgetFile.close();
    if (auto notRemoved = internal::removeFile(budgetFile.path())) {
        ZEL_LOG_WARNING().noquote() << QStringLiteral("Failed to remove the broken budget file, ") +
                                           budgetFile.path() + QStringLiteral(", due to ") +
                                           *notRemoved + QStringLiteral(".");
        // The marker stays and keeps the broken file from being loaded or backed up.
        return;
    }
    ZEL_LOG_DEBUG() << "Successfully removed the broken budget file.";
    if (backUpPath) {
        // Renamed, never copied: the back-up is the only good copy left, and stays where it is
        // when the rename fails.
        if (auto notRenamed = internal::renameFile(*backUpPath, budgetFile.path())) {
            ZEL_LOG_WARNING().noquote()
                << QStringLiteral("Failed to restore the backed-up budget file, ") + *backUpPath +
                       QStringLiteral(", failed to be renamed due to ") + *notRenamed +
                       QStringLiteral(".");
        } else {
            ZEL_LOG_DEBUG() << "Successfully restored the backed-up budget file.";
        }
    }
    // What stands at the budget path now is the previous budget, or nothing, and the marker has
    // done its work; but it goes only once that is on the disk: a file system that does not
    // keep its entries in order could otherwise keep its removal and lose the rename.
    if (!internal::syncDirectory(directory) &&
        !internal::removeFile(internal::markerPathOf(budgetFile.path()))) {
        (void)internal::syncDirectory(directory);
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
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    internal::storeBudgetDocument(budget, ledger, banks, accountTypes, itemAccounts, surveys,
                                  &buffer, false);
    return document;
}

} // namespace

storage::BudgetState BudgetFile::load() const {
    QString const failed = QObject::tr("The budget file, %1, failed to be loaded.").arg(name_);
    QString const path = resolvedPath(directoryPath_ + QLatin1Char('/') + name_, failed);
    // Held to the end of the read, so that no store truncates the file under it.
    FileLock lock;
    lockBudgetFile(lock, path, FileLock::Mode::shared, failed);
    if (leftoverAt(path, failed) == Leftover::partWritten) {
        throw internal::operationError(partWritten(path + backUpExtension_), failed);
    }
    QFile file(path);
    if (auto failure = internal::openForReading(file, QIODevice::ReadOnly | QIODevice::Text)) {
        throw internal::operationError(*failure, failed);
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
    // that file's back-up beside it, where a rename can put the back-up back in one step.
    QString const path = resolvedPath(budgetPath, openFailed);
    QString const directory = QFileInfo(path).absolutePath();
    FileLock lock;
    lockBudgetFile(lock, path, FileLock::Mode::exclusive,
                   QObject::tr("The budget file, %1, failed to be saved.").arg(name_));
    QString const backUpPath = path + backUpExtension_;
    bool const budgetExists = regularOrAbsent(path, openFailed) == FileKind::regular;
    bool const backUpExists =
        regularOrAbsent(backUpPath,
                        QObject::tr("The back-up budget file, %1, failed to be backed-up prior to "
                                    "backing up the budget file.")
                            .arg(backUpPath)) == FileKind::regular;

    // Set once a good copy of the previous budget file stands at the back-up path.
    std::optional<QString> restorable;
    std::optional<internal::Fingerprint> previous;
    if (budgetExists) {
        bool const partly = leftoverAt(path, openFailed) == Leftover::partWritten;
        // A budget file that an earlier store left part-written or cut short holds no budget
        // worth keeping: backed up, it would replace the last good copy, and a failure of this
        // store would then leave the user with neither. The back-up is kept as it is instead.
        // Without a back-up, a file cut short for some other reason (edited by hand, say) is
        // still backed up: it may be all the user has.
        if (backUpExists && (partly || !holdsCompleteDocument(path))) {
            ZEL_LOG_CRITICAL() << "The budget file is incomplete; keeping the back-up budget file"
                               << backUpPath;
        } else if (partly) {
            ZEL_LOG_CRITICAL() << "The budget file was left part-written; not backing it up"
                               << path;
        } else {
            previous = backUp(path, name_, backUpPath, backUpExists);
        }
        restorable = backUpPath;
    } else {
        ZEL_LOG_DEBUG() << "No pre-existing budget file found, no back-up needed.";
    }
    markStore(path, {internal::fingerprintOf(document), previous},
              budgetExists ? QObject::tr("The budget file, %1, failed to be backed-up prior to "
                                         "saving.")
                                 .arg(name_)
                           : openFailed);

    internal::OutputFile budgetFile(path);
    if (auto failure = budgetFile.open()) {
        // Not opened, not truncated: the marker has nothing to say of the file.
        (void)internal::removeFile(internal::markerPathOf(path));
        throw internal::operationError(*failure, openFailed);
    }
    try {
        if (auto failure = writeDurably(budgetFile, document, directory)) {
            throw internal::operationError(
                *failure, QObject::tr("The budget file, %1, failed to be saved due.").arg(name_));
        }
    } catch (std::exception const&) {
        cleanUp(budgetFile, restorable, directory);
        throw;
    }
}

QString BudgetFile::backUpPath() const {
    QString path = directoryPath_ + QLatin1Char('/') + name_;
    QString target;
    if (!internal::resolveLinks(path, target)) {
        path = target;
    }
    return path + backUpExtension_;
}

QString BudgetFile::restoreBackUp() const {
    QString const failed =
        QObject::tr("The back-up budget file of %1 failed to be restored.").arg(name_);
    QString const path = resolvedPath(directoryPath_ + QLatin1Char('/') + name_, failed);
    QString const directory = QFileInfo(path).absolutePath();
    FileLock lock;
    lockBudgetFile(lock, path, FileLock::Mode::exclusive, failed);
    QString const backUpPath = path + backUpExtension_;
    bool const budgetExists = regularOrAbsent(path, failed) == FileKind::regular;
    if (regularOrAbsent(backUpPath, failed) != FileKind::regular) {
        throw internal::operationError(
            QObject::tr("There is no back-up budget file %1.").arg(backUpPath), failed);
    }
    // The back-up's bytes, which must hold a budget that loads.
    QByteArray bytes;
    {
        QFile backUp(backUpPath);
        if (auto failure = internal::openForReading(backUp, QIODevice::ReadOnly)) {
            throw internal::operationError(*failure, failed);
        }
        bytes = backUp.readAll();
        if (backUp.error() != QFileDevice::NoError) {
            throw internal::operationError(backUp.errorString(), failed);
        }
        QBuffer document(&bytes);
        document.open(QIODevice::ReadOnly | QIODevice::Text);
        internal::loadBudgetDocument(document);
    }
    ZEL_LOG_DEBUG() << "Restoring the back-up budget file" << backUpPath;

    // What the file being replaced holds, for the marker: a file that an earlier store left
    // part-written passes for no budget, even if a power loss leaves it as it is.
    std::optional<internal::Fingerprint> previous;

    // The file being replaced is copied aside first, and the copy made durable, name and all,
    // with the marker.
    QString kept;
    if (budgetExists) {
        bool const partly = leftoverAt(path, failed) == Leftover::partWritten;
        QString const stem =
            path + QStringLiteral(".before-restore-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
        kept = stem;
        for (int n = 2; regularOrAbsent(kept, failed) != FileKind::absent; ++n) {
            kept = stem + QLatin1Char('-') + QString::number(n);
        }
        internal::Fingerprinter copied;
        if (auto failure = internal::copyFile(
                path, kept, [&](QByteArray const& block) { copied.add(block); })) {
            throw internal::operationError(*failure, failed);
        }
        if (!partly) {
            previous = copied.fingerprint();
        }
    }
    markStore(path, {internal::fingerprintOf(bytes), previous}, failed);
    // Then the back-up is written in place, as a store writes: the budget file keeps its links,
    // permissions and owner.
    internal::OutputFile budgetFile(path);
    Failure failure = budgetFile.open();
    if (!failure) {
        failure = writeDurably(budgetFile, bytes, directory);
    }
    if (failure) {
        // The copy aside goes back in place, by a rename, as a store's back-up does.
        (void)budgetFile.close();
        bool const putBack =
            !budgetExists || (!internal::removeFile(path) && !internal::renameFile(kept, path));
        // The marker stays for a file put back that an earlier store left part-written, which
        // it keeps from being loaded; otherwise it goes once the file put back is on the disk.
        if (!internal::syncDirectory(directory) && putBack && previous &&
            !internal::removeFile(internal::markerPathOf(path))) {
            (void)internal::syncDirectory(directory);
        }
        throw internal::operationError(
            *failure, putBack ? failed
                              : QObject::tr("The back-up budget file of %1 failed to be restored; "
                                            "the file it was to replace is kept as %2.")
                                    .arg(name_, kept));
    }
    return kept;
}

} // namespace zel::file_storage
