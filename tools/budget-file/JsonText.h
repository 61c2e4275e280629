#pragma once

#include "money/Currency.h"

#include <QByteArray>
#include <QString>

#include <optional>

// JSON written straight into UTF-8 bytes, for documents too large to build as a tree first:
// members keep the order in which they are written, and every record takes one line.
namespace zel::tool {

// Appends text as a JSON string: quoted, with quotes, backslashes and control characters
// escaped.
void appendJsonString(QByteArray& out, QString const& text);

// Opens a member of an object that takes a line per member, its name indented by indent: the
// caller writes the object's "{" before the first member, and its "\n}" after the last.
QByteArray& appendMember(QByteArray& out, int indent, char const* name, bool first = false);

// One object on one line: "{" when made, "}" at end().
class JsonObject {
public:
    explicit JsonObject(QByteArray& out) : out_(out) { out_ += '{'; }

    // The member's name and colon; the caller appends its value. Names are plain ASCII and
    // are written as they are.
    QByteArray& key(char const* name);
    JsonObject& raw(char const* name, QByteArray const& json);
    JsonObject& text(char const* name, QString const& value);
    JsonObject& text(char const* name, std::optional<QString> const& value); // null: none
    JsonObject& integer(char const* name, qint64 value);
    JsonObject& integer(char const* name, std::optional<unsigned> value); // null: none
    JsonObject& boolean(char const* name, bool value);
    // {"major": 12, "minor": 50, "currency": "USD"}: the stored parts, exactly.
    JsonObject& money(char const* name, orvalis::currency::Money const& value);
    void end() { out_ += '}'; }

private:
    QByteArray& out_;
    bool first_ = true;
};

// An array: "[" when made, then each item after next(), "]" at end(). With an indent, every
// item takes a line of its own, indented by indent + 2 spaces, and the "]" one at indent;
// without, the items follow each other on one line.
class JsonArray {
public:
    explicit JsonArray(QByteArray& out, std::optional<int> indent = std::nullopt)
        : out_(out), indent_(indent) {
        out_ += '[';
    }
    QByteArray& next();
    void end();

private:
    QByteArray& out_;
    std::optional<int> indent_;
    bool first_ = true;
};

} // namespace zel::tool
