#include "file-storage/document/ApplicationElement.h"

#include "file-storage/document/TableElement.h"
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
    static_assert(
        bindsAttributes<std::tuple<decltype(&ApplicationElement::revision)>>(form_.attributes));
    quint8 value = 0;
    readAttribute(reader, form_.attributes[0], *this, value);
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
    writeValue(writer, tag_.latin1, form_.attributes[0].name, latestRevision_);
}

} // namespace zel::file_storage::internal
