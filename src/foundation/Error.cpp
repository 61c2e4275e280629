#include "foundation/Error.h"

namespace zel::foundation {

Error::Error(QString const& message, std::exception const& cause)
    : std::runtime_error(message.toStdString()), message_(message),
      causeDescription_(cause.what()) {}

Error::~Error() = default;

} // namespace zel::foundation
