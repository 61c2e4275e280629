// diff: what changed between two budget files, by meaning.
#include "Tool.h"

namespace zel::tool {

int diff(Streams io, QString const& oldFile, QString const& newFile, Options const& options) {
    fail(io, options, oldFile + QLatin1Char(' ') + newFile,
         QStringLiteral("diff is not available yet"));
    return 2;
}

} // namespace zel::tool
