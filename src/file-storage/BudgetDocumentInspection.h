#pragma once

#include "zel/file-storage/Export.h"
#include "zel/storage/Storage.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <map>
#include <optional>
#include <vector>

// A look at a budget document beside its load: what the load accepts without a word but drops,
// changes or holds inconsistently, and where the value stands that a load refuses without
// saying where. For tools that check a file by hand; an application's load does not need it.
namespace zel::file_storage {

// A place in a document: line and column, both counted from 1; the column counts characters.
struct DocumentPlace {
    qint64 line = 0;
    qint64 column = 0;
};

struct DocumentWarning {
    DocumentPlace place; // where the element, attribute's element, text or comment begins
    QString kind;        // a fixed word for scripts, such as "duplicate-account"
    QString text;        // what the load does with it, for people
};

// The most warnings of one kind that an inspection holds: a document can hold millions of
// one kind (an unknown element repeated), which would cost far more than the document.
inline constexpr std::size_t warningsKeptOfAKind = 1000;

struct DocumentInspection {
    // The first warnings of each kind in document order, at most warningsKeptOfAKind of a kind,
    // all in document order.
    std::vector<DocumentWarning> warnings;
    // Each kind of which there are more warnings than were kept, and how many more.
    std::map<QString, qint64> moreOfKind;
    // Empty when the whole document was read; otherwise the XML reader's error, and the
    // warnings stop there.
    QString failure;

    // How many warnings there are in all, those not kept included.
    qint64 count() const {
        auto total = qint64(warnings.size());
        for (auto const& [kind, more] : moreOfKind) {
            total += more;
        }
        return total;
    }
};

// The warnings about the budget document in bytes, read in one pass, in time linear in its size
// and memory that is a small multiple of it, however many warnings it holds.
//
// Meant for a document that loads: it reports what the load lets through, not what the load
// refuses, and takes every value the load checks as checked. Other bytes are safe to give it
// (a file changed between its load and this look, say): it never fails on them, and stops at
// the first XML error, or where the document crosses the bounds of the format, which it gives
// as the failure.
//
// Places are where the element's start tag, the text or the comment begins. Where the bytes
// cannot be followed character by character (a UTF-16 document, one with a document type
// declaration), they are where the XML reader stood after it instead.
ZEL_FILE_STORAGE_EXPORT DocumentInspection inspectBudgetDocument(QByteArray const& bytes);

// Where the value stands that a load of bytes refuses with a BudgetFileError of line 0 and
// column 0 (a currency, status or period that is no such thing, an account that is not there):
// the attribute's name, or the element's start tag where no one attribute is at fault. Nothing
// when the bytes load, fail with a place of their own, or fail otherwise.
ZEL_FILE_STORAGE_EXPORT std::optional<DocumentPlace> placeOfRefusal(QByteArray const& bytes);

// The budget that the document in bytes holds, read as BudgetFile::load reads a budget file's
// content: through the same bounds, to the same values and the same errors. For a tool given a
// budget that is no file (standard input, a pipe): nothing beside a budget file is looked at,
// no lock, no marker of a store under way, no back-up. Throws BudgetFileError (or
// AttributeError) when the document is not valid.
ZEL_FILE_STORAGE_EXPORT storage::BudgetState loadBudgetDocument(QByteArray const& bytes);

} // namespace zel::file_storage
