// export: the whole budget as JSON, or its transactions as CSV.
#include "Tool.h"

namespace zel::tool {

int exportBudget(Streams io, QString const& file, Options const& options) {
    return fail(io, options, file, QStringLiteral("export is not available yet"));
}

} // namespace zel::tool
