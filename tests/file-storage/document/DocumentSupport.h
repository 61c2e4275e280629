#pragma once

// Loading and storing whole budget documents in memory, and what a failing call throws.

#include "file-storage/Errors.h"
#include "file-storage/document/BudgetDocument.h"
#include "support/LogCapture.h"

#include <QBuffer>
#include <QByteArray>

#include <functional>
#include <string>
#include <typeinfo>

namespace zel::testing {

// Loads a document from a device open for reading as text, as the budget file opens it, and
// keeps the load's log records off the console.
inline storage::BudgetState loadDocument(QByteArray document) {
    LogCapture const quiet;
    QBuffer device(&document);
    device.open(QIODevice::ReadOnly | QIODevice::Text);
    return file_storage::internal::loadBudgetDocument(device);
}

// The bytes a store writes for state, into a device opened as the budget file's store opens
// its buffer (not in text mode, so that the bytes are alike on every system). Given written,
// what reached the device is kept there, also when the store throws.
inline QByteArray storeDocument(storage::BudgetState const& state, bool autoFormat = false,
                                QByteArray* written = nullptr) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    QByteArray local;
    QBuffer device(written != nullptr ? written : &local);
    device.open(QIODevice::WriteOnly);
    file_storage::internal::storeBudgetDocument(budget, ledger, banks, types, items, surveys,
                                                &device, autoFormat);
    return device.data();
}

// What action throws, in the words of the manifests: the exact class, both texts and the
// description of the cause, one a line. "no error" when it throws nothing.
inline std::string errorOf(std::function<void()> const& action) {
    try {
        action();
    } catch (storage::StorageError const& error) {
        std::string const name =
            typeid(error) == typeid(file_storage::AttributeError)    ? "AttributeError"
            : typeid(error) == typeid(file_storage::BudgetFileError) ? "BudgetFileError"
                                                                     : typeid(error).name();
        return "class: " + name + "\nfirst: " + error.firstText().toStdString() +
               "\nsecond: " + error.secondText().toStdString() +
               "\ncause: " + error.causeDescription();
    } catch (std::exception const& error) {
        return std::string("foreign exception: ") + error.what();
    }
    return "no error";
}

} // namespace zel::testing
