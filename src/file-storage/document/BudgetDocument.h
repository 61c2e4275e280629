#pragma once

#include "banking/Banking.h"
#include "file-storage/document/ApplicationElement.h"
#include "file-storage/document/BankElements.h"
#include "file-storage/document/BudgetItemElements.h"
#include "file-storage/document/LedgerElements.h"
#include "file-storage/document/ReconciliationElements.h"
#include "storage/Storage.h"

#include <QIODevice>

#include <tuple>
#include <vector>

namespace zel::file_storage::internal {

// The element tree of one budget document: the root and the nine collections beneath it.
struct BudgetDocumentElements {
    ApplicationElement application;
    // In no order of the document's: the format's table gives that (inFormatOrder).
    std::tuple<WagesElement, BillsElement, DebtsElement, GoalsElement, DiscretionariesElement,
               AccountsElement, LedgersElement, BanksElement, ReconciliationsElement>
        collections;

    template <class Collection> Collection& get() { return std::get<Collection>(collections); }
    template <class Collection> Collection const& get() const {
        return std::get<Collection>(collections);
    }

    // The items of kind.
    std::vector<ItemElement>& items(ItemKind kind);
    std::vector<ItemElement> const& items(ItemKind kind) const;

    // The collections that the format's revision holds, in the order of its table: the order
    // of the root's children in every stored document.
    std::vector<BasicElement*> inFormatOrder(quint8 revision);
};

// Where the conversion of a document's elements into domain values stands: the element of the
// format, its place from 0 among the document's elements of that element in document order,
// and the attribute whose value is converted (empty while the element as a whole is). An
// ordinal of lastCarrying means the last element that carries the attribute.
struct ConversionPlace {
    static constexpr std::size_t lastCarrying = std::size_t(-1);
    format::Element const* element = nullptr;
    std::size_t ordinal = 0;
    QLatin1String attribute;
};

// Reads a whole budget document from device, which must be open for reading as text,
// positioned at its start, and able to reset to its start (it is read twice: once for the
// revision, once for the content). Every failure throws a library error (BudgetFileError or
// AttributeError) with the position in the document where one applies; nothing is returned
// partly. The device is left open.
//
// A load that fails while it converts the elements into domain values reports no position in
// its error; place, when given, is then left on the element, and the attribute where one
// applies, at fault.
storage::BudgetState loadBudgetDocument(QIODevice& device, ConversionPlace* place = nullptr);

// The two halves of loadBudgetDocument. The first reads the document's elements into elements,
// which must be empty, and throws what the load throws while it reads; the second makes the
// domain values of them, emptying the ledgers' transactions as it goes, and throws what the
// load throws while it converts (setting place, when given, as the load does).
void readBudgetDocumentElements(QIODevice& device, BudgetDocumentElements& elements);
storage::BudgetState convertBudgetDocument(BudgetDocumentElements& elements,
                                           ConversionPlace* place = nullptr);

// Whether device, open for reading with random access, holds a well-formed document. A store
// that died while writing leaves the file cut short, which does not. Every document a store
// writes ends with the root's end tag, and that ending alone settles it; only a document that
// ends otherwise (a comment after the root, a root with no end tag of its own, another
// encoding) is read through, and that within the format's bounds: a document that crosses
// them, which no load reads, is not whole either. A device that cannot be read is not known to
// be cut short: true.
bool holdsCompleteDocument(QIODevice& device);

// The first pass: the revision of the document's root element.
quint8 readApplicationRevision(QIODevice& device, ApplicationElement& application);

// Turns the banks of a document into the bank map, recording each bank account's type in
// accountTypes. Throws BudgetFileError for a value the banking types refuse.
// Where it fails, place, when given, is left on the element at fault (see loadBudgetDocument).
std::map<banking::BankName, banking::Bank> readBanks(BanksElement const& banks,
                                                     banking::AccountTypeMap& accountTypes,
                                                     ConversionPlace* place = nullptr);

// Writes the whole budget state to device as one document. The element tree is built and
// checked before anything but the XML declaration is written, so a value that could not be
// read back is refused (with BudgetFileError) early; only a date that no document can hold (a
// year outside 1 to 9999) is refused (with AttributeError) as it is written, part-way through
// the document. A caller that must not write part of a document writes to memory first, as the
// budget file's store does. Write errors of the device are the caller's to check.
void storeBudgetDocument(budgeting::Budget const& budget, accounting::GeneralLedger const& ledger,
                         banking::BankMap const& banks, banking::AccountTypeMap const& accountTypes,
                         storage::ItemAccountMap const& itemAccounts,
                         surveying::ReconciledSurveys const& surveys, QIODevice* device,
                         bool autoFormat);

} // namespace zel::file_storage::internal
