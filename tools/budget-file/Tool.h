#pragma once

#include "file-storage/BudgetDocumentInspection.h"
#include "file-storage/BudgetFile.h"
#include "file-storage/Errors.h"
#include "money/Currency.h"
#include "storage/StorageError.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdint>
#include <memory>
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
    bool json = false;    // one JSON document on standard output, failures included
    bool force = false;   // replace an existing output file
    bool strict = false;  // check: warnings fail the check
    bool quiet = false;   // check, diff: the exit status only
    bool orRaw = false;   // format: a budget that does not load is written as it is, status 0
    bool csvSafe = false; // export --format csv: no cell a spreadsheet takes for a formula
    QString output;       // export: where to write ("-" or empty: standard output)
    QString format;       // export: "json" or "csv"
    QString file;         // rates show: the exchange-rates file to show
    QString backUp;       // salvage: the back-up to take what the file lost from
    std::uint32_t transactions = 1000;
    std::uint32_t seed = 1;
};

// A budget that a command only reads. A regular file is loaded through the library, as the
// application loads it. Anything else that can be read (standard input for "-", a pipe, a
// process substitution such as /dev/fd/63, a device) is read whole into memory, up to
// largestReadDocument bytes, and loaded from there: no lock, marker or back-up stands beside it.
class Input {
public:
    Input(QString name, file_storage::BudgetFile file, qint64 size);
    Input(QString name, QByteArray bytes);

    // As the user gave it.
    QString const& name() const { return name_; }
    // The budget file; nothing for a document read into memory.
    file_storage::BudgetFile const* file() const { return file_ ? &*file_ : nullptr; }
    // The bytes that its load reads: the file's size; none for a document in memory already.
    qint64 unread() const { return unread_; }
    // Throws the library's errors.
    storage::BudgetState load() const;
    // The document's bytes: those read, or the file's as they are now; nothing when the file
    // cannot be read.
    std::optional<QByteArray> bytes() const;

private:
    QString name_;
    std::optional<file_storage::BudgetFile> file_;
    QByteArray bytes_;
    qint64 unread_ = 0;
};

// The most that a budget given as a pipe or device is read into memory: far above any budget of
// a lifetime (a million transactions take some 300 MB), and still below what a small machine can
// hold, against a pipe that never ends (/dev/zero, yes(1)).
inline constexpr qint64 largestReadDocument = qint64{1} << 30;

// What path names for a command that reads it: it must exist, and be a regular file or
// something that can be read whole; nothing after reporting why not.
std::optional<Input> inputAt(Streams io, Options const& options, QString const& path);

// A line on standard error that says how far a long reading or writing has come (bytes read and
// written of total, or so far where total is 0, or only what it does while nothing is read),
// shown only when standard
// error is a terminal, the work lasts over a second, and neither --json nor --quiet is given;
// erased when the object goes.
class Progress {
public:
    Progress(Streams io, Options const& options, QString const& what, qint64 total);
    Progress(Progress const&) = delete;
    Progress& operator=(Progress const&) = delete;
    ~Progress();

    struct Line;

private:
    std::unique_ptr<Line> line_;
};
// Erases the progress line, if one is shown, before another line is printed on standard error.
void eraseProgress();

int check(Streams io, QString const& file, Options const& options);
int summary(Streams io, QString const& file, Options const& options);
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
// JSON document on standard output ({"file", "ok": false, "error": {...}}). Returns 1. Every
// command reports in one form, the one compilers use, so that an editor can jump to the place:
//   FILE:LINE:COLUMN: error: TEXT   where a budget document is at fault at a known place
//   FILE: error: TEXT               otherwise
// A library error's TEXT is the XML reader's reason where there is one, then the library's
// specific message (its general sentence first, for the errors that are not the document's),
// then its cause in parentheses.
int fail(Streams io, Options const& options, QString const& file, QString const& message);
int fail(Streams io, Options const& options, QString const& file,
         storage::StorageError const& error);
// The same for a budget that does not load: its place, where the error gives none, is the
// place of the value that the load refused, looked for in the input's bytes.
int fail(Streams io, Options const& options, Input const& input,
         storage::StorageError const& error);
// Where a budget that does not load is at fault: the error's own place, or, where the load gave
// none, the place of the value it refused. Nothing where neither is known (a file that changed
// since, a fault of the whole file, an error that is not the document's).
std::optional<file_storage::DocumentPlace> placeOf(Input const& input,
                                                   storage::StorageError const& error);
// The line of an error on standard error, in the form that fail gives.
void printError(Streams io, QString const& file, storage::StorageError const& error,
                std::optional<file_storage::DocumentPlace> const& place);
// The XML reader's own reason in a budget document error ("Opening and ending tag mismatch."),
// or an empty text where the reader found nothing wrong.
QString readerReason(file_storage::BudgetFileError const& error);
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
