#include "file-storage/document/AttributeCodecs.h"

#include "file-storage/common/ErrorForms.h"

#include "file-storage/Errors.h"

#include <QObject>

#include <charconv>
#include <exception>
#include <limits>
#include <type_traits>

namespace zel::file_storage::internal {

namespace {

QStringView attributeValue(QXmlStreamReader const& reader, QLatin1String const& name) {
    return reader.attributes().value(name);
}

// The name as the writer takes it: a string over the name's own UTF-16 text, not a copy.
QString nameString(Name const& name) {
    return QString::fromRawData(reinterpret_cast<QChar const*>(name.utf16.utf16()),
                                name.utf16.size());
}

template <class T> QString decimal(T value) {
    char digits[24];
    auto const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return QString::fromLatin1(digits, end - digits);
}

// yyyy-MM-dd, as Qt's ISO form writes it, without Qt's general formatting machinery.
QString isoDate(int year, int month, int day) {
    QString text(10, Qt::Uninitialized);
    auto* c = text.data();
    auto put = [&c](int value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            c[i] = QChar(u'0' + value % 10);
            value /= 10;
        }
        c += width;
    };
    put(year, 4);
    *c++ = u'-';
    put(month, 2);
    *c++ = u'-';
    put(day, 2);
    return text;
}

} // namespace

template <class T> T readNumericAttribute(QXmlStreamReader& reader, QLatin1String const& name) {
    // Each kind of number is converted at its widest and then checked against T, so that a
    // value out of T's range is reported as such rather than as not a number.
    auto const text = attributeValue(reader, name);
    bool ok = false;
    auto const value = [&] {
        if constexpr (std::is_floating_point_v<T>) {
            return text.toDouble(&ok);
        } else if constexpr (std::is_signed_v<T>) {
            return text.toLongLong(&ok, 10);
        } else {
            return text.toULongLong(&ok, 10);
        }
    }();
    if (!ok) {
        throw attributeError(reader, name, QObject::tr("The attribute value must be a number."));
    }
    if (value > std::numeric_limits<T>::max()) {
        throw attributeError(
            reader, name,
            QObject::tr("The attribute value is too large to store in the destination object."));
    }
    if constexpr (std::is_floating_point_v<T>) {
        if (value < std::numeric_limits<T>::lowest()) {
            throw attributeError(
                reader, name,
                QObject::tr("The attribute value is too low to store in the destination object."));
        }
    }
    return static_cast<T>(value);
}

template qint64 readNumericAttribute<qint64>(QXmlStreamReader&, QLatin1String const&);
template quint8 readNumericAttribute<quint8>(QXmlStreamReader&, QLatin1String const&);
template quint16 readNumericAttribute<quint16>(QXmlStreamReader&, QLatin1String const&);
template quint32 readNumericAttribute<quint32>(QXmlStreamReader&, QLatin1String const&);
template double readNumericAttribute<double>(QXmlStreamReader&, QLatin1String const&);

bool readBoolAttribute(QXmlStreamReader& reader, QLatin1String const& name) {
    auto const text = attributeValue(reader, name);
    if (text == QLatin1String("true")) {
        return true;
    }
    if (text == QLatin1String("false")) {
        return false;
    }
    throw attributeError(reader, name, QObject::tr("The attribute value must 'true' or 'false'."));
}

QString readRequiredAttribute(QXmlStreamReader& reader, QLatin1String const& name) {
    auto text = attributeValue(reader, name).toString();
    if (text.isEmpty()) {
        throw attributeError(reader, name,
                             QObject::tr("The attribute value must not be empty when required."));
    }
    return text;
}

QDate readDateAttribute(QXmlStreamReader& reader, QLatin1String const& name) {
    auto const text = readRequiredAttribute(reader, name);
    auto const date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid()) {
        throw attributeError(
            reader, name,
            QObject::tr("The read in attribute value, %1, is not a valid date.").arg(text));
    }
    return date;
}

bool hasAttribute(QXmlStreamReader const& reader, QLatin1String const& name) {
    return reader.attributes().hasAttribute(name);
}

void startElement(QXmlStreamWriter& writer, Name const& tag) {
    writer.writeStartElement(nameString(tag));
}

void writeTextAttribute(QXmlStreamWriter& writer, Name const& name, QString const& value) {
    writer.writeAttribute(nameString(name), value);
}

void writeBoolAttribute(QXmlStreamWriter& writer, Name const& name, bool value) {
    static QString const yes = QStringLiteral("true");
    static QString const no = QStringLiteral("false");
    writeTextAttribute(writer, name, value ? yes : no);
}

void writeDateAttribute(QXmlStreamWriter& writer, QLatin1String const& tag, Name const& name,
                        QDate const& value) {
    int year = 0;
    int month = 0;
    int day = 0;
    value.getDate(&year, &month, &day);
    if (!value.isValid() || year < 1 || year > 9999) {
        throw attributeError(tag, name,
                             QObject::tr("The attribute value to write, %1, is not a valid date.")
                                 .arg(value.toString(Qt::TextDate)));
    }
    writeTextAttribute(writer, name, isoDate(year, month, day));
}

void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, qint64 value) {
    writeTextAttribute(writer, name, decimal(value));
}

void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, quint8 value) {
    writeTextAttribute(writer, name, decimal(value));
}

void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, quint16 value) {
    writeTextAttribute(writer, name, decimal(value));
}

void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, quint32 value) {
    writeTextAttribute(writer, name, decimal(value));
}

void writeNumericAttribute(QXmlStreamWriter& writer, Name const& name, double value) {
    writeTextAttribute(writer, name, QString::number(value, 'g', 6));
}

} // namespace zel::file_storage::internal
