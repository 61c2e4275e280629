#include "file-storage/document/DocumentFormat.h"

#include <iterator>

namespace zel::file_storage::internal::format {

Element const* elementOf(QStringView parent, QStringView tag) {
    for (auto const& element : elements) {
        if (element.tag.latin1 == tag && element.parent.latin1 == parent) {
            return &element;
        }
    }
    return nullptr;
}

Element const& elementTagged(QLatin1String tag) {
    for (auto const& element : elements) {
        if (element.tag.latin1 == tag) {
            return element;
        }
    }
    Q_UNREACHABLE();
}

Attribute const* attributeOf(Element const& element, QStringView name) {
    for (auto const& attribute : element.attributes) {
        if (attribute.name.latin1 == name) {
            return &attribute;
        }
    }
    return nullptr;
}

Attribute const& attributeRead(Element const& element, std::size_t index) {
    for (auto const& attribute : element.attributes) {
        if (attribute.readOrder == index) {
            return attribute;
        }
    }
    Q_UNREACHABLE();
}

} // namespace zel::file_storage::internal::format
