#pragma once

// Helpers for the tests that write and load whole budget documents.

#include "file-storage/Errors.h"
#include "file-storage/internal/BudgetDocument.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

// Failed comparisons of texts show the texts.
inline void PrintTo(QString const& text, std::ostream* out) {
    *out << text.toStdString();
}

namespace zel::testing::documents {

// Loads a document as the budget file does: from a device open for reading as text.
inline storage::BudgetState load(QByteArray document) {
    QBuffer buffer(&document);
    buffer.open(QIODevice::ReadOnly | QIODevice::Text);
    return file_storage::internal::loadBudgetDocument(buffer);
}

// What the writer writes for state.
inline QByteArray write(storage::BudgetState const& state, bool autoFormat = false) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly | QIODevice::Text);
    file_storage::internal::storeBudgetDocument(budget, ledger, banks, types, items, surveys,
                                                &buffer, autoFormat);
    return buffer.data();
}

// A document of the given revision, one element a line: the XML declaration on line 1, the
// root's start tag on line 2, the body from line 3 on, then the root's end tag.
inline QByteArray document(int revision, QByteArray const& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KelvoraMindrath revision=\"" +
           QByteArray::number(revision) + "\">\n" + body + "</KelvoraMindrath>\n";
}

// The general sentence of a budget file error, written out here rather than taken from the
// error type, so that the tests check its format too.
inline QString fileSentence(QString const& errorText, qint64 line, qint64 column) {
    return QStringLiteral("The budget file is not valid. ") +
           (errorText.isEmpty() ? QString() : QStringLiteral(" ") + errorText) +
           QStringLiteral(" Error appears at line %1, column %2.").arg(line).arg(column);
}

// A document in which the test's author marked with '@' where the reader stands when it finds
// the fault: the document without the mark, and the line and column just after the tokens
// before the mark (both 0 without a mark). The marked line must be ASCII.
struct MarkedDocument {
    QByteArray document;
    qint64 line = 0;
    qint64 column = 0;
};

inline MarkedDocument unmark(QByteArray const& marked) {
    MarkedDocument result{marked, 0, 0};
    auto const at = marked.indexOf('@');
    if (at < 0) {
        return result;
    }
    result.document.remove(at, 1);
    auto const before = marked.left(at);
    result.line = before.count('\n') + 1;
    result.column = at - (before.lastIndexOf('\n') + 1);
    return result;
}

// What the failing call's exception says, to compare a cause with: the description that an
// error keeps of its cause.
inline std::string whatOf(std::function<void()> const& failing) {
    try {
        failing();
    } catch (std::exception const& error) {
        return error.what();
    }
    return "(did not throw)";
}

enum class Cause {
    none,       // a default std::exception
    lookup,     // the standard library's failed lookup
    conversion, // what the failing conversion of the row says
};

// A document that fails to load, and how: the error's type, its texts, and its cause.
struct LoadFailure {
    char const* name;
    QByteArray document; // '@' marks where the reader stands; no mark: line 0, column 0
    bool attributeError;
    QString errorText; // the reader's or the device's
    QString message;
    Cause cause = Cause::none;
    std::function<void()> conversion = {};
};

inline void PrintTo(LoadFailure const& failure, std::ostream* out) {
    *out << failure.name;
}

// A BudgetFileError with no cause of its own, and the reader's error text if any.
inline LoadFailure refused(char const* name, QByteArray const& document, QString const& message,
                           QString const& errorText = {}) {
    return {name, document, false, errorText, message};
}

// A BudgetFileError caused by a failed lookup of the standard library.
inline LoadFailure notFound(char const* name, QByteArray const& document, QString const& message) {
    return {name, document, false, {}, message, Cause::lookup};
}

// A BudgetFileError caused by the failing conversion.
inline LoadFailure malformed(char const* name, QByteArray const& document, QString const& message,
                             std::function<void()> conversion) {
    return {name, document, false, {}, message, Cause::conversion, std::move(conversion)};
}

// Loads each document and expects the failure described; the test is in
// LoadBudgetDocumentTest.cpp, and each file instantiates its own documents.
class LoadFailures : public ::testing::TestWithParam<LoadFailure> {};

inline std::string caseName(::testing::TestParamInfo<LoadFailure> const& info) {
    return info.param.name;
}

} // namespace zel::testing::documents
