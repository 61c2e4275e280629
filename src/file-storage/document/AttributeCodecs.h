#pragma once

#include "file-storage/document/DocumentFormat.h"
#include "foundation/Optional.h"

#include <QDate>
#include <QLatin1String>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtGlobal>

// How values are stored in the attributes of the budget document.
//
// Readers take the value from the reader's current start element. Every failure throws
// AttributeError with the element's tag, the attribute's name and the reader's position; no
// codec ever substitutes a default. An absent attribute reads like an empty one, except for
// readOptionalNumericAttribute.
namespace zel::file_storage::internal {

// Decimal integers (qint64, quint8, quint16, quint32) and doubles, with range checks against
// the destination type. Instantiated for exactly those five types.
template <class T> T readNumericAttribute(QXmlStreamReader& reader, QLatin1String const& name);

// Absent: empty. Present: an unsigned 32-bit number (a present 0 is kept).
foundation::Optional<quint32> readOptionalNumericAttribute(QXmlStreamReader& reader,
                                                           QLatin1String const& name);

// Exactly "true" or "false".
bool readBoolAttribute(QXmlStreamReader& reader, QLatin1String const& name);

// Any non-empty text, unchanged (blanks count as content).
QString readRequiredAttribute(QXmlStreamReader& reader, QLatin1String const& name);

// A valid date in ISO form, yyyy-MM-dd.
QDate readDateAttribute(QXmlStreamReader& reader, QLatin1String const& name);

// Whether the current element carries the attribute at all (an empty value counts).
bool hasAttribute(QXmlStreamReader const& reader, QLatin1String const& name);

// Writers take each name in its UTF-16 form, which needs no conversion.
void startElement(QXmlStreamWriter& writer, Name const& tag);
void writeTextAttribute(QXmlStreamWriter& writer, Name const& name, QString const& value);

void writeBoolAttribute(QXmlStreamWriter& writer, Name const& name, bool value);

// Writes the date in ISO form. Throws AttributeError naming tag and attribute, with no reader
// position, when the date is not valid, or when its year lies outside 1 to 9999, which the ISO
// form cannot hold; nothing is then written for the attribute.
void writeDateAttribute(QXmlStreamWriter& writer, QLatin1String const& tag, Name const& name,
                        QDate const& value);

// Numbers in the form the numeric readers accept: plain decimal; doubles with six
// significant digits (the format keeps no more).
void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, qint64 value);
void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, quint16 value);
void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, quint32 value);
void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, double value);

} // namespace zel::file_storage::internal
