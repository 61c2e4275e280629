#include "System.h"

#include <QFile>

#if defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>

namespace zel::tool::system {

#if defined(Q_OS_WIN)

bool standardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

qint64 bytesRead() {
    IO_COUNTERS counters{};
    return GetProcessIoCounters(GetCurrentProcess(), &counters) != 0
               ? qint64(counters.ReadTransferCount)
               : -1;
}

#else

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

qint64 bytesRead() {
#if defined(Q_OS_LINUX)
    // "rchar: N", the bytes that the process's reads returned, of any file.
    QFile io(QStringLiteral("/proc/self/io"));
    if (io.open(QIODevice::ReadOnly)) {
        for (auto const& line : io.readAll().split('\n')) {
            if (line.startsWith("rchar:")) {
                bool ok = false;
                auto const count = line.mid(6).trimmed().toLongLong(&ok);
                return ok ? count : -1;
            }
        }
    }
#endif
    return -1;
}

#endif

} // namespace zel::tool::system
