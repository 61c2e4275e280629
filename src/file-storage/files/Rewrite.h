#pragma once

#include "file-storage/files/FileSync.h"
#include "file-storage/files/StoreMarker.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The rewrite of a budget file in place, which a store and a restore share, and the files that
// it keeps beside the budget file. It knows bytes and names, never what a document holds.
//
// THE RULE. No call of the library removes or overwrites bytes of a budget that exist in no
// other file, with one exception: a store that returns success replaces the back-up with the
// budget file's previous content. Every step below keeps it, and so does every clean-up, a
// failing one included:
// - the budget file is cut only once a copy of what it holds is on the disk beside it (the
//   back-up, or a copy kept under a name that says what it is, NAME.incomplete-DATE for a file
//   that is not backed up), and what it holds goes back in place when the rewrite does not
//   commit;
// - the back-up that a store replaces is only moved aside (to NAME~.old) until the rewrite has
//   committed, and comes back when it does not;
// - a copy is removed only where its bytes are back in the budget file, on the disk;
// - what a store finds beside the budget file and cannot explain (an old back-up left over, a
//   file that another program saved) is kept under a name that says what it is, never removed.
//
// And every file found beside the budget file is input from whoever could write it: a marker,
// record or lock file is trusted only from this process's user or the budget file's owner, and in
// a folder that everyone may write to (/tmp) the budget file and its back-up only from this
// process's user or the folder's owner (isTrustedOwner, Folder::mayUse).
namespace zel::file_storage::internal {

// Where a budget file is: the folder that holds it, held open so that every name beside the
// file is used through it, and the file's name there.
struct Place {
    Folder folder;
    QString name;

    QString path() const { return folder.pathOf(name); }
};

// ---- What stands beside the budget file ----------------------------------------------------

// What stands at name beside the budget file, which must be a regular file or nothing, and in
// a folder that everyone may write to, one of this user's or the folder owner's. Fails for
// anything else, saying what it is and whose.
Result regularOrAbsent(Place const& place, QString const& name, FileStatus& status);

// Checks the marker and the record beside the budget file described by budget: each must be
// absent, a regular file or a link (never followed, and removed when its name is needed), of a
// trusted owner (isTrustedOwner). Fails, naming the file and its owner, for any other.
Result trustHiddenFiles(Place const& place, FileStatus const& budget);

// What an earlier store that never finished left of the budget file, by its marker.
struct Leftover {
    enum class Kind {
        none,        // no marker, or one that its store never got past: the file is as it was
        whole,       // the file holds what that store wrote, or the whole budget it replaced
        partWritten, // the file is neither: parts of two documents, or of one, can stand in it
    };
    Kind kind = Kind::none;
    std::optional<StoreMarker> marker;      // the marker that reads
    std::optional<Fingerprint> fingerprint; // the budget file's, where the marker was read
};
Result leftoverOf(Place const& place, Leftover& leftover);

// The record of the last store that finished, if any: empty for none, and for one that cannot
// be read or holds bytes that are no record.
std::optional<StoreMarker> readRecord(Place const& place);

// Why a budget file that a store left part-written is not loaded, with the back-up to turn to.
QString partWritten(Place const& place, QString const& backUpName);

// ---- Copies kept beside the budget file --------------------------------------------------------

// A copy of the budget file kept beside it: NAME.KIND-DATE, of the budget file's owner, group
// and permissions, never removed by the library (but by a restore that put it back).
struct Kept {
    QString name;
    bool made = false; // made now; an earlier copy of the same bytes serves otherwise
};

// Keeps the rest of the open file source, whose bytes have the fingerprint bytes, beside the
// budget file described by budget as a copy of the given kind: once, however often it is
// asked. Fails when the folder cannot be read or the copy cannot be made.
Result keepCopy(Place const& place, File& source, Fingerprint const& bytes, QString const& kind,
                FileStatus const& budget, Kept& kept);

// Makes way for the back-up to be moved aside to oldName: an old back-up left there by a store
// that did not end (a crash, or its clean-up failed) becomes the back-up again where there is
// none, goes where the back-up or the budget file holds its bytes, and is kept as
// NAME.old-back-up-DATE otherwise. Fails, changing nothing, when what stands there is not a
// regular file (a link is removed, never followed) or cannot be moved.
Result settleOldBackUp(Place const& place, QString const& backUpName, QString const& oldName,
                       FileStatus const& budget);

// ---- The rewrite -----------------------------------------------------------------------------

// One rewrite of the budget file in place, in these steps:
//
//     moveBackUpAside, keepPreviousIn   what is kept beside the file, before it is marked
//     mark                              the marker on the disk, with every name made before it
//     open                              the file cut to nothing, or made
//     write or copy                     the new bytes, synced
//     commit                            the marker kept as the record, on the disk; the back-up
//                                       moved aside goes
//     abort                             on any failure before commit ends: everything back
//
// The order of the syncs is the promise: the copies' data, the marker's data, then the folder
// that names them all, before the file is cut; the file's data before the marker becomes the
// record; the folder last, so that what the call reports is what a power loss leaves.
class Rewrite {
public:
    // The budget file at place, described by budget (absent where there is none yet), under
    // lock. With records, abort tells what it did in the store's records.
    Rewrite(Place const& place, FileLock const& lock, FileStatus const& budget, bool records);
    Rewrite(Rewrite const&) = delete;
    Rewrite& operator=(Rewrite const&) = delete;

    // Moves the back-up at backUpName aside, to come back when the rewrite does not commit and
    // to go once it does.
    Result moveBackUpAside(QString const& backUpName, QString const& oldName);
    // The copy at name beside the file holds what the file holds now: abort writes it back.
    // A copy made for this rewrite alone goes once it is back.
    void keepPreviousIn(QString const& name, bool removeWhenBack);
    // Makes the marker durable, with every entry made before it in the folder.
    Result mark(StoreMarker const& marker);
    // Checks that the lock is still held through its file, then opens the file for writing,
    // cut to nothing, or makes it where there was none.
    Result open();
    Result write(QByteArray const& bytes);
    Result copy(File& source);
    Result commit();
    // Puts back what the rewrite changed, as far as it can: the file's previous bytes, the
    // back-up moved aside; a failure of a step is logged as a warning, never thrown. Returns
    // whether the file holds what it held before again (or is gone, where there was none), on the
    // disk.
    [[nodiscard]] bool abort();

private:
    // Writes the previous copy back into the file in place, or, where that cannot be done,
    // removes the file and gives the copy its name (renamedBack). Whether the file holds its
    // previous bytes again.
    bool writeBack(bool& renamedBack);
    // Removes the file this rewrite wrote, and no other that has taken its name since.
    bool removeFileWritten();
    // Puts the back-up moved aside back in its place.
    void restoreBackUp();

    Place const& place_;
    FileLock const& lock_;
    FileStatus const budget_;
    bool const records_;
    File file_;
    FileStatus written_;                // the file opened or made for writing
    std::optional<QString> backUpName_; // moved aside to oldName_
    QString oldName_;
    std::optional<QString> previousCopy_;
    bool removeCopy_ = false;
    std::optional<StoreMarker> marker_;
    bool opened_ = false;
    bool recordMade_ = false; // the marker has become the record
    bool removed_ = false;    // the file written has been removed
};

} // namespace zel::file_storage::internal
