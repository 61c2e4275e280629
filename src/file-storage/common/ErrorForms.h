#pragma once

#include "file-storage/Errors.h"
#include "storage/StorageError.h"

#include <QIODevice>
#include <QLatin1String>
#include <QString>
#include <QXmlStreamReader>

#include <exception>

// The forms in which the library reports what went wrong, so that each throw says what went
// wrong and nothing else. An error with no failure underneath it has no cause; none is ever
// made up. (What the first and second text of each kind hold is in storage/StorageError.h.)
namespace zel::file_storage::internal {

// A fault of the document's content found at the reader's current position: the reader's error
// text, line and column go into the error's sentence.
BudgetFileError readerError(QXmlStreamReader const& reader, QString const& message);

// A fault of one attribute of the element at the reader's current position.
AttributeError attributeError(QXmlStreamReader const& reader, QLatin1String const& attribute,
                              QString const& message);
// A value of an attribute of a tag element that cannot be written: no reader position.
AttributeError attributeError(QString const& tag, QLatin1String const& attribute,
                              QString const& message);

// A failure of the device that the document is read from: its error text, no position.
BudgetFileError deviceError(QIODevice const& device, QString const& message);

// A fault of the content found where no reader position applies (while values are converted
// or elements built): no reader text, line 0 and column 0.
BudgetFileError contentError(QString const& message);
// The same, explained by a lower failure, which becomes the cause.
BudgetFileError contentError(QString const& message, std::exception const& cause);

// An operation on a file that failed: why (in the system's words where it gave them), then
// which operation.
storage::StorageError operationError(QString const& why, QString const& operation);

// The exchange-rates file at path cannot be used: why.
BinaryFileError ratesFileError(QString const& path, QString const& why);

} // namespace zel::file_storage::internal
