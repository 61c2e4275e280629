#pragma once

#include "file-storage/BudgetFile.h"
#include "money/Currency.h"
#include "storage/StorageError.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdint>
#include <optional>
#include <vector>

// What the commands of the budget-file tool share: how they report, how they write files, and
// how they show values. The tool uses the library's public API only.
//
// Exit statuses, as --help and the manual page give them: 0 success; 1 a file that cannot be
// used, or (check --strict) a budget with warnings; 2 a wrong command line. diff follows
// diff(1) instead: 0 the same, 1 different, 2 trouble.
namespace zel::tool {

struct Streams {
    QTextStream& out;
    QTextStream& err;
};

// The options of a command line, for the commands that take them.
struct Options {
    bool json = false;   // one JSON document on standard output, failures included
    bool force = false;  // replace an existing output file
    bool strict = false; // check: warnings fail the check
    QString output;      // export: where to write ("-" or empty: standard output)
    QString format;      // export: "json" or "csv"
    QString file;        // rates show: the exchange-rates file to show
    QString backUp;      // salvage: the back-up to take what the file lost from
    std::uint32_t transactions = 1000;
    std::uint32_t seed = 1;
};

int check(Streams io, QString const& file, Options const& options);
int summary(Streams io, QString const& file);
int format(Streams io, QString const& file, QString const& output, Options const& options);
int sample(Streams io, QString const& file, Options const& options);
int restore(Streams io, QString const& file, Options const& options);
int exportBudget(Streams io, QString const& file, Options const& options);
int diff(Streams io, QString const& oldFile, QString const& newFile, Options const& options);
int showRates(Streams io, Options const& options);
int salvage(Streams io, QString const& file, QString const& output, Options const& options);

// ---- Reporting ---------------------------------------------------------------------------------

// text as the tool prints it for people: what a file name or a text from a file holds can
// then never move the cursor, restyle the terminal, start a line of its own or reorder what
// follows it. Each such character is written as an escape, and so is the backslash that starts
// one, so that no text can print as an escape it does not hold:
//   \\ \n \r \t  a backslash, a line feed, a carriage return, a tab
//   \xHH         any other C0 control character, DEL and the C1 controls (U+0080 to U+009F)
//   \uHHHH       the bidirectional formatting characters (U+061C, U+200E, U+200F, U+202A to
//                U+202E, U+2066 to U+2069), the line and paragraph separators (U+2028,
//                U+2029), and a surrogate that is not half of a pair
// Hexadecimal digits are lower case. Every other character is printed as it is. JSON and CSV
// output escape or quote by their own rules instead.
QString printable(QStringView text);

// The library error's class, both texts, line and column (for a budget file error), and cause,
// as one JSON object.
QJsonObject errorObject(storage::StorageError const& error);
// A failure of the tool's own, in the members of a library error's object.
QJsonObject errorObject(QString const& message);
// What the error's cause said; empty when there was none.
QString causeOf(storage::StorageError const& error);

// Reports a failure of a command about file: one line on standard error, or with --json one
// JSON document on standard output ({"file", "ok": false, "error": {...}}). Returns 1.
int fail(Streams io, Options const& options, QString const& file, QString const& message);
int fail(Streams io, Options const& options, QString const& file,
         storage::StorageError const& error);
// Prints object, and "file" and "ok" in it, as the one JSON document of a command.
void printJson(Streams io, QString const& file, bool ok, QJsonObject object);

// The budget file at path (made absolute), which must exist unless mustExist is false and must
// be a regular file if it exists; nothing after reporting why not.
std::optional<file_storage::BudgetFile> budgetFileAt(Streams io, Options const& options,
                                                     QString const& path, bool mustExist);

// ---- Writing -----------------------------------------------------------------------------------

// Why bytes may not be written to path, or nothing: a path that is not a regular file is never
// written, and an existing file only with force.
std::optional<QString> refusedOutput(QString const& path, bool force);

// Writes bytes to path in one step (the file is complete or not there), no more readable than
// the file at source, or to standard output for "-" or an empty path. Returns why it failed, or
// nothing.
std::optional<QString> writeOutput(Streams io, QString const& path, QByteArray const& bytes,
                                   QString const& source, bool force);

// ---- Values as people read them ----------------------------------------------------------------

QString codeText(orvalis::currency::Iso4217Codes code);
// "1520.75 USD"; a minor part of 100 or more is shown as it is stored.
QString moneyText(orvalis::currency::Money const& money);
// The shortest text that reads back as the same number: 0.68, not 0.68000000000000005.
QString numberText(double value);

// Rows of text printed in columns as wide as their widest cell: texts flush left, and the
// columns named right-aligned (amounts and numbers, so that their digits line up) flush right.
class Table {
public:
    explicit Table(QStringList headers, std::vector<qsizetype> rightAligned = {})
        : rightAligned_(std::move(rightAligned)) {
        rows_.push_back(std::move(headers));
    }
    void add(QStringList row) { rows_.push_back(std::move(row)); }
    void print(QTextStream& out, QString const& title) const;

private:
    std::vector<QStringList> rows_;
    std::vector<qsizetype> rightAligned_;
};

} // namespace zel::tool
