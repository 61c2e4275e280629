#pragma once

// Helpers for the tests of the budget document's elements: readers over in-memory documents,
// the bytes an element writes, and the texts an error is expected to carry, built from the
// fixed sentences rather than by the error classes.

#include "file-storage/Errors.h"
#include "support/LogCapture.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <typeinfo>
#include <utility>
#include <vector>

// Lets GoogleTest show QStrings in failure messages.
inline void PrintTo(QString const& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace zel::testing {

// A reader over document, standing on its first start element.
inline std::unique_ptr<QXmlStreamReader> readerOnFirstElement(QByteArray const& document) {
    auto reader = std::make_unique<QXmlStreamReader>(document);
    reader->readNextStartElement();
    return reader;
}

// The element read from the first start element of document.
template <class Element> Element readElement(QByteArray const& document) {
    auto const reader = readerOnFirstElement(document);
    Element element;
    element.read(*reader);
    return element;
}

// What element writes: UTF-8, with no declaration and no indentation.
template <class Element> QByteArray writtenBytes(Element const& element) {
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    element.write(writer);
    return bytes;
}

template <class Element> void readAs(QXmlStreamReader& reader) {
    Element element;
    element.read(reader);
}

// Reads document as an Element, which must stop without error on the start tag of its first
// child tagged foreign, and gives what it read.
template <class Element> Element readUntilForeign(QByteArray const& document, char const* foreign) {
    auto const reader = readerOnFirstElement(document);
    Element element;
    element.read(*reader);
    EXPECT_FALSE(reader->hasError()) << reader->errorString().toStdString();
    EXPECT_TRUE(reader->isStartElement());
    EXPECT_EQ(reader->name(), QLatin1String(foreign));
    return element;
}

// Writes element and compares with the document written by hand, reads that back and compares
// the values (with the test's own operator==), then writes what was read and compares the bytes
// again.
template <class Element> void expectRoundTrip(Element const& element, QByteArray const& expected) {
    auto const written = writtenBytes(element);
    EXPECT_EQ(QString::fromUtf8(written), QString::fromUtf8(expected));
    auto const reader = readerOnFirstElement(written);
    Element back;
    back.read(*reader);
    EXPECT_FALSE(reader->hasError()) << reader->errorString().toStdString();
    EXPECT_TRUE(reader->isEndElement());
    EXPECT_EQ(reader->name(), Element::tag_);
    EXPECT_TRUE(back == element);
    EXPECT_EQ(QString::fromUtf8(writtenBytes(back)), QString::fromUtf8(written));
}

// Expects writing element to log exactly a "Writing Element" record for each tag of writes, and
// reading what was written exactly a "Reading Element" record for each tag of reads, at debug
// level.
template <class Element>
void expectLogs(Element const& element, std::vector<char const*> const& writes,
                std::vector<char const*> const& reads) {
    auto const records = [](char const* verb, std::vector<char const*> const& tags) {
        std::vector<QString> texts;
        for (auto const* tag : tags) {
            texts.push_back(QStringLiteral("%1 Element: \"%2\"").arg(verb, tag));
        }
        return texts;
    };
    QByteArray document;
    {
        LogCapture log;
        document = writtenBytes(element);
        EXPECT_EQ(log.records().size(), writes.size());
        EXPECT_EQ(log.texts(QtDebugMsg), records("Writing", writes));
    }
    LogCapture log;
    readElement<Element>(document);
    EXPECT_EQ(log.records().size(), reads.size());
    EXPECT_EQ(log.texts(QtDebugMsg), records("Reading", reads));
}

// The codecs' messages.
namespace messages {
inline QString const notNumber = QStringLiteral("The attribute value must be a number.");
inline QString const tooLarge =
    QStringLiteral("The attribute value is too large to store in the destination object.");
inline QString const tooLow =
    QStringLiteral("The attribute value is too low to store in the destination object.");
inline QString const notBoolean = QStringLiteral("The attribute value must 'true' or 'false'.");
inline QString const required =
    QStringLiteral("The attribute value must not be empty when required.");
} // namespace messages

// The first text of a BudgetFileError at a reader position; the reader's own error text, if
// any, stands after two spaces.
inline QString generalText(qint64 line, qint64 column, QString const& readerText = QString()) {
    return QStringLiteral("The budget file is not valid. %1 Error appears at line %2, column %3.")
        .arg(readerText.isEmpty() ? QString() : QStringLiteral(" ") + readerText)
        .arg(line)
        .arg(column);
}

// The second text of an AttributeError.
inline QString attributeText(QString const& tag, QString const& attribute, QString const& message) {
    return QStringLiteral("The element tag '") + tag + QStringLiteral("' attribute '") + attribute +
           QStringLiteral("' is not valid. ") + message;
}

struct ExpectedError {
    QString firstText;
    QString secondText;
};

// Expects action to throw exactly Error (not a type derived from it) with the two texts.
template <class Error, class Action>
void expectError(Action&& action, ExpectedError const& expected) {
    try {
        action();
        ADD_FAILURE() << "nothing was thrown; expected " << expected.secondText.toStdString();
    } catch (Error const& error) {
        EXPECT_EQ(typeid(error), typeid(Error)) << "thrown: " << typeid(error).name();
        EXPECT_EQ(error.firstText(), expected.firstText);
        EXPECT_EQ(error.secondText(), expected.secondText);
    }
}

// An AttributeError naming tag and attribute, at the given reader position.
template <class Action>
void expectAttributeError(Action&& action, QString const& tag, QString const& attribute,
                          QString const& message, qint64 line, qint64 column) {
    expectError<file_storage::AttributeError>(
        action, {generalText(line, column), attributeText(tag, attribute, message)});
}

// A fault found while reading, at the given reader position: a BudgetFileError of the element
// itself when attribute is empty, else an AttributeError naming tag and attribute.
template <class Action>
void expectReadError(Action&& action, QString const& tag, QString const& attribute,
                     QString const& message, qint64 line, qint64 column) {
    if (attribute.isEmpty()) {
        expectError<file_storage::BudgetFileError>(action, {generalText(line, column), message});
    } else {
        expectAttributeError(action, tag, attribute, message, line, column);
    }
}

// The reader's position once it has read the first occurrence of text in document (which must
// be ASCII): the line, and the column just after the text.
inline std::pair<qint64, qint64> positionAfter(QByteArray const& document, QByteArray const& text) {
    auto const end = document.indexOf(text) + text.size();
    auto const lineStart = document.lastIndexOf('\n', end - 1) + 1;
    return {document.left(end).count('\n') + 1, end - lineStart};
}

// Expects read, on a reader standing on the first element of document, to fail just after the
// first occurrence of failing in document: with an AttributeError of the first tag of failing
// (up to its first blank), or with no attribute given, a BudgetFileError of the element.
template <class Read>
void expectFaultAfter(Read read, QByteArray const& document, QByteArray const& failing,
                      QString const& attribute, QString const& message) {
    auto const reader = readerOnFirstElement(document);
    auto const [line, column] = positionAfter(document, failing);
    auto const tag = QString::fromUtf8(failing.mid(1, failing.indexOf(' ') - 1));
    expectReadError([&] { read(*reader); }, tag, attribute, message, line, column);
}

// A document whose read fails, with the text after which the reader stands when it finds the
// fault, and the error expected as expectFaultAfter describes it. The test is in
// ElementFrameworkTest.cpp; each element's tests instantiate their own faults.
struct ReadFault {
    char const* name;
    void (*read)(QXmlStreamReader&);
    QByteArray document;
    QByteArray failing;
    QString attribute; // empty: a BudgetFileError of the element itself
    QString message;
};

class ReadFaults : public ::testing::TestWithParam<ReadFault> {};

inline std::string faultName(::testing::TestParamInfo<ReadFault> const& info) {
    return info.param.name;
}

// A BudgetFileError that no reader position applies to.
template <class Action> void expectValueError(Action&& action, QString const& message) {
    expectError<file_storage::BudgetFileError>(action, {generalText(0, 0), message});
}

} // namespace zel::testing
