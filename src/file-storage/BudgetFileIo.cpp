#include "file-storage/BudgetFile.h"

#include "file-storage/internal/ApplicationElement.h"
#include "file-storage/internal/BudgetDocument.h"
#include "file-storage/internal/FileSync.h"
#include "file-storage/internal/Log.h"

#include <QFile>
#include <QObject>

#include <algorithm>

#include <cerrno>
#include <exception>
#include <optional>

namespace zel::file_storage {

namespace {

using internal::syncDirectory;
using internal::syncFile;

// Whether the file ends as every stored document does, with the root's end tag. A store that
// died while writing leaves a file cut short, which does not.
bool endsAsADocument(QString const& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // Unreadable is not known to be cut short; the copy that follows reports it.
        return true;
    }
    auto const tail = QByteArray("</") + internal::ApplicationElement::tag_.data() + '>';
    auto const size = file.size();
    auto const start = std::max<qint64>(0, size - tail.size() - 64);
    auto const end = file.seek(start) ? file.read(size - start) : QByteArray();
    if (end.size() != size - start) {
        // Unreadable is not known to be cut short; the copy that follows reports it.
        return true;
    }
    return end.trimmed().endsWith(tail);
}

// Moves the previous back-up aside and copies the budget file to the back-up path, so that a
// good copy of the previous budget is on the disk before the budget file is truncated.
void backUp(QFile& budgetFile, QString const& name, QString const& backUpPath,
            QString const& directory) {
    QFile backUpFile(backUpPath);
    // A budget file that an earlier store left cut short holds no budget worth keeping: backed
    // up, it would replace the last good copy, and a failure of this store would then leave
    // the user with neither. The back-up is kept as it is instead.
    if (backUpFile.exists() && !endsAsADocument(budgetFile.fileName())) {
        ZEL_LOG_CRITICAL() << "The budget file is incomplete; keeping the back-up budget file"
                           << backUpPath;
        return;
    }
    std::optional<QFile> oldBackUpFile;
    if (backUpFile.exists()) {
        QString const oldBackUpPath = backUpPath + BudgetFile::oldBackUpExtension_;
        // A left-over old back-up is older than the back-up that is about to replace it, so it
        // holds nothing worth keeping; left in place it would block every later store.
        if (QFile::exists(oldBackUpPath)) {
            if (QFile::remove(oldBackUpPath)) {
                ZEL_LOG_WARNING() << "Removed a left-over old back-up budget file" << oldBackUpPath;
            }
        }
        if (!backUpFile.rename(oldBackUpPath)) {
            throw storage::StorageError(
                backUpFile.errorString(),
                QObject::tr("The back-up budget file, %1, failed to be backed-up prior to backing "
                            "up the budget file.")
                    .arg(backUpPath),
                std::exception());
        }
        ZEL_LOG_DEBUG() << "Successfully backed-up the old back-up budget file.";
        oldBackUpFile.emplace(oldBackUpPath);
    }

    // The copy only counts once its data is on the disk.
    QString copyError;
    if (!internal::copyFile(budgetFile.fileName(), backUpPath, copyError)) {
        if (oldBackUpFile) {
            if (oldBackUpFile->rename(backUpPath)) {
                ZEL_LOG_DEBUG() << "Successfully restored the old back-up budget file.";
            } else {
                ZEL_LOG_CRITICAL().noquote()
                    << QObject::tr("Failed to restore the back-up budget file '%1' due to %2.")
                           .arg(oldBackUpFile->fileName(), oldBackUpFile->errorString());
            }
        }
        throw storage::StorageError(
            copyError,
            QObject::tr("The budget file, %1, failed to be backed-up prior to saving.").arg(name),
            std::exception());
    }
    ZEL_LOG_DEBUG() << "Successfully backed-up the budget file.";
    if (oldBackUpFile) {
        if (oldBackUpFile->remove()) {
            ZEL_LOG_DEBUG() << "Successfully removed the old back-up budget file.";
        } else {
            ZEL_LOG_CRITICAL().noquote()
                << QObject::tr("Failed to remove the old back-up budget file '%1' due to %2.")
                       .arg(oldBackUpFile->fileName(), oldBackUpFile->errorString());
        }
    }
    // The renames and the new copy are entries of the directory: make them durable too.
    if (!syncDirectory(directory)) {
        throw storage::StorageError(
            QObject::tr("The directory %1 could not be written to the disk.").arg(directory),
            QObject::tr("The budget file, %1, failed to be backed-up prior to saving.").arg(name),
            std::exception());
    }
}

// Why writing the budget file failed: Qt's text when Qt saw the failure, otherwise the system's
// text for error, the errno of a failed sync, which Qt does not see.
QString writeFailure(QFileDevice const& file, int error) {
    return file.error() != QFileDevice::NoError ? file.errorString() : qt_error_string(error);
}

// Puts the previous budget file back after a failed write. Failures are logged only: the
// caller rethrows the error that caused the clean-up.
void cleanUp(QFile& budgetFile, std::optional<QString> const& backUpPath, QString const& budgetPath,
             QString const& directory) {
    ZEL_LOG_CRITICAL() << "An error occurred after writing the budget file started.";
    // Closed first: removing an open file closes it, and when the disk is full the close fails
    // to write the rest of the buffer, which would stop the removal.
    budgetFile.close();
    if (!budgetFile.remove()) {
        ZEL_LOG_WARNING().noquote() << QStringLiteral("Failed to remove the broken budget file, ") +
                                           budgetFile.fileName() + QStringLiteral(", due to ") +
                                           budgetFile.errorString() + QStringLiteral(".");
        return;
    }
    ZEL_LOG_DEBUG() << "Successfully removed the broken budget file.";
    if (backUpPath) {
        // Renamed, never copied: the back-up is the only good copy left, and stays where it is
        // when the rename fails.
        QString renameError;
        if (internal::renameFile(*backUpPath, budgetPath, renameError)) {
            ZEL_LOG_DEBUG() << "Successfully restored the backed-up budget file.";
        } else {
            ZEL_LOG_WARNING().noquote()
                << QStringLiteral("Failed to restore the backed-up budget file, ") + *backUpPath +
                       QStringLiteral(", failed to be renamed due to ") + renameError +
                       QStringLiteral(".");
        }
    }
    syncDirectory(directory);
}

} // namespace

storage::BudgetState BudgetFile::load() const {
    QFile file(directoryPath_ + QLatin1Char('/') + name_);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        throw storage::StorageError(
            file.errorString(), QObject::tr("The budget file, %1, failed to be loaded.").arg(name_),
            std::exception());
    }
    return internal::loadBudgetDocument(file);
}

void BudgetFile::store(accounting::GeneralLedger const& ledger, budgeting::Budget const& budget,
                       storage::ItemAccountMap const& itemAccounts, banking::BankMap const& banks,
                       banking::AccountTypeMap const& accountTypes,
                       surveying::ReconciledSurveys const& surveys) const {
    QString const budgetPath = directoryPath_ + QLatin1Char('/') + name_;
    ZEL_LOG_DEBUG() << "Storing Budget File" << budgetPath;
    QFile budgetFile(budgetPath);
    // Set once a good copy of the previous budget file stands at the back-up path.
    std::optional<QString> backUpPath;
    if (budgetFile.exists()) {
        backUp(budgetFile, name_, budgetPath + backUpExtension_, directoryPath_);
        backUpPath = budgetPath + backUpExtension_;
    } else {
        ZEL_LOG_DEBUG() << "No pre-existing budget file found, no back-up needed.";
    }

    if (!budgetFile.open(QIODevice::WriteOnly | QIODevice::Text)) {
        throw storage::StorageError(
            budgetFile.errorString(),
            QObject::tr("The budget file, %1, failed to be saved while opening.").arg(name_),
            std::exception());
    }
    try {
        internal::storeBudgetDocument(budget, ledger, banks, accountTypes, itemAccounts, surveys,
                                      &budgetFile, false);
        // A buffered file reports a full disk only when its last bytes are written out, and
        // the store has only succeeded once the new budget is on the disk.
        bool const synced = syncFile(budgetFile);
        int const syncError = errno;
        if (!synced || budgetFile.error() != QFileDevice::NoError) {
            throw storage::StorageError(
                writeFailure(budgetFile, syncError),
                QObject::tr("The budget file, %1, failed to be saved due.").arg(name_),
                std::exception());
        }
        budgetFile.close();
        if (budgetFile.error() != QFileDevice::NoError || !syncDirectory(directoryPath_)) {
            int const directoryError = errno;
            throw storage::StorageError(
                writeFailure(budgetFile, directoryError),
                QObject::tr("The budget file, %1, failed to be saved due.").arg(name_),
                std::exception());
        }
    } catch (std::exception const&) {
        cleanUp(budgetFile, backUpPath, budgetPath, directoryPath_);
        throw;
    }
}

} // namespace zel::file_storage
