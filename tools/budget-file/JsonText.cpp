#include "JsonText.h"

#include "Tool.h"

namespace zel::tool {

void appendJsonString(QByteArray& out, QString const& text) {
    auto const bytes = text.toUtf8();
    out += '"';
    for (char const c : bytes) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            // The bytes of characters beyond ASCII are all 0x80 or above: kept as they are.
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += "0123456789abcdef"[(c >> 4) & 0xf];
                out += "0123456789abcdef"[c & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

QByteArray& appendMember(QByteArray& out, int indent, char const* name, bool first) {
    out += first ? "\n" : ",\n";
    out += QByteArray(indent, ' ');
    out += '"';
    out += name;
    return out += "\": ";
}

QByteArray& JsonObject::key(char const* name) {
    if (!first_) {
        out_ += ", ";
    }
    first_ = false;
    out_ += '"';
    out_ += name;
    return out_ += "\": ";
}

JsonObject& JsonObject::raw(char const* name, QByteArray const& json) {
    key(name) += json;
    return *this;
}

JsonObject& JsonObject::text(char const* name, QString const& value) {
    appendJsonString(key(name), value);
    return *this;
}

JsonObject& JsonObject::text(char const* name, std::optional<QString> const& value) {
    return value ? text(name, *value) : raw(name, "null");
}

JsonObject& JsonObject::integer(char const* name, qint64 value) {
    return raw(name, QByteArray::number(value));
}

JsonObject& JsonObject::integer(char const* name, std::optional<unsigned> value) {
    return value ? integer(name, qint64{*value}) : raw(name, "null");
}

JsonObject& JsonObject::boolean(char const* name, bool value) {
    return raw(name, value ? "true" : "false");
}

JsonObject& JsonObject::money(char const* name, orvalis::currency::Money const& value) {
    key(name) += "{\"major\": ";
    out_ += QByteArray::number(value.major());
    out_ += ", \"minor\": ";
    out_ += QByteArray::number(value.minor());
    out_ += ", \"currency\": ";
    appendJsonString(out_, codeText(value.code()));
    out_ += '}';
    return *this;
}

QByteArray& JsonArray::next() {
    if (!first_) {
        out_ += ',';
    }
    if (indent_) {
        out_ += '\n';
        out_ += QByteArray(*indent_ + 2, ' ');
    } else if (!first_) {
        out_ += ' ';
    }
    first_ = false;
    return out_;
}

void JsonArray::end() {
    if (indent_ && !first_) {
        out_ += '\n';
        out_ += QByteArray(*indent_, ' ');
    }
    out_ += ']';
}

} // namespace zel::tool
