#pragma once

#include <optional>

namespace zel::foundation {

// A value or nothing. The standard one serves: an empty one, one holding a value, a test for
// a value, access to it, copy and move.
template <class T> using Optional = std::optional<T>;

} // namespace zel::foundation
