#pragma once

#include "file-storage/document/BasicElement.h"
#include "file-storage/document/DocumentFormat.h"

namespace zel::file_storage::internal {

// The root of the budget document; its "revision" is the version of the document format.
//
// It holds no children: the load and store procedures own the collections beside it. read()
// leaves the reader on the root's start tag, so the caller's next readNextStartElement()
// reaches the first collection; write() leaves the root open for the collections, and the
// caller closes it. Its one attribute is read and written through the format's table, as every
// element's (TableElement.h).
struct ApplicationElement final : BasicElement {
    static constexpr format::Element const& form_ =
        format::elementAt(format::none, names::application);
    static constexpr Name tag_ = names::application;
    // The highest revision this library reads, and the one it always writes.
    static constexpr quint8 latestRevision_ = 2;

    // 0 until read.
    quint8 revision = 0;

    QLatin1String const& tagName() const override;
    // Throws BudgetFileError for another root tag or a revision above latestRevision_, and
    // AttributeError for a missing or non-numeric revision; revision is then unchanged.
    void read(QXmlStreamReader& reader) override;
    // Always writes latestRevision_, whatever revision holds.
    void write(QXmlStreamWriter& writer) const override;
};

} // namespace zel::file_storage::internal
