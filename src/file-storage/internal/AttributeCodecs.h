#pragma once

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

// Writers take element and attribute names as QString; these keep one converted copy of each
// name per thread instead of converting it again for every element written.
void startElement(QXmlStreamWriter& writer, QLatin1String const& tag);
void writeTextAttribute(QXmlStreamWriter& writer, QLatin1String const& name, QString const& value);

void writeBoolAttribute(QXmlStreamWriter& writer, QLatin1String const& name, bool value);

// Writes the date in ISO form. Throws AttributeError naming tag and attribute, with no reader
// position, when the date is not valid, or when its year lies outside 1 to 9999, which the ISO
// form cannot hold; nothing is then written for the attribute.
void writeDateAttribute(QXmlStreamWriter& writer, QLatin1String const& tag,
                        QLatin1String const& name, QDate const& value);

// Numbers in the form the numeric readers accept: plain decimal; doubles with six
// significant digits (the format keeps no more).
void writeNumericAttribute(QXmlStreamWriter& writer, QLatin1String const& name, qint64 value);
void writeNumericAttribute(QXmlStreamWriter& writer, QLatin1String const& name, quint16 value);
void writeNumericAttribute(QXmlStreamWriter& writer, QLatin1String const& name, quint32 value);
void writeNumericAttribute(QXmlStreamWriter& writer, QLatin1String const& name, double value);

// The codec picked by the type of the value: text (required), date or number. The date
// writer names tag in its error; the others ignore it.
inline void readAttribute(QXmlStreamReader& reader, QLatin1String const& name, QString& value) {
    value = readRequiredAttribute(reader, name);
}
inline void readAttribute(QXmlStreamReader& reader, QLatin1String const& name, QDate& value) {
    value = readDateAttribute(reader, name);
}
template <class Number>
void readAttribute(QXmlStreamReader& reader, QLatin1String const& name, Number& value) {
    value = readNumericAttribute<Number>(reader, name);
}
inline void writeAttribute(QXmlStreamWriter& writer, QLatin1String const&,
                           QLatin1String const& name, QString const& value) {
    writeTextAttribute(writer, name, value);
}
inline void writeAttribute(QXmlStreamWriter& writer, QLatin1String const& tag,
                           QLatin1String const& name, QDate const& value) {
    writeDateAttribute(writer, tag, name, value);
}
template <class Number>
void writeAttribute(QXmlStreamWriter& writer, QLatin1String const&, QLatin1String const& name,
                    Number const& value) {
    writeNumericAttribute(writer, name, value);
}

} // namespace zel::file_storage::internal
