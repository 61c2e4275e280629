#include "file-storage/BudgetFile.h"

#include "file-storage/common/ErrorForms.h"

#include <QFileInfo>
#include <QObject>

#include <exception>

namespace zel::file_storage {

QChar const BudgetFile::defaultBackUpExtension_{u'~'};
QString const BudgetFile::oldBackUpExtension_{QStringLiteral(".old")};

BudgetFile::BudgetFile() : backUpExtension_(defaultBackUpExtension_) {}

BudgetFile::BudgetFile(QString const& location, QString const& backUpExtension)
    : backUpExtension_(backUpExtension.size() == 1 &&
                               backUpExtension.front() == defaultBackUpExtension_
                           ? backUpExtension
                           : QLatin1Char('.') + backUpExtension) {
    // The location is checked first: a caller with both wrong hears about the location.
    BudgetFile::changeLocation(location);
    if (backUpExtension.startsWith(QLatin1Char('.'))) {
        throw internal::operationError(
            QObject::tr("The back-up budget file extension cannot start with a full stop (.)."),
            QObject::tr("Back-up extension is invalid."));
    }
}

BudgetFile::BudgetFile(BudgetFile const&) = default;
BudgetFile::BudgetFile(BudgetFile&&) noexcept = default;
BudgetFile& BudgetFile::operator=(BudgetFile const&) = default;
BudgetFile& BudgetFile::operator=(BudgetFile&&) noexcept = default;
BudgetFile::~BudgetFile() = default;

QString const& BudgetFile::name() const {
    return name_;
}

void BudgetFile::changeLocation(QString const& location) {
    if (location.trimmed().isEmpty()) {
        throw internal::operationError(QObject::tr("The file location cannot be empty."),
                                       QObject::tr("Changing the storage location failed."));
    }
    // The location is split untrimmed. A relative one is refused before anything is assigned:
    // resolving it against the current directory would later store the budget somewhere the
    // user never chose.
    QFileInfo const info(location);
    if (info.isRelative()) {
        throw internal::operationError(QObject::tr("The file location must be an absolute path."),
                                       QObject::tr("Changing the storage location failed."));
    }
    directoryPath_ = info.absolutePath();
    name_ = info.fileName();
}

QString const& BudgetFile::directoryPath() const {
    return directoryPath_;
}

QString const& BudgetFile::backUpExtension() const {
    return backUpExtension_;
}

} // namespace zel::file_storage
