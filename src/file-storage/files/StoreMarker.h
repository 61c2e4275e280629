#pragma once

#include "file-storage/files/FileSync.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

// The record that a store of a budget file is under way.
//
// A store writes the budget file in place, so between its truncation and its last sync the file
// holds no whole budget; after a power loss it can even hold parts of two (a truncation that
// never reached the disk, with new blocks over the old ones), and still end as a document ends.
// Before the truncation the store therefore makes a marker durable beside the file, naming the
// fingerprints of the document it is about to write and of the file it replaces, and it removes
// the marker once the new document is on the disk. While a marker stands, a file that matches
// neither fingerprint was left part-written: the load refuses it and the next store does not
// back it up.
namespace zel::file_storage::internal {

// A document's size and 64-bit hash: enough to tell the bytes a store wrote from what a power
// loss leaves of them (a lost block, zeros, an old tail).
struct Fingerprint {
    qint64 size = 0;
    quint64 hash = 0;

    friend bool operator==(Fingerprint const&, Fingerprint const&) = default;
};

Fingerprint fingerprintOf(QByteArray const& bytes);

// The fingerprint of bytes given block by block: XXH64 with seed 0 (the xxHash library's), fast
// enough to fingerprint a budget of many years in a few milliseconds, and as good as a
// cryptographic hash at telling torn writes apart, which is all it is asked.
class Fingerprinter {
public:
    Fingerprinter();
    ~Fingerprinter();
    Fingerprinter(Fingerprinter const&) = delete;
    Fingerprinter& operator=(Fingerprinter const&) = delete;

    void add(char const* data, qsizetype size);
    void add(QByteArray const& block) { add(block.constData(), block.size()); }
    Fingerprint fingerprint() const;

private:
    struct State;
    std::unique_ptr<State> state_;
    qint64 total_ = 0;
};

// The fingerprint of the rest of the open file, read in blocks.
Result fingerprintOfFile(File& file, Fingerprint& fingerprint);

struct StoreMarker {
    Fingerprint next;                    // the document the store writes
    std::optional<Fingerprint> previous; // the file it replaces, unless there was none or an
                                         // earlier store had left it part-written
};

// The name of the marker of the budget file named name (the file a link names): beside it and
// hidden, as ".NAME.storing".
QString markerNameOf(QString const& name);

// The name of the record of the last store of the budget file named name that finished: its
// marker, kept under the name ".NAME.stored", which says what the library last wrote there.
QString recordNameOf(QString const& name);

// FROZEN: a marker left by one version is read by every later one. It is text, four lines:
//
//     zel-budget-store 1
//     next SIZE HASH
//     previous SIZE HASH            ("previous none" when there was no file, or an earlier
//                                   store had left the file it replaces part-written)
//     check HASH
//
// SIZE in decimal, HASH sixteen lowercase hexadecimal digits, every line ending in a line feed.
// The check is the hash of the three lines before it: a marker cut short or zeroed by a power
// loss fails it, and is only ever left so by a store that never began to write the budget file.
QByteArray markerBytes(StoreMarker const& marker);

// The marker that bytes hold; nothing for bytes that fail the check.
std::optional<StoreMarker> parseMarker(QByteArray const& bytes);

// Whether a file of this fingerprint holds what the marker's store wrote, or the whole budget it
// replaced.
bool isWholeBudget(StoreMarker const& marker, Fingerprint const& file);

} // namespace zel::file_storage::internal
