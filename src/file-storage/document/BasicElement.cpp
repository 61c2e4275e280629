#include "file-storage/document/BasicElement.h"

#include "file-storage/common/Log.h"

#include <QObject>

namespace zel::file_storage::internal {

BasicElement::~BasicElement() = default;

IndexedElement::IndexedElement(quint32 value) : identifier(value) {
    if (value == 0) {
        throw contentError(QObject::tr("An indexed element identifier cannot be invalid."));
    }
}

QString IndexedElement::invalidIdentifier() const {
    // This message has always been left untranslated.
    return QStringLiteral("The %1 identifier cannot be invalid.").arg(tagName());
}

void logReading(QLatin1String const& tag) {
    ZEL_LOG_DEBUG() << "Reading Element:" << tag;
}

void logWriting(QLatin1String const& tag) {
    ZEL_LOG_DEBUG() << "Writing Element:" << tag;
}

void beginRead(QXmlStreamReader& reader, QLatin1String const& tag) {
    logReading(tag);
    if (!reader.isStartElement()) {
        throw readerError(reader,
                          QObject::tr("The XML element, %1, is not the starting element of %2.")
                              .arg(reader.name().toString(), tag));
    }
    if (reader.name() != tag) {
        throw readerError(
            reader,
            QObject::tr("The XML element tag, %1, is not valid under the current element %2.")
                .arg(reader.name().toString(), tag));
    }
}

} // namespace zel::file_storage::internal
