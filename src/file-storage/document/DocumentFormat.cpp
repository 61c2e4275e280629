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

Attribute const* attributeOf(Element const& element, QStringView name) {
    for (auto const& attribute : element.attributes) {
        if (attribute.name.latin1 == name) {
            return &attribute;
        }
    }
    return nullptr;
}

} // namespace zel::file_storage::internal::format
