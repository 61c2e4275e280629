#include "foundation/PresentationText.h"

namespace zel::foundation {

QString presentationText(unsigned char const& value) {
    return QString::number(value);
}

} // namespace zel::foundation
