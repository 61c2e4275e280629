#pragma once

#include <QString>
#include <QTextStream>

#include <cstdint>

// The commands of the budget-file tool. Each writes its result to out, its errors as one line
// each to err, and returns the process exit code: 0 for success, 1 for a file that cannot be
// used, 2 for a wrong invocation.
namespace zel::tool {

struct Streams {
    QTextStream& out;
    QTextStream& err;
};

int check(Streams io, QString const& file, bool json);
int summary(Streams io, QString const& file);
int format(Streams io, QString const& file, QString const& output);
int sample(Streams io, QString const& file, std::uint32_t transactions, std::uint32_t seed);
int showRates(Streams io);

} // namespace zel::tool
