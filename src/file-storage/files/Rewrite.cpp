#include "file-storage/files/Rewrite.h"

#include "file-storage/common/Log.h"

#include <QDateTime>
#include <QDir>
#include <QObject>

namespace zel::file_storage::internal {

namespace {

// Reads the marker, or the record, at name beside the budget file into marker, which is left
// empty for bytes that are no marker. Fails when the file cannot be read.
Result readMarker(Place const& place, QString const& name, std::optional<StoreMarker>& marker) {
    File file;
    QByteArray bytes;
    Result result = file.open(place.folder, name, File::Access::read);
    if (result.ok()) {
        result = file.read(bytes);
    }
    // A marker is a few lines; anything longer is no marker of a store's.
    marker = result.ok() ? parseMarker(bytes.left(4096)) : std::nullopt;
    return result;
}

// The fingerprint of the whole of the regular file at name beside the budget file.
Result fingerprintAt(Place const& place, QString const& name, Fingerprint& fingerprint) {
    File file;
    Result result = file.open(place.folder, name, File::Access::read);
    return result.ok() ? fingerprintOfFile(file, fingerprint) : result;
}

// A name beside the budget file, saying what the file kept there is and when it was kept, at
// which nothing stands yet. Such names are easily foreseen, so anything at one, a link included,
// is passed over rather than used; the copy is then made as a new file, never through a link.
Result keepingName(Place const& place, QString const& kind, QString& name) {
    QString const stem = place.name + QLatin1Char('.') + kind + QLatin1Char('-') +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    name = stem;
    FileStatus taken;
    for (int n = 2;; ++n) {
        if (auto const failure = place.folder.inspect(name, taken); !failure.ok()) {
            return failure;
        }
        if (taken.kind == FileKind::absent) {
            return Result::done();
        }
        name = stem + QLatin1Char('-') + QString::number(n);
    }
}

// The name of a copy of the given kind beside the budget file that holds the bytes of this
// fingerprint, made by a trusted owner; empty where there is none.
Result findCopy(Place const& place, QString const& kind, Fingerprint const& bytes,
                FileStatus const& budget, QString& found) {
    found.clear();
    QString const prefix = place.name + QLatin1Char('.') + kind + QLatin1Char('-');
    // Compared by hand rather than as a pattern, which the budget file's own name could hold.
    auto const names =
        QDir(place.folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (auto const& name : names) {
        if (!name.startsWith(prefix)) {
            continue;
        }
        FileStatus status;
        if (auto const failure = place.folder.inspect(name, status); !failure.ok()) {
            return failure;
        }
        if (status.kind != FileKind::regular || status.size != bytes.size ||
            !isTrustedOwner(status.owner, budget)) {
            continue;
        }
        Fingerprint fingerprint;
        if (fingerprintAt(place, name, fingerprint).ok() && fingerprint == bytes) {
            found = name;
            return Result::done();
        }
    }
    return Result::done();
}

QString notUsed(QString const& path, uint owner) {
    return QObject::tr("The file %1 belongs to %2 in a folder that every user may write to, so "
                       "it is not used.")
        .arg(path, userName(owner));
}

} // namespace

// ---- What stands beside the budget file ----------------------------------------------------

Result regularOrAbsent(Place const& place, QString const& name, FileStatus& status) {
    if (auto const failure = place.folder.inspect(name, status); !failure.ok()) {
        return failure;
    }
    if (status.kind != FileKind::absent && status.kind != FileKind::regular) {
        return notARegularFile(place.folder.pathOf(name), status.kind);
    }
    // Written to in place, another user's file would receive the budget; moved aside or
    // restored, it would become the user's back-up or budget.
    if (status.kind == FileKind::regular && !place.folder.mayUse(status)) {
        return notUsed(place.folder.pathOf(name), status.owner);
    }
    return Result::done();
}

Result trustHiddenFiles(Place const& place, FileStatus const& budget) {
    for (auto const& name : {markerNameOf(place.name), recordNameOf(place.name)}) {
        FileStatus status;
        if (auto const failure = place.folder.inspect(name, status); !failure.ok()) {
            return failure;
        }
        if (status.kind != FileKind::absent && status.kind != FileKind::regular &&
            status.kind != FileKind::link) {
            return notARegularFile(place.folder.pathOf(name), status.kind);
        }
        if (status.kind != FileKind::absent && !isTrustedOwner(status.owner, budget)) {
            return notTrusted(place.folder.pathOf(name), status.owner);
        }
    }
    return Result::done();
}

Result leftoverOf(Place const& place, Leftover& leftover) {
    leftover = Leftover();
    QString const markerName = markerNameOf(place.name);
    FileStatus marker;
    if (auto const failure = place.folder.inspect(markerName, marker); !failure.ok()) {
        return failure;
    }
    // A store makes its marker as a new file, never a link: a link there is nobody's marker.
    if (marker.kind != FileKind::regular) {
        return Result::done();
    }
    if (auto const failure = readMarker(place, markerName, leftover.marker); !failure.ok()) {
        return failure;
    }
    if (!leftover.marker) {
        return Result::done();
    }
    FileStatus budget;
    if (auto const failure = place.folder.inspect(place.name, budget); !failure.ok()) {
        return failure;
    }
    if (budget.kind == FileKind::absent) {
        leftover.kind = Leftover::Kind::whole;
        return Result::done();
    }
    Fingerprint fingerprint;
    if (auto const failure = fingerprintAt(place, place.name, fingerprint); !failure.ok()) {
        return failure;
    }
    leftover.fingerprint = fingerprint;
    leftover.kind = isWholeBudget(*leftover.marker, fingerprint) ? Leftover::Kind::whole
                                                                 : Leftover::Kind::partWritten;
    return Result::done();
}

std::optional<StoreMarker> readRecord(Place const& place) {
    QString const recordName = recordNameOf(place.name);
    FileStatus status;
    std::optional<StoreMarker> record;
    // A record that cannot be read says nothing; its owner was checked before.
    if (place.folder.inspect(recordName, status).ok() && status.kind == FileKind::regular) {
        (void)readMarker(place, recordName, record);
    }
    return record;
}

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

// ---- Copies kept beside the budget file --------------------------------------------------------

Result keepCopy(Place const& place, File& source, Fingerprint const& bytes, QString const& kind,
                FileStatus const& budget, Kept& kept) {
    kept = Kept();
    if (auto const failure = findCopy(place, kind, bytes, budget, kept.name); !failure.ok()) {
        return failure;
    }
    if (!kept.name.isEmpty()) {
        return Result::done();
    }
    if (auto const failure = keepingName(place, kind, kept.name); !failure.ok()) {
        return failure;
    }
    Result result = source.rewind();
    if (result.ok()) {
        result = copyFile(source, place.folder, kept.name, budget);
    }
    kept.made = result.ok();
    return result;
}

Result settleOldBackUp(Place const& place, QString const& backUpName, QString const& oldName,
                       FileStatus const& budget) {
    Folder const& folder = place.folder;
    FileStatus old;
    if (auto const failure = folder.inspect(oldName, old); !failure.ok()) {
        return failure;
    }
    if (old.kind == FileKind::absent) {
        return Result::done();
    }
    // A link holds no bytes of anyone's budget here: it goes, never followed.
    if (old.kind == FileKind::link) {
        if (auto const failure = folder.remove(oldName); !failure.ok()) {
            return failure;
        }
        ZEL_LOG_WARNING() << "Removed a left-over old back-up budget file"
                          << folder.pathOf(oldName);
        return Result::done();
    }
    if (auto const failure = regularOrAbsent(place, oldName, old); !failure.ok()) {
        return failure;
    }
    FileStatus backUp;
    if (auto const failure = folder.inspect(backUpName, backUp); !failure.ok()) {
        return failure;
    }
    // A store that died after it moved the back-up aside, before the new one had its name.
    if (backUp.kind == FileKind::absent) {
        if (auto const failure = folder.rename(oldName, backUpName); !failure.ok()) {
            return failure;
        }
        ZEL_LOG_DEBUG() << "Successfully restored the old back-up budget file.";
        return Result::done();
    }
    Fingerprint bytes;
    if (auto const failure = fingerprintAt(place, oldName, bytes); !failure.ok()) {
        return failure;
    }
    bool heldElsewhere = false;
    for (auto const& name : {backUpName, place.name}) {
        FileStatus other;
        Fingerprint fingerprint;
        heldElsewhere =
            heldElsewhere || (folder.inspect(name, other).ok() && other.kind == FileKind::regular &&
                              other.size == bytes.size &&
                              fingerprintAt(place, name, fingerprint).ok() && fingerprint == bytes);
    }
    QString kept;
    if (!heldElsewhere) {
        if (auto const failure =
                findCopy(place, QStringLiteral("old-back-up"), bytes, budget, kept);
            !failure.ok()) {
            return failure;
        }
        heldElsewhere = !kept.isEmpty();
    }
    if (heldElsewhere) {
        if (auto const failure = folder.remove(oldName); !failure.ok()) {
            return failure;
        }
        ZEL_LOG_WARNING() << "Removed a left-over old back-up budget file"
                          << folder.pathOf(oldName);
        return Result::done();
    }
    // Its bytes are nowhere else: kept, under a name that no later store takes for its own.
    if (auto const failure = keepingName(place, QStringLiteral("old-back-up"), kept);
        !failure.ok()) {
        return failure;
    }
    if (auto const failure = folder.rename(oldName, kept); !failure.ok()) {
        return failure;
    }
    ZEL_LOG_WARNING().noquote() << QStringLiteral(
                                       "The left-over old back-up budget file %1 is kept as %2.")
                                       .arg(folder.pathOf(oldName), folder.pathOf(kept));
    return Result::done();
}

// ---- The rewrite -----------------------------------------------------------------------------

Rewrite::Rewrite(Place const& place, FileLock const& lock, FileStatus const& budget, bool records)
    : place_(place), lock_(lock), budget_(budget), records_(records) {}

Result Rewrite::moveBackUpAside(QString const& backUpName, QString const& oldName) {
    if (auto const failure = place_.folder.rename(backUpName, oldName); !failure.ok()) {
        return failure;
    }
    backUpName_ = backUpName;
    oldName_ = oldName;
    // On the disk before the back-up's name is given to another file: a file system may keep
    // that naming and lose this one, and the old back-up with it.
    if (!place_.folder.sync().ok()) {
        return QObject::tr("The directory %1 could not be written to the disk.")
            .arg(place_.folder.path());
    }
    return Result::done();
}

void Rewrite::keepPreviousIn(QString const& name, bool removeWhenBack) {
    previousCopy_ = name;
    removeCopy_ = removeWhenBack;
}

Result Rewrite::mark(StoreMarker const& marker) {
    QString const markerName = markerNameOf(place_.name);
    // Written aside and then put in the place of a marker left there, in one step: until the
    // new one is whole, the one left keeps saying what it said of the file.
    File file;
    bool const exists = budget_.kind == FileKind::regular;
    Result failure = file.createUnnamed(place_.folder, markerName, exists ? budget_.mode : 0600);
    if (failure.ok() && exists) {
        // It says what the budget file holds: as readable as that file, and its owner's.
        FileStatus like = budget_;
        like.mode &= 0666;
        file.adopt(like);
    }
    if (failure.ok()) {
        failure = file.write(markerBytes(marker));
    }
    if (failure.ok()) {
        failure = file.sync();
    }
    if (failure.ok()) {
        failure = file.name(true);
    }
    if (failure.ok()) {
        marker_ = marker;
        failure = file.close();
    }
    if (!failure.ok()) {
        return failure;
    }
    if (!place_.folder.sync().ok()) {
        return QObject::tr("The directory %1 could not be written to the disk.")
            .arg(place_.folder.path());
    }
    return Result::done();
}

Result Rewrite::open() {
    // Where others may remove files from the folder, another holder could be in now.
    if (!lock_.stillNamed()) {
        return QObject::tr("The lock file %1 was removed or replaced while it was held, so the "
                           "budget file is not written.")
            .arg(lock_.path());
    }
    if (budget_.kind != FileKind::regular) {
        // Made new, never through what appeared at the name meanwhile.
        Result made = file_.create(place_.folder, place_.name, 0666);
        opened_ = made.ok();
        return made.ok() ? file_.status(written_) : made;
    }
    if (auto const failure = file_.open(place_.folder, place_.name, File::Access::write);
        !failure.ok()) {
        return failure;
    }
    FileStatus opened;
    if (auto const failure = file_.status(opened); !failure.ok()) {
        return failure;
    }
    if (!opened.sameFileAs(budget_)) {
        (void)file_.close();
        return QObject::tr("The budget file %1 was replaced by another file meanwhile.")
            .arg(place_.path());
    }
    written_ = opened;
    opened_ = true;
    return file_.truncate();
}

Result Rewrite::write(QByteArray const& bytes) {
    Result result = file_.write(bytes);
    if (result.ok()) {
        result = file_.sync();
    }
    return result.ok() ? file_.close() : result;
}

Result Rewrite::copy(File& source) {
    Result const result = copyInto(source, file_);
    return result.ok() ? file_.close() : result;
}

Result Rewrite::commit() {
    if (auto const failure =
            place_.folder.replace(markerNameOf(place_.name), recordNameOf(place_.name));
        !failure.ok()) {
        return failure;
    }
    recordMade_ = true;
    if (auto const failure = place_.folder.sync(); !failure.ok()) {
        return failure;
    }
    if (!backUpName_) {
        return Result::done();
    }
    // The one file that the rule lets a store drop, once it has succeeded: the back-up that the
    // previous budget file's copy replaced.
    if (auto const failure = place_.folder.remove(oldName_); !failure.ok()) {
        ZEL_LOG_CRITICAL().noquote()
            << QObject::tr("Failed to remove the old back-up budget file '%1' due to %2.")
                   .arg(place_.folder.pathOf(oldName_), failure.why());
        return Result::done();
    }
    ZEL_LOG_DEBUG() << "Successfully removed the old back-up budget file.";
    // Lost to a power loss, the removal only leaves the old back-up for the next store to
    // keep.
    if (auto const failure = place_.folder.sync(); !failure.ok()) {
        ZEL_LOG_WARNING().noquote()
            << QStringLiteral("The removal of the old back-up budget file %1 could not be "
                              "written to the disk due to %2.")
                   .arg(place_.folder.pathOf(oldName_), failure.why());
    }
    return Result::done();
}

bool Rewrite::abort() {
    QString const markerName = markerNameOf(place_.name);
    bool back = true;
    bool renamedBack = false;
    if (opened_) {
        if (records_) {
            ZEL_LOG_CRITICAL() << "An error occurred after writing the budget file started.";
        }
        (void)file_.close();
        // The marker had become the record: it stands again, so that the file is never without
        // it while it is rewritten. Where it cannot, the file keeps the new document, which is
        // whole on the disk, and everything beside it stays.
        if (recordMade_ && !place_.folder.rename(recordNameOf(place_.name), markerName).ok()) {
            return false;
        }
        if (previousCopy_) {
            back = writeBack(renamedBack);
        } else {
            back = removeFileWritten();
        }
    }
    if (back) {
        // What stands at the file's name now (a copy renamed back into place, or nothing where
        // the file was new) is on the disk before the back-up takes its old place again and
        // before the marker goes.
        if (renamedBack || removed_) {
            (void)place_.folder.sync();
        }
        restoreBackUp();
        if (removeCopy_ && !renamedBack) {
            // Its bytes are back in the file, on the disk: the copy made for this call goes.
            if (auto const failure = place_.folder.remove(*previousCopy_); !failure.ok()) {
                ZEL_LOG_WARNING().noquote()
                    << QStringLiteral("Failed to remove the copy %1 due to %2.")
                           .arg(place_.folder.pathOf(*previousCopy_), failure.why());
            }
        }
    }
    // The marker goes once what it guards is on the disk as it was (the file put back, or gone),
    // or once there is no file left to guard. It stays over a file put back that an earlier
    // store had left part-written, which it keeps from being loaded, and over a broken file
    // that could not be removed.
    if (marker_) {
        bool const whole = marker_->previous || budget_.kind != FileKind::regular;
        if ((back && whole) || removed_) {
            if (auto const failure = place_.folder.remove(markerName); !failure.ok()) {
                ZEL_LOG_WARNING().noquote()
                    << QStringLiteral("Failed to remove the marker %1 due to %2.")
                           .arg(place_.folder.pathOf(markerName), failure.why());
            }
        }
    }
    if (opened_ || backUpName_ || marker_ || removeCopy_) {
        (void)place_.folder.sync();
    }
    return back;
}

bool Rewrite::writeBack(bool& renamedBack) {
    QString const copy = *previousCopy_;
    Result failure;
    {
        // Both closed before the last resort: Windows cannot remove or replace an open file.
        File source;
        File target;
        failure = source.open(place_.folder, copy, File::Access::read);
        if (failure.ok()) {
            failure = target.open(place_.folder, place_.name, File::Access::write);
        }
        if (failure.ok()) {
            failure = copyInto(source, target);
        }
        if (failure.ok()) {
            failure = target.close();
        }
    }
    if (failure.ok()) {
        if (records_) {
            // The broken content is cut away, the file itself kept: its links, owner and
            // permissions stay.
            ZEL_LOG_DEBUG() << "Successfully removed the broken budget file.";
            ZEL_LOG_DEBUG() << "Successfully restored the backed-up budget file.";
        }
        return true;
    }
    ZEL_LOG_WARNING().noquote()
        << QStringLiteral("Failed to write the backed-up budget file, %1, back into the budget "
                          "file due to %2.")
               .arg(place_.folder.pathOf(copy), failure.why());
    // The last resort: the broken file goes, and the copy takes its name.
    if (!removeFileWritten()) {
        return false;
    }
    if (auto const notRenamed = place_.folder.rename(copy, place_.name); !notRenamed.ok()) {
        ZEL_LOG_WARNING().noquote()
            << QStringLiteral("Failed to restore the backed-up budget file, ") +
                   place_.folder.pathOf(copy) + QStringLiteral(", failed to be renamed due to ") +
                   notRenamed.why() + QStringLiteral(".");
        return false;
    }
    if (records_) {
        ZEL_LOG_DEBUG() << "Successfully restored the backed-up budget file.";
    }
    renamedBack = true;
    removed_ = false;
    return true;
}

bool Rewrite::removeFileWritten() {
    // Only the file this rewrite wrote: another that has taken the name meanwhile is not its.
    FileStatus now;
    Result failure = place_.folder.inspect(place_.name, now);
    if (failure.ok() && now.kind != FileKind::absent && !now.sameFileAs(written_)) {
        failure = QObject::tr("another file has taken its name");
    }
    if (failure.ok() && now.kind != FileKind::absent) {
        failure = place_.folder.remove(place_.name);
    }
    removed_ = failure.ok();
    if (!failure.ok()) {
        ZEL_LOG_WARNING().noquote() << QStringLiteral("Failed to remove the broken budget file, ") +
                                           place_.path() + QStringLiteral(", due to ") +
                                           failure.why() + QStringLiteral(".");
        return false;
    }
    if (records_) {
        ZEL_LOG_DEBUG() << "Successfully removed the broken budget file.";
    }
    return true;
}

void Rewrite::restoreBackUp() {
    if (!backUpName_) {
        return;
    }
    // In the place of the copy of the budget file, if it is still there: its bytes are back in
    // the file.
    if (auto const failure = place_.folder.replace(oldName_, *backUpName_); !failure.ok()) {
        ZEL_LOG_CRITICAL().noquote()
            << QObject::tr("Failed to restore the back-up budget file '%1' due to %2.")
                   .arg(place_.folder.pathOf(oldName_), failure.why());
        return;
    }
    ZEL_LOG_DEBUG() << "Successfully restored the old back-up budget file.";
}

} // namespace zel::file_storage::internal
