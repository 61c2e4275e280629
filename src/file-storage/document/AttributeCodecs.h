#pragma once

#include "file-storage/document/DocumentFormat.h"
#include "foundation/Optional.h"

#include <QDate>
#include <QLatin1String>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtGlobal>

#include <type_traits>

// How values are stored in the attributes of the budget document.
//
// Readers take the value from the reader's current start element. Every failure throws
// AttributeError with the element's tag, the attribute's name and the reader's position; no
// codec ever substitutes a default. An absent attribute reads like an empty one.
namespace zel::file_storage::internal {

// Decimal integers (qint64, quint8, quint16, quint32) and doubles, with range checks against
// the destination type. Instantiated for exactly those five types.
template <class T> T readNumericAttribute(QXmlStreamReader& reader, QLatin1String const& name);

// Exactly "true" or "false".
bool readBoolAttribute(QXmlStreamReader& reader, QLatin1String const& name);

// Any non-empty text, unchanged (blanks count as content).
QString readRequiredAttribute(QXmlStreamReader& reader, QLatin1String const& name);

// A date, read as format::Codec::date says.
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
void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, quint8 value);
void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, quint16 value);
void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, quint32 value);
void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, double value);

// The codec of each type of value, for the elements that read and write through the format's
// table: readValue<T> reads a T, writeValue writes one (tag names the writing element in an
// error). An Optional is written only when it holds a value, and an Optional text only when
// that text is not empty: an empty value would not read back.
template <class T> T readValue(QXmlStreamReader& reader, QLatin1String const& name) {
    if constexpr (std::is_same_v<T, bool>) {
        return readBoolAttribute(reader, name);
    } else if constexpr (std::is_same_v<T, QString>) {
        return readRequiredAttribute(reader, name);
    } else if constexpr (std::is_same_v<T, QDate>) {
        return readDateAttribute(reader, name);
    } else {
        return readNumericAttribute<T>(reader, name);
    }
}

inline void writeValue(QXmlStreamWriter& writer, QLatin1String const&, Name const& name,
                       QString const& value) {
    writeTextAttribute(writer, name, value);
}
inline void writeValue(QXmlStreamWriter& writer, QLatin1String const&, Name const& name,
                       bool value) {
    writeBoolAttribute(writer, name, value);
}
inline void writeValue(QXmlStreamWriter& writer, QLatin1String const& tag, Name const& name,
                       QDate const& value) {
    writeDateAttribute(writer, tag, name, value);
}
template <class T>
requires std::is_arithmetic_v<T> &&
    (!std::is_same_v<T, bool>)inline void writeValue(QXmlStreamWriter& writer, QLatin1String const&,
                                                     Name const& name, T value) {
    writeNumericAttribute(writer, name, value);
}
template <class T>
void writeValue(QXmlStreamWriter& writer, QLatin1String const& tag, Name const& name,
                foundation::Optional<T> const& value) {
    if constexpr (std::is_same_v<T, QString>) {
        if (value && !value->isEmpty()) {
            writeValue(writer, tag, name, *value);
        }
    } else if (value) {
        writeValue(writer, tag, name, *value);
    }
}

} // namespace zel::file_storage::internal
