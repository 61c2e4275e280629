#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

// What loading a budget document accepts without a word but drops, changes or holds
// inconsistently: the warnings of `budget-file check`.
namespace zel::tool {

// A place in a document: line and column, both counted from 1; the column counts characters.
struct Position {
    qint64 line = 0;
    qint64 column = 0;
};

struct Warning {
    Position position; // where the element, attribute's element, text or comment begins
    QString kind;      // a fixed word for scripts, such as "duplicate-account"
    QString text;      // what the load does with it, for people
};

struct Lint {
    std::vector<Warning> warnings; // in document order
    // Empty when the whole document was read; otherwise the XML reader's error, and the
    // warnings stop there.
    QString failure;
};

// The warnings about the budget document in bytes, read in one pass, in time and memory linear
// in its size.
//
// Meant for a document that loads: it reports what the load lets through, not what the load
// refuses, and takes every value the load checks as checked. Other bytes are safe to give it
// (a file changed between its load and this scan, say): it never fails on them, and stops at
// the first XML error, or where the document crosses the bounds of the format, which it gives
// as the failure.
//
// Positions are where the element's start tag, the text or the comment begins. Where the bytes
// cannot be followed character by character (a UTF-16 document, one with a document type
// declaration), they are where the XML reader stood after it instead.
Lint lintBudgetDocument(QByteArray const& bytes);

} // namespace zel::tool
