#pragma once

#include "file-storage/document/MarkupScanner.h"
#include "file-storage/document/inspection/Values.h"

#include <QByteArray>
#include <QLatin1String>

#include <optional>

namespace zel::file_storage::internal::inspection {

// Follows the document's bytes along with the reader, to say where each start tag, comment,
// instruction and text begins. The reader itself only knows where it stands after a token, and
// that not always: it reads a character ahead after text, and passes the white space outside
// the root without a token. Where markup begins and ends, the markup scanner says.
//
// Every start tag, comment and instruction the reader reports must be asked for, in order,
// and every run of text (text() also passes the end tags before it); the rest is passed over.
// UTF-16 and UTF-32 documents are not followed, nor anything after a document type
// declaration, which may declare entities that the reader expands into markup that the bytes
// do not show where it reports it: usable() is then false.
class Locator {
public:
    explicit Locator(QByteArray const& bytes);

    bool usable() const { return usable_; }
    void stop() { usable_ = false; }
    // For a document in a one-byte encoding other than UTF-8: every byte is a character.
    void countBytes() { bytesAreCharacters_ = true; }

    Position startTag() { return next(Markup::startTag); }
    Position comment() { return next(Markup::comment); }
    Position instruction() { return next(Markup::instruction); }

    // The first character of the run of text (or the CDATA section) that the reader reports
    // next that is not white space.
    Position text();

    // Where the attribute's name begins in the start tag found last; nothing when the tag does
    // not hold it or no tag was found. Looked for again in the tag's bytes, so that only the
    // few callers that want it pay for it.
    std::optional<Position> attribute(QLatin1String name) const;

private:
    // The next markup from offset on: where its '<' is, what it is, and where it ends (the end
    // of the bytes for markup that does not end); begin is the end of the bytes where there is
    // none.
    struct Found {
        qsizetype begin;
        Markup markup;
        qsizetype end;
    };
    Found nextMarkup(qsizetype offset) const;

    Position next(Markup wanted);
    Position position() const { return {line_, column_}; }
    // Moves the place past the byte c.
    void step(Position& at, bool& afterCarriageReturn, uchar c) const;
    void moveTo(qsizetype target);

    struct Tag {
        qsizetype offset = -1;
        Position place;
        bool afterCarriageReturn = false;
    };

    char const* data_;
    qsizetype size_;
    qsizetype offset_ = 0;
    qint64 line_ = 1;
    qint64 column_ = 1;
    bool afterCarriageReturn_ = false;
    bool bytesAreCharacters_ = false;
    bool usable_ = true;
    Tag lastTag_;
};

} // namespace zel::file_storage::internal::inspection
