#pragma once

#include "zel/file-storage/Export.h"
#include "zel/storage/Storage.h"
#include "zel/storage/StorageError.h"

#include <QChar>
#include <QString>

namespace zel::file_storage {

// One budget file on disk and the name of its back-up copy.
//
// The file lives at directoryPath() + "/" + name(). Every store first copies the previous file
// to that path followed by backUpExtension(), so the user always has either a good budget file
// or a good back-up. A BudgetFile holds only these names; it opens nothing until load or store.
//
// When the budget path is a symbolic link, load and store use the file at the end of the link,
// which stays a link: the back-up is kept beside that file, under that file's name followed by
// the extension.
//
// Loads and stores of one budget file are serialised through a lock file beside it (hidden,
// named "." + the file's name + ".lock", and gone when no load or store runs): a store waits
// for any other load or store of the file, a load for any store, across threads and processes,
// for up to ten seconds; past that it throws storage::StorageError saying the file is in use.
// The system releases the lock of a process that dies, so a crashed store never blocks the
// next one. Where the folder or file system allows no lock, loads and stores go ahead unlocked.
//
// One object may be used from one thread at a time; objects for the same file may be used from
// several. Since a load, store or restore may wait up to ten seconds for the lock, and then reads
// or writes the whole file and syncs it to the disk, none belongs on a GUI thread.
//
// Loads and stores log a debug record for every element they read and write, in Qt's default
// category ("default"); QT_LOGGING_RULES="default.debug=false" or a filter rule silences them.
// docs/reference.md lists every step, refusal (both texts), log record and file left beside the
// budget file.
class ZEL_FILE_STORAGE_EXPORT BudgetFile : public storage::BudgetStorage {
public:
    // The back-up extension used unless the caller gives another: a tilde.
    static QChar const defaultBackUpExtension_;
    // Appended to the back-up path while a store moves the previous back-up aside.
    static QString const oldBackUpExtension_;

    // No location; the default back-up extension.
    BudgetFile();
    // Sets the location (see changeLocation) and the back-up extension: a lone tilde is kept
    // as it is, any other text is appended after a full stop ("bak" names "F.bak"). Throws
    // storage::StorageError for an empty or relative location, and then for an extension that
    // itself starts with a full stop.
    BudgetFile(QString const& location, QString const& backUpExtension);
    BudgetFile(BudgetFile const&);
    BudgetFile(BudgetFile&&) noexcept;
    BudgetFile& operator=(BudgetFile const&);
    BudgetFile& operator=(BudgetFile&&) noexcept;
    ~BudgetFile() override;

    // The budget file's name, without its directory.
    QString const& name() const override;
    // Points this object at another budget file, given by its absolute path. Throws
    // storage::StorageError, and leaves the object unchanged, when the location is blank or
    // relative. Neither the directory nor the file needs to exist.
    void changeLocation(QString const& location) override;

    // Reads the whole budget state from the file. Throws storage::StorageError when the file
    // cannot be opened, is not a regular file or is in use, and BudgetFileError (or
    // AttributeError) when its content is not valid.
    storage::BudgetState load() const override;
    // Writes the whole budget state to the file, after backing up the previous one. A budget
    // that could not be loaded back is refused with BudgetFileError before any file is touched
    // (an empty name; a name or text holding characters that XML cannot hold; an account that
    // an item, a transaction, the opening account or a reconciliation names but the ledger
    // lacks; an item with no ledger account; a debt's infinite interest; a bank account with no
    // type; a reconciliation of an account no bank holds, or a second one of an account);
    // a budget path or back-up path that is not a regular file (a directory, a device, a named
    // pipe) is refused with storage::StorageError, as is a file in use, and a file beside the
    // budget file that another user made where only its owner may be trusted. When writing
    // fails the previous file is put back in place, the back-up too, and the error rethrown.
    // No load, store or restore removes or overwrites bytes of a budget that no other file
    // holds, but a store that succeeds replaces the back-up: what a store does not back up is
    // kept beside the budget file (docs/reference.md names every such file).
    void store(accounting::GeneralLedger const& ledger, budgeting::Budget const& budget,
               storage::ItemAccountMap const& itemAccounts, banking::BankMap const& banks,
               banking::AccountTypeMap const& accountTypes,
               surveying::ReconciledSurveys const& surveys) const override;

    // The path of the back-up that a store keeps: beside the file at the end of the budget
    // path's links, named after it.
    QString backUpPath() const;

    // Writes the back-up's budget into the budget file, when the back-up holds a budget that
    // loads: the way back after a crash or a mistake. The file it replaces is never lost: it is
    // first copied beside itself, to the budget file's name followed by ".before-restore-" and
    // the local date and time (and a number, should that name be taken), unless such a copy of
    // the same bytes is there already, and that path is returned (empty when there was no
    // budget file). The back-up stays. As safe as a store: the copy is on the disk before the
    // budget file is rewritten in place (keeping its links, permissions and owner), and when
    // the rewrite fails the copy is put back, and a copy made for it removed. Throws
    // storage::StorageError when there is no back-up or a step fails, and the load's error when
    // the back-up does not load.
    QString restoreBackUp() const;

    // The absolute directory of the budget file (no trailing slash except for a root).
    QString const& directoryPath() const;
    // The suffix appended to the budget file's path to name its back-up.
    QString const& backUpExtension() const;

private:
    QString directoryPath_;
    QString name_;
    QString backUpExtension_;
};

} // namespace zel::file_storage
