#pragma once

#include "file-storage/common/ErrorForms.h"
#include "file-storage/document/AttributeCodecs.h"
#include "file-storage/document/BasicElement.h"
#include "file-storage/document/DocumentFormat.h"
#include "foundation/Optional.h"

#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <concepts>
#include <cstddef>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

// How every element but the root reads and writes itself: through its element in the format's
// table (format::elements), which lists its attributes with their codecs, whether a load needs
// them, the order in which a load reads them and, by their own order, the order in which a store
// writes them. Nothing here spells an attribute's name, codec or place.
//
// An element class derives from LeafElement or ParentElement, naming itself and its base, and
// gives:
// - form_, its element in the table (or form(), where the element is chosen at run time);
// - fields(), the members that hold its attributes: a tuple of pointers to them, one for each
//   attribute of its element, in the table's order, each of the type that the attribute's codec
//   reads (an Optional of it for an optional attribute that has no value of its own). A class
//   whose fields do not match its element's attributes does not compile. Where the members are
//   chosen at run time, withFields(f) calls f with them instead.
// - invalidIdentifier(), when an attribute of its element is an identifier: the text of the
//   error for an identifier of 0.
// The reading and writing of each element follow the format's protocol: read() logs "Reading
// Element:", checks the start tag (unless checksStart_ is false), reads the attributes, then the
// contents; write() logs "Writing Element:" (where logsWriting_ is true), writes the start tag,
// the attributes, the contents and the end tag.
namespace zel::file_storage::internal {

namespace binding {

// The value that a member of type T holds, and whether T may hold none.
template <class T> struct Value {
    using type = T;
    static constexpr bool optional = false;
};
template <class T> struct Value<foundation::Optional<T>> {
    using type = T;
    static constexpr bool optional = true;
};

template <class Pointer> struct Member;
template <class Class, class T> struct Member<T Class::*> { using type = T; };

// Whether a member of type T holds what codec reads, as presence allows.
template <class T> constexpr bool holds(format::Attribute const& attribute) {
    using V = typename Value<T>::type;
    if (Value<T>::optional && attribute.presence != format::Presence::optional) {
        return false;
    }
    // The type that each codec reads.
    std::pair<format::Codec, bool> const reads[]{
        {format::Codec::integer, std::is_same_v<V, qint64>},
        {format::Codec::minorUnits, std::is_same_v<V, quint16>},
        {format::Codec::unsigned8, std::is_same_v<V, quint8>},
        {format::Codec::unsigned32, std::is_same_v<V, quint32>},
        {format::Codec::identifier, std::is_same_v<V, quint32>},
        {format::Codec::real, std::is_same_v<V, double>},
        {format::Codec::boolean, std::is_same_v<V, bool>},
        {format::Codec::text, std::is_same_v<V, QString>},
        {format::Codec::date, std::is_same_v<V, QDate>},
    };
    for (auto const& [codec, same] : reads) {
        if (codec == attribute.codec) {
            return same;
        }
    }
    return false;
}

template <class Fields, std::size_t... I>
constexpr bool binds(std::span<format::Attribute const> attributes, std::index_sequence<I...>) {
    return attributes.size() == sizeof...(I) &&
           (holds<typename Member<std::tuple_element_t<I, Fields>>::type>(attributes[I]) && ...);
}

} // namespace binding

// Whether the members of Fields, a tuple of member pointers, hold the attributes one for one.
template <class Fields>
constexpr bool bindsAttributes(std::span<format::Attribute const> attributes) {
    return binding::binds<Fields>(attributes,
                                  std::make_index_sequence<std::tuple_size_v<Fields>>{});
}

// Whether an element refuses an identifier of 0 with a text of its own.
template <class Self>
concept NamesIdentifiers = requires(Self const& self) {
    { self.invalidIdentifier() } -> std::same_as<QString>;
};

constexpr bool holdsIdentifiers(std::span<format::Attribute const> attributes) {
    for (auto const& attribute : attributes) {
        if (attribute.codec == format::Codec::identifier) {
            return true;
        }
    }
    return false;
}

// Reads the attribute into member: an optional attribute only when the element carries it, an
// identifier refused when 0.
template <class Self, class T>
void readAttribute(QXmlStreamReader& reader, format::Attribute const& attribute, Self const& self,
                   T& member) {
    if (attribute.presence == format::Presence::optional && !hasAttribute(reader, attribute.name)) {
        return;
    }
    using Value = typename binding::Value<T>::type;
    auto value = readValue<Value>(reader, attribute.name);
    if constexpr (std::is_same_v<Value, quint32> && NamesIdentifiers<Self>) {
        if (attribute.codec == format::Codec::identifier && value == 0) {
            throw readerError(reader, self.invalidIdentifier());
        }
    }
    member = std::move(value);
}

// What every element of the table shares; see the top of this file.
template <class Self, class Base> struct TableElement : Base {
    using Base::Base;

    QLatin1String const& tagName() const override { return self().form().tag.latin1; }

    static constexpr bool logsWriting_ = false;
    static constexpr bool checksStart_ = true;

    static format::Element const& form() { return Self::form_; }
    static constexpr auto fields() { return std::tuple<>(); }
    template <class F> decltype(auto) withFields(F&& f) const { return f(Self::fields()); }

protected:
    Self& self() { return static_cast<Self&>(*this); }
    Self const& self() const { return static_cast<Self const&>(*this); }

    void readStart(QXmlStreamReader& reader) {
        if constexpr (Self::checksStart_) {
            beginRead(reader, tagName());
        }
        auto const& attributes = self().form().attributes;
        self().withFields([&](auto const& fields) {
            checkBinding<std::remove_cvref_t<decltype(fields)>>();
            for (std::size_t place = 0; place < attributes.size(); ++place) {
                auto const index = format::readAt(attributes, place);
                withMember(fields, index, [&](auto member) {
                    readAttribute(reader, attributes[index], self(), self().*member);
                });
            }
        });
    }

    void writeStart(QXmlStreamWriter& writer) const {
        auto const& tag = self().form().tag;
        if constexpr (Self::logsWriting_) {
            logWriting(tag);
        }
        startElement(writer, tag);
        self().withFields([&](auto const& fields) {
            writeAttributes(writer, fields,
                            std::make_index_sequence<
                                std::tuple_size_v<std::remove_cvref_t<decltype(fields)>>>{});
        });
    }

private:
    template <class Fields> static constexpr void checkBinding() {
        if constexpr (requires { Self::form_; }) {
            static_assert(bindsAttributes<Fields>(Self::form_.attributes),
                          "the fields do not hold the attributes of the element in the format");
            static_assert(NamesIdentifiers<Self> || !holdsIdentifiers(Self::form_.attributes),
                          "an element with an identifier says how it refuses 0");
        }
    }

    // Calls f with the member at index of fields.
    template <class Fields, class F>
    static void withMember(Fields const& fields, std::size_t index, F&& f) {
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (void)((I == index && (f(std::get<I>(fields)), true)) || ...);
        }
        (std::make_index_sequence<std::tuple_size_v<Fields>>{});
    }

    template <class Fields, std::size_t... I>
    void writeAttributes(QXmlStreamWriter& writer, Fields const& fields,
                         std::index_sequence<I...>) const {
        auto const& form = self().form();
        (writeValue(writer, form.tag.latin1, form.attributes[I].name, self().*std::get<I>(fields)),
         ...);
    }
};

// An element without children. Its contents are skipped when read, and none are written, unless
// Self gives readContent and writeContent of its own.
template <class Self, class Base = BasicElement> struct LeafElement : TableElement<Self, Base> {
    using TableElement<Self, Base>::TableElement;

    void read(QXmlStreamReader& reader) override {
        this->readStart(reader);
        this->self().readContent(reader);
    }
    void write(QXmlStreamWriter& writer) const override {
        this->writeStart(writer);
        this->self().writeContent(writer);
        writer.writeEndElement();
    }

    static void readContent(QXmlStreamReader& reader) { reader.skipCurrentElement(); }
    static void writeContent(QXmlStreamWriter&) {}
};

// An element that holds any number of one kind of child, Child, in document order: every
// collection, and the ledger, the bank and the reconciliation. A collection holds exactly one
// public member, the vector of its children; any other element names its vector in children_.
// A child is made as Child(ChildArguments...) before it is read.
//
// read() stops, without error, at the first child of another tag and leaves the reader on its
// start tag; an XML error also just ends it (the caller checks the reader). An element without
// children is written as an empty element.
template <class Self, class Child, class Base = BasicElement, auto... ChildArguments>
struct ParentElement : TableElement<Self, Base> {
    using TableElement<Self, Base>::TableElement;

    void read(QXmlStreamReader& reader) override {
        this->readStart(reader);
        this->self().attributesRead(reader);
        auto& all = children(this->self());
        while (reader.readNextStartElement()) {
            Child child(ChildArguments...);
            if (reader.name() != child.tagName()) {
                return;
            }
            child.read(reader);
            all.push_back(std::move(child));
        }
    }
    void write(QXmlStreamWriter& writer) const override {
        this->writeStart(writer);
        for (auto const& child : children(this->self())) {
            child.write(writer);
        }
        writer.writeEndElement();
    }

    // Called once the attributes are read, before the children.
    static void attributesRead(QXmlStreamReader&) {}

private:
    template <class Element> static auto& children(Element& element) {
        if constexpr (requires { Self::children_; }) {
            return element.*Self::children_;
        } else {
            auto& [all] = element;
            return all;
        }
    }
};

} // namespace zel::file_storage::internal
