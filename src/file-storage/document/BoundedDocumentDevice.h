#pragma once

#include "file-storage/Errors.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QXmlStreamReader>

#include <memory>
#include <optional>

namespace zel::file_storage::internal {

// Passes on the budget document that another device holds, and ends it where its markup first
// crosses a bound of the format: elements nested deeper than deepestNesting_, a start tag with
// more than mostAttributes_ attributes (counted by their quoted values). The bytes are checked
// as they pass, before an XML reader sees them, so a reader of this device never spends more
// than the format's own shape costs (an XML reader takes time that grows with the square of a
// start tag's attributes, and keeps every open element). The load reads budget files through
// it; other readers of a budget document should too.
//
// The document's encoding is followed as the XML reader follows it (its first bytes, then its
// declaration): UTF-8, UTF-16, UTF-32 and the one-byte encodings that keep ASCII as it is (such
// as ISO-8859-1 and windows-1252). A document that declares another encoding, one in which
// markup cannot be told from the bytes, or one that its first bytes contradict, ends after its
// XML declaration.
//
// A UTF-16 or UTF-32 document also ends before an unpaired surrogate, which the reader would pass
// on without a word, and which no store could write back. (Every other character that a document
// cannot hold the reader refuses itself, in every encoding.)
//
// A document also ends before the first declaration in the internal subset of its document
// type declaration (of an entity, an element, an attribute list or a notation), so that the
// reader never expands an entity or adds a default attribute: what a document costs to read
// follows from its bytes. A document type declaration that only names an external one (which
// the reader never fetches), or whose internal subset holds only comments and processing
// instructions, is passed on.
class BoundedDocumentDevice : public QIODevice {
public:
    static int const deepestNesting_;
    static int const mostAttributes_;

    // Reads source, which must be open for reading, from where it stands. The device is open for
    // reading as soon as it is made. It does not own source.
    explicit BoundedDocumentDevice(QIODevice& source);
    BoundedDocumentDevice(BoundedDocumentDevice const&) = delete;
    BoundedDocumentDevice& operator=(BoundedDocumentDevice const&) = delete;
    ~BoundedDocumentDevice() override;

    bool isSequential() const override;
    qint64 bytesAvailable() const override;

    // The error for the bound that the document crosses, when reader stopped at the end that
    // this device gave the document there (a premature end of the document): the bound named in
    // its message, and the reader's line and column, which stand where the tag, the attribute
    // value, the declaration or the character that crosses it begins. Nothing when the document
    // stays within the bounds, or when reader stopped for another reason.
    std::optional<BudgetFileError> crossing(QXmlStreamReader const& reader) const;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(char const* data, qint64 size) override;

private:
    struct Scan;

    // Reads more of the source and checks what it can; false when nothing more comes of it.
    bool more();

    QIODevice& source_;
    std::unique_ptr<Scan> scan_;
    // Read from the source: from passed_ to checked_ checked and not passed on yet, then what is
    // to be checked with the next bytes read (less than one code unit, or a '<' or a surrogate
    // whose meaning the next unit tells).
    QByteArray buffer_;
    qsizetype passed_ = 0;
    qsizetype checked_ = 0;
    bool begunPassing_ = false;
    bool ended_ = false;   // nothing more is read from the source
    bool drained_ = false; // a read found nothing more to pass on
};

} // namespace zel::file_storage::internal
