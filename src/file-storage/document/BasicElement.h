#pragma once

#include "file-storage/common/ErrorForms.h"

#include "file-storage/Errors.h"

#include <QLatin1String>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtGlobal>

namespace zel::file_storage::internal {

// An element of the budget document: it knows its tag, reads itself from a reader standing on
// its start tag, and writes itself to a writer.
//
// Elements are plain values; a parent owns its children by value, in document order. An
// element lives for one load or one store.
//
// read() returns with the reader on the element's own end tag, except where an element says
// otherwise (TableElement.h tells how the elements of the format's table read). Faults in the
// element itself throw BudgetFileError or AttributeError with the reader's line and column.
struct BasicElement {
    virtual ~BasicElement();
    // The element's tag: the same object on every call, whatever the element holds.
    virtual QLatin1String const& tagName() const = 0;
    virtual void read(QXmlStreamReader& reader) = 0;
    virtual void write(QXmlStreamWriter& writer) const = 0;

protected:
    BasicElement() = default;
    BasicElement(BasicElement const&) = default;
    BasicElement(BasicElement&&) = default;
    BasicElement& operator=(BasicElement const&) = default;
    BasicElement& operator=(BasicElement&&) = default;
};

// An element with a non-zero identifier, stored as its first attribute "id".
struct IndexedElement : BasicElement {
    // 0 only before read; every identifier read or given to a constructor is non-zero.
    quint32 identifier = 0;

    IndexedElement() = default;
    // Throws BudgetFileError for identifier 0.
    explicit IndexedElement(quint32 identifier);

    // The text of the error for an "id" of 0 in a document.
    QString invalidIdentifier() const;
};

void logReading(QLatin1String const& tag);
void logWriting(QLatin1String const& tag);

// The opening steps that every element's read shares: logs the record, then checks that the
// reader stands on a start element and that its name is the element's tag.
void beginRead(QXmlStreamReader& reader, QLatin1String const& tag);

} // namespace zel::file_storage::internal
