#pragma once

#include <QFile>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// The calls of the tool that differ between systems, all here.
namespace zel::tool::system {

// Whether standard error is a terminal, where a person watches.
bool standardErrorIsTerminal();

// How many bytes this process has read and written so far, of files, pipes and devices alike; -1
// where the system does not say.
qint64 bytesMoved();

// The command line. Where a file name's bytes are not UTF-8 (a name from another system, or made
// under another locale), each byte that is not is kept as U+DC80 plus its value, a lone
// surrogate that no UTF-8 text holds, so that the name still names its file.
QStringList arguments(int argc, char** argv);

// The bytes of a name that holds such kept bytes; nothing for any other name.
std::optional<QByteArray> keptBytesOf(QString const& name);

// Opens the file at name, given by its bytes, for reading into file; false with the system's
// reason otherwise.
bool openByBytes(QByteArray const& name, QFile& file, QString& why);

} // namespace zel::tool::system
