#include "file-storage/BudgetFile.h"

#include "file-storage/common/ErrorForms.h"
#include "file-storage/common/Log.h"
#include "file-storage/document/BudgetDocument.h"
#include "file-storage/files/FileSync.h"
#include "file-storage/files/Rewrite.h"
#include "file-storage/files/StoreMarker.h"

#include <QBuffer>
#include <QFile>
#include <QObject>

#include <chrono>
#include <exception>
#include <optional>

// The store writes the budget file in place: it truncates the file and writes the new document
// into it, rather than writing a new file and renaming it over the old one. Written in place,
// the file keeps what the user gave it (hard links, permissions, owner, the file a symbolic
// link names) and stays where a synced folder expects it. The price is a moment in which the
// file holds no complete budget; the rewrite (files/Rewrite.h, which also states the rule
// that no call loses the only copy of a budget's bytes) pays it, for the store and the restore
// alike. What is here is what each call supplies: the bytes to write, what to keep beside the
// file, and the texts of its errors.

namespace zel::file_storage {

namespace {

using internal::File;
using internal::FileKind;
using internal::FileLock;
using internal::FileStatus;
using internal::Place;
using internal::Result;

// How long a load or store waits for another one of the same budget file to end: a store of a
// budget of many years takes well under a second, and a person waiting longer is better told
// why.
constexpr std::chrono::seconds lockWait{10};

// Throws StorageError, with failed as its second text, when result is a failure.
void check(Result const& result, QString const& failed) {
    if (!result.ok()) {
        throw internal::operationError(result.why(), failed);
    }
}

// The place of the budget file that path names, a link followed to its end where the system
// would follow it. Throws StorageError, with failed as its second text, when it cannot be found.
Place located(QString const& path, QString const& failed) {
    Place place;
    check(internal::locate(path, place.folder, place.name), failed);
    return place;
}

// What stands at name beside the budget file: a regular file or nothing (see
// internal::regularOrAbsent). Throws StorageError, with failed as its second text, otherwise.
FileStatus regularOrAbsent(Place const& place, QString const& name, QString const& failed) {
    FileStatus status;
    check(internal::regularOrAbsent(place, name, status), failed);
    return status;
}

// Takes the lock of the budget file described by budget into lock. Throws StorageError, with
// failed as its second text, when others hold it for the whole wait, and when its lock file is
// there but cannot be used. Where no lock can be had at all (a folder that cannot be written, a
// file system without locks) the load or store goes ahead without one, as it would without
// this lock.
void lockBudgetFile(FileLock& lock, Place const& place, FileLock::Mode mode,
                    FileStatus const& budget, QString const& failed) {
    QString why;
    // Hidden beside the budget file. Every back-up's name starts with the budget file's name, so
    // no back-up extension can give a back-up this name.
    QString const lockPath =
        place.folder.pathOf(QLatin1Char('.') + place.name + QStringLiteral(".lock"));
    switch (lock.acquire(lockPath, mode, lockWait, why, budget)) {
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

// Takes the lock of the budget file and looks at what stands beside it again under the lock
// (another store may have changed it meanwhile): the budget file, which must be a regular file
// or nothing, and the marker and record, which must be trusted. Returns the budget file's
// status.
FileStatus lockAndLook(FileLock& lock, Place const& place, FileLock::Mode mode,
                       QString const& lockFailed, QString const& failed) {
    FileStatus const beforeLock = regularOrAbsent(place, place.name, failed);
    lockBudgetFile(lock, place, mode, beforeLock, lockFailed);
    FileStatus const budget = regularOrAbsent(place, place.name, failed);
    check(internal::trustHiddenFiles(place, budget), failed);
    return budget;
}

// Reads the budget document in the open file at path.
storage::BudgetState loadFrom(File const& opened, QString const& path, QString const& failed) {
    QFile file(path);
    if (!file.open(opened.handle(), QIODevice::ReadOnly | QIODevice::Text,
                   QFileDevice::DontCloseHandle)) {
        throw internal::operationError(file.errorString(), failed);
    }
    return internal::loadBudgetDocument(file);
}

// Whether the open file holds a whole document (see internal::holdsCompleteDocument).
bool holdsCompleteDocument(File const& budget) {
    QFile file;
    if (!file.open(budget.handle(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        // Unreadable is not known to be cut short; the copy that follows reports it.
        return true;
    }
    return internal::holdsCompleteDocument(file);
}

// The fingerprint of the whole of the open file.
internal::Fingerprint fingerprintOf(File& file, QString const& failed) {
    internal::Fingerprint fingerprint;
    Result failure = file.rewind();
    if (failure.ok()) {
        failure = internal::fingerprintOfFile(file, fingerprint);
    }
    check(failure, failed);
    return fingerprint;
}

// Copies the budget file, open at budgetFile, to the back-up, with the budget file's owner,
// group and permissions, after moving a back-up there aside, so that a good copy of the previous
// budget is on the disk (its name once the folder is synced) before the budget file is
// truncated. Returns the fingerprint of what it copied.
internal::Fingerprint backUp(internal::Rewrite& rewrite, Place const& place, File& budgetFile,
                             FileStatus const& budget, QString const& backUpName,
                             QString const& rotationFailed, QString const& failed) {
    FileStatus backUp;
    check(place.folder.inspect(backUpName, backUp), rotationFailed);
    if (backUp.kind == FileKind::regular) {
        check(rewrite.moveBackUpAside(backUpName, backUpName + BudgetFile::oldBackUpExtension_),
              rotationFailed);
        ZEL_LOG_DEBUG() << "Successfully backed-up the old back-up budget file.";
    }
    internal::Fingerprinter copied;
    Result failure = budgetFile.rewind();
    if (failure.ok()) {
        failure = internal::copyFile(budgetFile, place.folder, backUpName, budget,
                                     [&](QByteArray const& block) { copied.add(block); });
    }
    check(failure, failed);
    ZEL_LOG_DEBUG() << "Successfully backed-up the budget file.";
    rewrite.keepPreviousIn(backUpName, false);
    return copied.fingerprint();
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
    auto const record = internal::readRecord(place);
    if ((!record && !marker) || (record && record->next == current) ||
        (marker && internal::isWholeBudget(*marker, current))) {
        return;
    }
    internal::Kept kept;
    check(internal::keepCopy(place, budgetFile, current, QStringLiteral("changed-elsewhere"),
                             budget, kept),
          failed);
    ZEL_LOG_WARNING().noquote()
        << QStringLiteral("The budget file %1 was changed by another program since it was last "
                          "stored; that version is kept as %2.")
               .arg(place.path(), place.folder.pathOf(kept.name));
}

// Keeps the budget file, open at budgetFile, beside itself as NAME.incomplete-DATE: the store
// does not back it up (cut short, or left part-written by a store that did not finish), yet its
// bytes may hold the newest of the budget, which only it has. Returns their fingerprint.
internal::Fingerprint keepIncomplete(internal::Rewrite& rewrite, Place const& place,
                                     File& budgetFile, FileStatus const& budget,
                                     std::optional<internal::Fingerprint> const& known,
                                     QString const& failed) {
    auto const bytes = known ? *known : fingerprintOf(budgetFile, failed);
    internal::Kept kept;
    check(internal::keepCopy(place, budgetFile, bytes, QStringLiteral("incomplete"), budget, kept),
          failed);
    ZEL_LOG_WARNING().noquote() << QStringLiteral("The budget file %1 is incomplete; it is kept "
                                                  "as %2.")
                                       .arg(place.path(), place.folder.pathOf(kept.name));
    rewrite.keepPreviousIn(kept.name, false);
    return bytes;
}

// The second texts of a store's errors, by the step that fails.
struct StoreTexts {
    QString opening;
    QString backingUp;
    QString writing;
    QString rotating; // the back-up moved aside
};

// Keeps the budget file that the store replaces (it stands at place, and current describes it):
// backed up, or, where it holds no budget worth backing up, kept beside itself. Returns what it
// holds, for the marker: a file that an earlier store left part-written passes for no budget,
// even if a power loss leaves it as it is.
std::optional<internal::Fingerprint> keepPrevious(internal::Rewrite& rewrite, Place const& place,
                                                  FileStatus const& current,
                                                  QString const& backUpName, bool backUpExists,
                                                  StoreTexts const& texts) {
    internal::Leftover leftover;
    check(internal::leftoverOf(place, leftover), texts.opening);
    bool const partly = leftover.kind == internal::Leftover::Kind::partWritten;
    File previousFile;
    if (auto const failure = previousFile.open(place.folder, place.name, File::Access::read);
        !failure.ok()) {
        throw internal::operationError(
            QObject::tr("Cannot open %1 for input: %2").arg(place.path(), failure.why()),
            texts.backingUp);
    }
    // A budget file that an earlier store left part-written or cut short holds no budget worth
    // backing up: backed up, it would replace the last good copy. The back-up is kept as it is
    // instead, and the file kept beside it. Without a back-up, a file cut short for some other
    // reason (edited by hand, say) is still backed up: it may be all the user has.
    if (!partly && (!backUpExists || holdsCompleteDocument(previousFile))) {
        auto const previous = backUp(rewrite, place, previousFile, current, backUpName,
                                     texts.rotating, texts.backingUp);
        keepWhatOthersSaved(place, previousFile, current, previous, leftover.marker,
                            texts.backingUp);
        return previous;
    }
    if (backUpExists) {
        ZEL_LOG_CRITICAL() << "The budget file is incomplete; keeping the back-up budget file"
                           << place.folder.pathOf(backUpName);
    } else {
        ZEL_LOG_CRITICAL() << "The budget file was left part-written; not backing it up"
                           << place.path();
    }
    auto const bytes = keepIncomplete(rewrite, place, previousFile, current, leftover.fingerprint,
                                      texts.backingUp);
    return partly ? std::nullopt : std::optional(bytes);
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

// Opens the back-up at backUpName, beside the budget file described by budget, to restore it:
// a regular file of the user's own or of the budget file's owner, holding a budget that loads.
// Returns its fingerprint, with backUp at its start. Throws StorageError, with failed as its
// second text, otherwise.
internal::Fingerprint openRestorable(Place const& place, FileStatus const& budget,
                                     QString const& backUpName, QString const& failed,
                                     File& backUp) {
    QString const backUpPath = place.folder.pathOf(backUpName);
    // In a shared folder another user can put a file or a link at the back-up's name; restored,
    // it would become this user's budget.
    FileStatus backUpStatus;
    check(place.folder.inspect(backUpName, backUpStatus), failed);
    if (backUpStatus.kind == FileKind::absent) {
        throw internal::operationError(
            QObject::tr("There is no back-up budget file %1.").arg(backUpPath), failed);
    }
    if (backUpStatus.kind != FileKind::regular) {
        throw internal::operationError(internal::notARegularFile(backUpPath, backUpStatus.kind),
                                       failed);
    }
    check(backUp.open(place.folder, backUpName, File::Access::read), failed);
    check(backUp.status(backUpStatus), failed);
    if (backUpStatus.owner != internal::currentUser() &&
        !(budget.kind == FileKind::regular && backUpStatus.owner == budget.owner)) {
        throw internal::operationError(
            QObject::tr("The back-up budget file %1 belongs to %2, who does not own the budget "
                        "file, so it is not restored.")
                .arg(backUpPath, internal::userName(backUpStatus.owner)),
            failed);
    }
    // The back-up must hold a budget that loads; its fingerprint is taken on a second reading.
    (void)loadFrom(backUp, backUpPath, failed);
    internal::Fingerprint const next = fingerprintOf(backUp, failed);
    check(backUp.rewind(), failed);
    return next;
}

} // namespace

storage::BudgetState BudgetFile::load() const {
    QString const failed = QObject::tr("The budget file, %1, failed to be loaded.").arg(name_);
    Place const place = located(directoryPath_ + QLatin1Char('/') + name_, failed);
    // Held to the end of the read, so that no store truncates the file under it.
    FileLock lock;
    (void)lockAndLook(lock, place, FileLock::Mode::shared, failed, failed);
    internal::Leftover leftover;
    check(internal::leftoverOf(place, leftover), failed);
    if (leftover.kind == internal::Leftover::Kind::partWritten) {
        throw internal::operationError(internal::partWritten(place, place.name + backUpExtension_),
                                       failed);
    }
    File budgetFile;
    check(budgetFile.open(place.folder, place.name, File::Access::read), failed);
    return loadFrom(budgetFile, place.path(), failed);
}

void BudgetFile::store(accounting::GeneralLedger const& ledger, budgeting::Budget const& budget,
                       storage::ItemAccountMap const& itemAccounts, banking::BankMap const& banks,
                       banking::AccountTypeMap const& accountTypes,
                       surveying::ReconciledSurveys const& surveys) const {
    QString const budgetPath = directoryPath_ + QLatin1Char('/') + name_;
    ZEL_LOG_DEBUG() << "Storing Budget File" << budgetPath;
    // Made, and every value in it checked, before any file is touched: a budget that cannot be
    // stored leaves every file as it was. The writer's records wait for the file to be written.
    internal::HeldRecords writerRecords;
    QByteArray document;
    try {
        document = documentOf(ledger, budget, itemAccounts, banks, accountTypes, surveys);
    } catch (...) {
        writerRecords.write();
        throw;
    }
    writerRecords.stop();

    StoreTexts texts{
        QObject::tr("The budget file, %1, failed to be saved while opening.").arg(name_),
        QObject::tr("The budget file, %1, failed to be backed-up prior to saving.").arg(name_),
        QObject::tr("The budget file, %1, failed to be saved due.").arg(name_),
        {}};
    // A symbolic link at the budget path stays: the store writes the file it names, and keeps
    // that file's back-up beside it.
    Place const place = located(budgetPath, texts.opening);
    FileLock lock;
    FileStatus const current = lockAndLook(
        lock, place, FileLock::Mode::exclusive,
        QObject::tr("The budget file, %1, failed to be saved.").arg(name_), texts.opening);
    QString const backUpName = place.name + backUpExtension_;
    texts.rotating =
        QObject::tr("The back-up budget file, %1, failed to be backed-up prior to backing up the "
                    "budget file.")
            .arg(place.folder.pathOf(backUpName));
    (void)regularOrAbsent(place, backUpName, texts.rotating);
    check(internal::settleOldBackUp(place, backUpName, backUpName + oldBackUpExtension_, current),
          texts.rotating);
    bool const backUpExists =
        regularOrAbsent(place, backUpName, texts.rotating).kind == FileKind::regular;

    internal::Rewrite rewrite(place, lock, current, true);
    try {
        bool const budgetExists = current.kind == FileKind::regular;
        std::optional<internal::Fingerprint> previous;
        if (budgetExists) {
            previous = keepPrevious(rewrite, place, current, backUpName, backUpExists, texts);
        } else {
            ZEL_LOG_DEBUG() << "No pre-existing budget file found, no back-up needed.";
        }
        check(rewrite.mark({internal::fingerprintOf(document), previous}),
              budgetExists ? texts.backingUp : texts.opening);
        check(rewrite.open(), texts.opening);
    } catch (...) {
        (void)rewrite.abort();
        throw;
    }
    writerRecords.write();
    try {
        check(rewrite.write(document), texts.writing);
        check(rewrite.commit(), texts.writing);
    } catch (...) {
        (void)rewrite.abort();
        throw;
    }
}

QString BudgetFile::backUpPath() const {
    QString const path = directoryPath_ + QLatin1Char('/') + name_;
    internal::Folder folder;
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
    FileLock lock;
    FileStatus const budget = lockAndLook(lock, place, FileLock::Mode::exclusive, failed, failed);
    bool const budgetExists = budget.kind == FileKind::regular;
    QString const backUpName = place.name + backUpExtension_;
    File backUp;
    internal::Fingerprint const next = openRestorable(place, budget, backUpName, failed, backUp);
    ZEL_LOG_DEBUG() << "Restoring the back-up budget file" << place.folder.pathOf(backUpName);

    internal::Rewrite rewrite(place, lock, budget, false);
    internal::Kept kept;
    try {
        // What the file being replaced holds, for the marker: a file that an earlier store left
        // part-written passes for no budget, even if a power loss leaves it as it is.
        std::optional<internal::Fingerprint> previous;
        if (budgetExists) {
            internal::Leftover leftover;
            check(internal::leftoverOf(place, leftover), failed);
            File source;
            check(source.open(place.folder, place.name, File::Access::read), failed);
            auto const bytes =
                leftover.fingerprint ? *leftover.fingerprint : fingerprintOf(source, failed);
            // The file being replaced is copied aside first, with its owner and permissions,
            // and the copy made durable, name and all, with the marker.
            check(internal::keepCopy(place, source, bytes, QStringLiteral("before-restore"), budget,
                                     kept),
                  failed);
            rewrite.keepPreviousIn(kept.name, kept.made);
            if (leftover.kind != internal::Leftover::Kind::partWritten) {
                previous = bytes;
            }
        }
        check(rewrite.mark({next, previous}), failed);
        // Then the back-up is written in place, block by block, as a store writes: the budget
        // file keeps its links, permissions and owner.
        check(rewrite.open(), failed);
        check(rewrite.copy(backUp), failed);
        check(rewrite.commit(), failed);
    } catch (storage::StorageError const& error) {
        if (!rewrite.abort() && !kept.name.isEmpty()) {
            throw internal::operationError(
                error.firstText(),
                QObject::tr("The back-up budget file of %1 failed to be restored; the file it was "
                            "to replace is kept as %2.")
                    .arg(name_, place.folder.pathOf(kept.name)));
        }
        throw;
    } catch (...) {
        (void)rewrite.abort();
        throw;
    }
    return kept.name.isEmpty() ? QString() : place.folder.pathOf(kept.name);
}

} // namespace zel::file_storage
