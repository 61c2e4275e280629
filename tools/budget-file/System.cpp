#include "System.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>

#if defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace zel::tool::system {

#if defined(Q_OS_WIN)

// Windows gives the command line in UTF-16, which Qt reads as it is.
QStringList arguments(int, char**) {
    return QCoreApplication::arguments();
}

// Windows names files in UTF-16: every name is text.
std::optional<QByteArray> keptBytesOf(QString const&) {
    return std::nullopt;
}

bool openByBytes(QByteArray const&, QFile& file, QString& why) {
    why = file.errorString();
    return false;
}

bool standardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

qint64 bytesMoved() {
    IO_COUNTERS counters{};
    return GetProcessIoCounters(GetCurrentProcess(), &counters) != 0
               ? qint64(counters.ReadTransferCount + counters.WriteTransferCount)
               : -1;
}

#else

QStringList arguments(int argc, char** argv) {
    QStringList decoded;
    for (int a = 0; a < argc; ++a) {
        QByteArrayView const bytes(argv[a]);
        QString text;
        // Each byte at which UTF-8 fails is kept on its own; the decoding resumes after it.
        qsizetype from = 0;
        while (from < bytes.size()) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                          QStringDecoder::Flag::ConvertInitialBom);
            qsizetype end = from;
            // The longest run of whole, valid sequences from here.
            while (end < bytes.size()) {
                auto const lead = static_cast<unsigned char>(bytes[end]);
                qsizetype const length = lead < 0x80             ? 1
                                         : (lead & 0xe0) == 0xc0 ? 2
                                         : (lead & 0xf0) == 0xe0 ? 3
                                         : (lead & 0xf8) == 0xf0 ? 4
                                                                 : 0;
                if (length == 0 || end + length > bytes.size()) {
                    break;
                }
                QString const one = utf8(bytes.sliced(end, length));
                if (utf8.hasError() || (one.size() == 1 && one[0].isSurrogate())) {
                    break;
                }
                text += one;
                end += length;
            }
            if (end < bytes.size()) {
                text += QChar(char16_t(0xdc00 + static_cast<unsigned char>(bytes[end])));
                ++end;
            }
            from = end;
        }
        decoded << text;
    }
    return decoded;
}

namespace {

bool isKeptByte(char16_t c) {
    return c >= 0xdc80 && c <= 0xdcff;
}

} // namespace

std::optional<QByteArray> keptBytesOf(QString const& name) {
    if (std::none_of(name.begin(), name.end(), [](QChar c) { return isKeptByte(c.unicode()); })) {
        return std::nullopt;
    }
    QByteArray bytes;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= name.size(); ++i) {
        if (i == name.size() || isKeptByte(name[i].unicode())) {
            bytes += QStringView(name).mid(from, i - from).toUtf8();
            if (i < name.size()) {
                bytes += char(name[i].unicode() - 0xdc00);
            }
            from = i + 1;
        }
    }
    return bytes;
}

bool openByBytes(QByteArray const& name, QFile& file, QString& why) {
    int const descriptor = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (descriptor < 0) {
        why = errno == ENOENT ? QStringLiteral("no such file") : qt_error_string(errno);
        return false;
    }
    if (!file.open(descriptor, QIODevice::ReadOnly | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        why = file.errorString();
        return false;
    }
    return true;
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

qint64 bytesMoved() {
#if defined(Q_OS_LINUX)
    // "rchar: N" and "wchar: N": the bytes that the process's reads returned and its writes took,
    // of any file.
    QFile io(QStringLiteral("/proc/self/io"));
    if (io.open(QIODevice::ReadOnly)) {
        qint64 moved = 0;
        int found = 0;
        for (auto const& line : io.readAll().split('\n')) {
            if (line.startsWith("rchar:") || line.startsWith("wchar:")) {
                bool ok = false;
                moved += line.mid(6).trimmed().toLongLong(&ok);
                found += ok ? 1 : 0;
            }
        }
        return found == 2 ? moved : -1;
    }
#endif
    return -1;
}

#endif

} // namespace zel::tool::system
