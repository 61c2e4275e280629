#include "file-storage/internal/AttributeCodecs.h"

#include "file-storage/Errors.h"

#include <QObject>

#include <exception>
#include <limits>
#include <type_traits>

namespace zel::file_storage::internal {

namespace {

AttributeError attributeError(QXmlStreamReader const& reader, QLatin1String const& name,
                              QString const& message) {
    return AttributeError(reader.name().toString(), name, reader.errorString(), reader.lineNumber(),
                          reader.columnNumber(), message, std::exception());
}

QStringView attributeValue(QXmlStreamReader const& reader, QLatin1String const& name) {
    return reader.attributes().value(name);
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

foundation::Optional<quint32> readOptionalNumericAttribute(QXmlStreamReader& reader,
                                                           QLatin1String const& name) {
    if (!hasAttribute(reader, name)) {
        return std::nullopt;
    }
    return readNumericAttribute<quint32>(reader, name);
}

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
        throw attributeError(reader, name,
                             QObject::tr("The read in attribute value, %1, is not a valid date.").arg(text));
    }
    return date;
}

bool hasAttribute(QXmlStreamReader const& reader, QLatin1String const& name) {
    return reader.attributes().hasAttribute(name);
}

void writeBoolAttribute(QXmlStreamWriter& writer, QLatin1String const& name, bool value) {
    writer.writeAttribute(name, value ? QLatin1String("true") : QLatin1String("false"));
}

void writeDateAttribute(QXmlStreamWriter& writer, QLatin1String const& tag,
                        QLatin1String const& name, QDate const& value) {
    if (!value.isValid()) {
        throw AttributeError(tag, name, QString(), 0, 0,
                             QObject::tr("The attribute value to write, %1, is not a valid date.")
                                 .arg(value.toString(Qt::TextDate)),
                             std::exception());
    }
    writer.writeAttribute(name, value.toString(Qt::ISODate));
}

void writeNumericAttribute(QXmlStreamWriter& writer, QLatin1String const& name, qint64 value) {
    writer.writeAttribute(name, QString::number(value));
}

void writeNumericAttribute(QXmlStreamWriter& writer, QLatin1String const& name, quint16 value) {
    writer.writeAttribute(name, QString::number(value));
}

void writeNumericAttribute(QXmlStreamWriter& writer, QLatin1String const& name, quint32 value) {
    writer.writeAttribute(name, QString::number(value));
}

void writeNumericAttribute(QXmlStreamWriter& writer, QLatin1String const& name, double value) {
    writer.writeAttribute(name, QString::number(value, 'g', 6));
}

} // namespace zel::file_storage::internal
