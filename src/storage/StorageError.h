#pragma once

#include "zel/foundation/Error.h"

#include <QString>

namespace zel::storage {

// A failure to keep or fetch stored data. It carries two texts whose meaning depends on the
// kind of error; both are kept exactly as given, and what() says both.
//
//   kind of error                     first text                        second text
//   StorageError itself (a file       why it failed: the system's       the operation that failed:
//   operation or a location)          text, or the library's reason     "The budget file, F,
//                                     ("... is a directory, not a       failed to be loaded."
//                                     regular file.")
//   BudgetFileError (the document     "The budget file is not valid.    what is wrong with the
//   is not valid)                     R Error appears at line L,        document, specifically
//                                     column C." with the reader's
//                                     text R, or 0 and 0 where no
//                                     reader position applies
//   AttributeError (one attribute     as BudgetFileError                "The element tag 'T'
//   of one element)                                                     attribute 'A' is not
//                                                                       valid. " and what is wrong
//   BinaryFileError (the exchange-    "The binary file, F, is not       what is wrong: Qt's or the
//   rates file)                       valid."                           system's text, or the
//                                                                       library's
//
// The cause is the failure underneath, where there was one; an error with none underneath it
// has a default std::exception as its cause.
class StorageError : public foundation::Error {
public:
    StorageError(QString const& firstText, QString const& secondText, std::exception const& cause);
    StorageError(StorageError const&) = default;
    StorageError(StorageError&&) noexcept = default;
    StorageError& operator=(StorageError const&) = default;
    StorageError& operator=(StorageError&&) noexcept = default;
    ~StorageError() override;

    QString const& firstText() const noexcept { return firstText_; }
    QString const& secondText() const noexcept { return secondText_; }

private:
    QString firstText_;
    QString secondText_;
};

} // namespace zel::storage
