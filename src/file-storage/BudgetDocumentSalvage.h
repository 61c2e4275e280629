#pragma once

#include "zel/file-storage/BudgetDocumentInspection.h"
#include "zel/file-storage/Export.h"
#include "zel/storage/Storage.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

// What can still be recovered of a budget document that no longer loads (a block of zeros, a
// file cut short, a mix of two versions, a hand edit gone wrong): every element that is whole
// and consistent with the rest, what its back-up holds that the document lost, and an account
// of what was lost and where. For tools that mend a file by hand; an application's load does
// not need it.
namespace zel::file_storage {

// One element of a salvage's account: kept from the damaged document, taken from the back-up,
// or lost.
struct SalvagedElement {
    QString kind;     // the element's kind, a fixed word: "wage", "account", "transaction", ...
    QString identity; // what names it ("7", "3 in the ledger of 4", "Rent"); empty when unread
    // Where the element begins in the damaged document; line 0 for one taken from the back-up.
    DocumentPlace place;
    QString reason; // lost: why; otherwise empty
};

// How many elements of one kind the salvage kept from the document, took from the back-up, and
// knows to be lost (elements that a damage wiped out without a trace are not counted).
struct SalvageCount {
    QString kind;
    qint64 kept = 0;
    qint64 fromBackUp = 0;
    qint64 lost = 0;
};

struct BudgetSalvage {
    // The budget recovered: it stores and loads back as it is.
    storage::BudgetState budget;
    // One count for each kind of element, in the order of the format, kinds without any
    // element included.
    std::vector<SalvageCount> counts;
    // Where the document could not be read: the place where each damaged stretch begins, and
    // what was wrong there, in document order.
    std::vector<DocumentWarning> damages;
    // The elements taken from the back-up, and those lost, each in document order.
    std::vector<SalvagedElement> fromBackUp;
    std::vector<SalvagedElement> lost;
    // Whether a back-up was given and loaded; when one was given but does not load, why.
    bool backUpUsed = false;
    QString backUpFailure;
};

// Reads damaged, a budget document that may not load, element by element: each element of the
// format is read on its own, within the bounds a load reads with, so that a damaged element
// costs only itself and reading goes on at the next element the bytes still hold. What reads
// whole is then held to the load's own checks: an element that needs one that was lost (a
// transaction of an account that is gone, a distribution to an item that is gone) is dropped
// with it, until the load accepts what is left. A transaction whose ledger is unknown is put in
// the ledger that its copy in the other account's ledger names, and a transaction found in
// only one of its two ledgers is written in both again. Then, when backUp is given and loads,
// what it holds and the document lost is added, by identity: an account by number, a
// transaction by its number in its ledger, an item by kind and name, a bank by name and its
// accounts by number, a reconciliation by account. Item identifiers are given afresh, in order,
// as a store gives them.
//
// Time and memory grow linearly with the document. Never throws for the content of damaged;
// throws BudgetFileError where nothing of it can be read as a budget document at all, and
// where a stored file's contents could not be made to load.
ZEL_FILE_STORAGE_EXPORT BudgetSalvage salvageBudgetDocument(
    QByteArray const& damaged, std::optional<QByteArray> const& backUp = std::nullopt);

} // namespace zel::file_storage
