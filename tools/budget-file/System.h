#pragma once

#include <QtGlobal>

// The calls of the tool that differ between systems, all here.
namespace zel::tool::system {

// Whether standard error is a terminal, where a person watches.
bool standardErrorIsTerminal();

// How many bytes this process has read so far, from files, pipes and devices alike; -1 where the
// system does not say.
qint64 bytesRead();

} // namespace zel::tool::system
