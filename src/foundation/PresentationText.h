#pragma once

#include <QString>

namespace zel::foundation {

// The display text of an 8-bit number: its plain decimal form.
QString presentationText(unsigned char const& value);

} // namespace zel::foundation
