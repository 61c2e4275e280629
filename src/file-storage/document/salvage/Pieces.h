#pragma once

#include "file-storage/document/BudgetDocument.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

// The elements of a damaged budget document, each read on its own (Pieces.cpp), and what the
// salvage makes of them (Salvage.cpp).
namespace zel::file_storage::internal::salvage {

// Where a piece comes from: an offset in the document as read, or the back-up.
inline constexpr qsizetype fromBackUp = -1;

// An element read whole, and where its start tag begins.
template <class Element> struct Piece {
    Element element;
    qsizetype offset = fromBackUp;
};

// A transaction and the number of the account whose ledger holds it: 0 where the ledger's start
// tag was lost, or could not be told from the damage before it. Transactions of one run follow
// one another with nothing but white space between them, so they stand in one ledger.
struct LedgerTransaction {
    quint32 ledger = 0;
    Piece<TransactionElement> piece;
    std::size_t run = 0;
};

// A stretch of the document that could not be read: where it begins, the element whose start
// tag begins it (nothing for bytes between elements), and what was wrong there.
struct Damage {
    qsizetype offset = 0;
    format::Element const* element = nullptr;
    QString reason;
};

// Everything read of one document, in document order. Banks and reconciliations hold the
// accounts and distributions read with them.
struct Pieces {
    std::optional<quint32> openingAccount;
    std::vector<Piece<ItemElement>> items;
    std::vector<Piece<AccountElement>> accounts;
    std::vector<LedgerTransaction> transactions;
    std::vector<Piece<BankElement>> banks;
    std::vector<Piece<ReconciliationElement>> reconciliations;
    std::vector<Damage> damages;
    // Children read whole whose parent is unknown and that cannot be placed: bank accounts and
    // distributions after a damage.
    std::vector<Piece<BankAccountElement>> strayBankAccounts;
    std::vector<Piece<DistributionElement>> strayDistributions;
};

// The document in bytes as the salvage reads it: UTF-8, or a one-byte encoding that keeps ASCII
// as it is, declared in prefix (its XML declaration, which every piece is read after).
struct Text {
    QByteArray bytes;
    QByteArray prefix;
    bool utf8 = true;
};

// The document, converted to UTF-8 where it is in UTF-16 or UTF-32.
Text textOf(QByteArray const& document);

// Reads every element of the format that the text still holds whole.
Pieces readPieces(Text const& text);

// The pieces of a whole document (a back-up that loads).
Pieces piecesOf(BudgetDocumentElements& elements);

} // namespace zel::file_storage::internal::salvage
