#include "file-storage/document/ApplicationElement.h"

#include "file-storage/document/AttributeCodecs.h"
#include "foundation/PresentationText.h"

#include <QObject>

namespace zel::file_storage::internal {

QLatin1String const& ApplicationElement::tagName() const {
    return tag_.latin1;
}

void ApplicationElement::read(QXmlStreamReader& reader) {
    logReading(tag_);
    if (reader.name() != tag_.latin1) {
        throw readerError(
            reader, QObject::tr("This file does not appear to be a budget application file."));
    }
    auto const value = readNumericAttribute<quint8>(reader, names::attributes::revision);
    if (value > latestRevision_) {
        throw readerError(reader,
                          QObject::tr("The revision %1 of the budget file is not supported by this "
                                      "application version which only supports up to revision %2.")
                              .arg(foundation::presentationText(value),
                                   foundation::presentationText(latestRevision_)));
    }
    revision = value;
}

void ApplicationElement::write(QXmlStreamWriter& writer) const {
    logWriting(tag_);
    startElement(writer, tag_);
    writeTextAttribute(writer, names::attributes::revision, QString::number(latestRevision_));
}

} // namespace zel::file_storage::internal
