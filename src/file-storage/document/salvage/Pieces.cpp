#include "file-storage/document/salvage/Pieces.h"

#include "file-storage/document/BoundedDocumentDevice.h"
#include "file-storage/document/MarkupScanner.h"

#include <QObject>
#include <QStringConverter>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstring>

namespace zel::file_storage::internal::salvage {

namespace {

using format::Element;
using format::Shape;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isBlank(char const* data, qsizetype from, qsizetype to) {
    return std::all_of(data + from, data + to, [](char c) { return isBlank(c); });
}

// The name that begins at at: up to white space, '/', '>' or the end, and no longer than the
// longest tag of the format (a longer one is no tag of it).
QLatin1String nameAt(char const* data, qsizetype at, qsizetype size) {
    constexpr qsizetype longest = 32;
    auto end = at;
    while (end < size && end - at <= longest && !isBlank(data[end]) && data[end] != '/' &&
           data[end] != '>') {
        ++end;
    }
    return QLatin1String(data + at, end - at);
}

// Whether an element of the format has the tag.
bool isTagOfFormat(QLatin1String name) {
    return std::any_of(std::begin(format::elements), std::end(format::elements),
                       [&](Element const& element) { return element.tag.latin1 == name; });
}

// The next start tag of an element of the format from offset from on: where its '<' is, or the
// end of the bytes. In the format, '<' only ever begins markup (values and text escape it), so
// this finds every start tag that damage left, whatever came before it.
qsizetype nextStartTag(QByteArray const& bytes, qsizetype from) {
    auto const* data = bytes.constData();
    auto const size = bytes.size();
    for (auto at = from; at < size; ++at) {
        auto const* found = static_cast<char const*>(std::memchr(data + at, '<', size - at));
        if (found == nullptr) {
            return size;
        }
        at = found - data;
        if (isTagOfFormat(nameAt(data, at + 1, size))) {
            return at;
        }
    }
    return size;
}

// The XML declaration that the document begins with, if it does.
QByteArray declarationOf(QByteArray const& bytes) {
    if (!bytes.startsWith("<?xml")) {
        return {};
    }
    constexpr qsizetype longest = 200;
    auto const end = bytes.left(longest).indexOf("?>");
    return end > 0 ? bytes.left(end + 2) : QByteArray();
}

// Follows the markup of one piece's bytes, from its start tag up to the next piece: where its
// element ends (for a parent, its start tag), whether it stays within the bounds of the format,
// and whether only white space, end tags and comments follow it.
struct Extent : MarkupObserver {
    bool parent = false;
    bool prolog = false; // before the root, where a document type declaration may stand
    qsizetype end = -1;
    int depth = 0;
    int attributes = 0;
    bool crosses = false;
    qsizetype lastEnd = 0;
    qsizetype fault = -1;
    qsizetype openComment = -1; // a comment after the element that the bytes looked at leave open
    char const* data = nullptr;
    std::vector<qsizetype> endTags; // after the element

    qsizetype markupBegins(Markup markup, qsizetype at) {
        if (end < 0) {
            if (markup == Markup::startTag) {
                attributes = 0;
                if (++depth > BoundedDocumentDevice::deepestNesting_) {
                    crosses = true;
                    return at;
                }
            }
            return goOn;
        }
        bool const passed = markup == Markup::endTag || markup == Markup::comment ||
                            markup == Markup::instruction || (prolog && markup == Markup::doctype);
        if (!isBlank(data, lastEnd, at) || !passed) {
            fault = isBlank(data, lastEnd, at) ? at : lastEnd;
            return at;
        }
        if (markup == Markup::endTag) {
            endTags.push_back(at);
        } else if (markup == Markup::comment) {
            openComment = at;
        }
        return goOn;
    }
    qsizetype attributeValue(qsizetype at) {
        if (end < 0 && ++attributes > BoundedDocumentDevice::mostAttributes_) {
            crosses = true;
            return at;
        }
        return goOn;
    }
    qsizetype elementEnds() {
        if (end < 0) {
            --depth;
        }
        return goOn;
    }
    qsizetype markupEnds(Markup markup, qsizetype at) {
        if (end < 0 && (depth == 0 || (parent && depth == 1 && markup == Markup::startTag))) {
            end = at;
        }
        if (markup == Markup::comment) {
            openComment = -1;
        }
        lastEnd = at;
        return goOn;
    }
};

// Reads each piece on its own with one reader, cleared for each.
class PieceReader {
public:
    explicit PieceReader(Text const& text) : text_(text) {}

    // Reads element from the bytes from..to, which must hold its start tag (and, unless it is a
    // parent, the rest of it); nothing, or what was wrong.
    template <class E>
    std::optional<QString> read(E& element, qsizetype from, qsizetype to, bool parent) {
        reader_.clear();
        if (!text_.prefix.isEmpty()) {
            reader_.addData(text_.prefix);
        }
        reader_.addData(QByteArray::fromRawData(text_.bytes.constData() + from, to - from));
        try {
            if (!reader_.readNextStartElement()) {
                return readerText();
            }
            element.read(reader_);
        } catch (storage::StorageError const& error) {
            auto const reason = readerText();
            return reason ? *reason + QLatin1Char(' ') + error.secondText() : error.secondText();
        }
        if (reader_.hasError() &&
            !(parent && reader_.error() == QXmlStreamReader::PrematureEndOfDocumentError)) {
            return readerText();
        }
        return std::nullopt;
    }

private:
    std::optional<QString> readerText() const {
        if (!reader_.hasError()) {
            return std::nullopt;
        }
        return reader_.errorString().isEmpty() ? QObject::tr("The element is not whole.")
                                               : reader_.errorString();
    }

    Text const& text_;
    QXmlStreamReader reader_;
};

// Reads the pieces in document order, each with what the pieces before it tell: the open
// collection and parent.
class Reading {
public:
    explicit Reading(Text const& text) : text_(text), reader_(text) {}

    Pieces run() {
        auto const& bytes = text_.bytes;
        auto at = nextStartTag(bytes, 0);
        // Before the root: the XML declaration, if any, and white space.
        auto const prolog = std::min(at, declarationOf(bytes).size());
        if (!onlyCommentsIn(prolog, at)) {
            damage(prolog, nullptr,
                   QObject::tr("The document does not begin with its root element."));
        }
        while (at < bytes.size()) {
            at = take(at, nextStartTag(bytes, at + 1));
        }
        return std::move(pieces_);
    }

private:
    // Whether the bytes from..to hold nothing but white space and comments.
    bool onlyCommentsIn(qsizetype from, qsizetype to) const {
        Extent extent;
        extent.prolog = true;
        extent.data = text_.bytes.constData();
        extent.end = extent.lastEnd = from;
        MarkupScanner scanner;
        auto const stopped = scanner.scan<1, false>(extent.data, from, to, extent);
        return stopped == to && extent.fault < 0 && extent.endTags.empty() &&
               extent.openComment < 0 && isBlank(extent.data, extent.lastEnd, to);
    }

    void damage(qsizetype offset, Element const* element, QString reason) {
        pieces_.damages.push_back({offset, element, std::move(reason)});
        // What follows a damage may belong to any parent.
        parent_ = nullptr;
        ++run_;
    }

    // The element of the format that the start tag at offset begins, as far as what was read
    // before it tells.
    Element const* formAt(qsizetype offset) const {
        auto const name = nameAt(text_.bytes.constData(), offset + 1, text_.bytes.size());
        Element const* found = nullptr;
        for (auto const& element : format::elements) {
            if (element.tag.latin1 != name) {
                continue;
            }
            // A tag of two elements: the one under the open parent or collection.
            if (found == nullptr ||
                (parent_ != nullptr && format::sameName(element.parent, parent_->tag)) ||
                (parent_ == nullptr && collection_ != nullptr &&
                 format::sameName(element.parent, collection_->tag))) {
                found = &element;
            }
        }
        return found;
    }

    // The piece whose start tag is at from, up to the next one at to. Returns where the next
    // piece begins: to, or past what the piece holds or a comment after it hides.
    qsizetype take(qsizetype from, qsizetype to) {
        auto const* form = formAt(from);
        bool const parent = form->shape == Shape::root || form->shape == Shape::collection ||
                            form->shape == Shape::ledger || form->shape == Shape::bank ||
                            form->shape == Shape::reconciliation;
        Extent extent;
        extent.parent = parent;
        extent.data = text_.bytes.constData();
        MarkupScanner scanner;
        auto stopped = scanner.scan<1, false>(extent.data, from, to, extent);
        if (!parent && extent.end < 0 && !extent.crosses) {
            extend(from, to, extent, stopped);
        }
        if (extent.crosses) {
            damage(from, form, QObject::tr("The element crosses the bounds of the format."));
            return to;
        }
        auto const end = extent.end < 0 ? to : extent.end;
        if (!read(*form, from, end, parent, extent.end >= 0)) {
            return to;
        }
        if (extent.fault >= 0 || (extent.openComment < 0 && stopped < to) ||
            (extent.openComment < 0 &&
             !isBlank(extent.data, std::max(extent.lastEnd, extent.end), to))) {
            auto const fault = extent.fault >= 0 ? extent.fault : std::max(extent.lastEnd, end);
            damage(fault, nullptr,
                   QObject::tr("Text or markup that is no element of the format stands between "
                               "the elements."));
            return to;
        }
        if (!extent.endTags.empty()) {
            ++run_;
        }
        for (auto const endTag : extent.endTags) {
            auto const name = nameAt(extent.data, endTag + 2, to);
            if (parent_ != nullptr && name == parent_->tag.latin1) {
                parent_ = nullptr;
            } else if (collection_ != nullptr && name == collection_->tag.latin1) {
                parent_ = nullptr;
                collection_ = nullptr;
            }
        }
        // A comment left open before the next start tag holds it: what looks like an element
        // there was put out of the document by hand.
        if (extent.openComment >= 0) {
            auto const close = text_.bytes.indexOf("-->", std::max(to, extent.openComment + 4));
            return close < 0 ? text_.bytes.size() : nextStartTag(text_.bytes, close + 3);
        }
        return to;
    }

    // A leaf that does not end before the next start tag may hold elements of the format's tags
    // (content that a reader skips): it is followed over a few more start tags, and taken with
    // them where the reader then reads it whole. Otherwise extent and to are left as they were,
    // for a leaf that damage cut.
    void extend(qsizetype from, qsizetype& to, Extent& extent, qsizetype& stopped) {
        constexpr int furthest = 8;
        Extent longer;
        longer.data = extent.data;
        MarkupScanner scanner;
        auto reach = to;
        auto scanned = scanner.scan<1, false>(longer.data, from, reach, longer);
        for (int tags = 0; tags < furthest && longer.end < 0 && !longer.crosses &&
                           longer.fault < 0 && reach < text_.bytes.size();
             ++tags) {
            reach = nextStartTag(text_.bytes, reach + 1);
            scanned = scanner.scan<1, false>(longer.data, scanned, reach, longer);
        }
        if (longer.end < 0 || longer.crosses) {
            return;
        }
        QXmlStreamReader reader;
        if (!text_.prefix.isEmpty()) {
            reader.addData(text_.prefix);
        }
        reader.addData(QByteArray::fromRawData(longer.data + from, longer.end - from));
        reader.readNextStartElement();
        reader.skipCurrentElement();
        if (reader.hasError()) {
            return;
        }
        extent = std::move(longer);
        to = reach;
        stopped = scanned;
    }

    // Reads the piece of the element form, which ends before to when it ended at all; whether
    // it read whole.
    bool read(Element const& form, qsizetype from, qsizetype to, bool parent, bool ended) {
        auto const readInto = [&](auto& element) {
            if (auto const fault = reader_.read(element, from, to, parent)) {
                damage(from, &form, *fault);
                return false;
            }
            if (!ended) {
                damage(from, &form, QObject::tr("The element does not end before the next one."));
                return false;
            }
            return true;
        };
        switch (form.shape) {
        case Shape::root: {
            ApplicationElement root;
            collection_ = nullptr;
            parent_ = nullptr;
            return readInto(root);
        }
        case Shape::collection:
            collection_ = &form;
            parent_ = nullptr;
            if (&form == &LedgersElement::form_) {
                LedgersElement ledgers;
                if (!readInto(ledgers)) {
                    return false;
                }
                if (ledgers.openingAccountNumber) {
                    pieces_.openingAccount = *ledgers.openingAccountNumber;
                }
            }
            return true;
        case Shape::item: {
            ItemElement item(kindOf(form));
            return readInto(item) && (pieces_.items.push_back({std::move(item), from}), true);
        }
        case Shape::account: {
            AccountElement account;
            return readInto(account) &&
                   (pieces_.accounts.push_back({std::move(account), from}), true);
        }
        case Shape::ledger: {
            LedgerElement ledger;
            if (!readInto(ledger)) {
                return false;
            }
            parent_ = &form;
            ledger_ = ledger.identifier;
            ++run_;
            return true;
        }
        case Shape::transaction: {
            TransactionElement transaction;
            if (!readInto(transaction)) {
                return false;
            }
            auto const ledger = parent_ == &LedgerElement::form_ ? ledger_ : 0;
            pieces_.transactions.push_back({ledger, {std::move(transaction), from}, run_});
            return true;
        }
        case Shape::bank:
            return readParent(readInto, pieces_.banks, form, from);
        case Shape::reconciliation:
            return readParent(readInto, pieces_.reconciliations, form, from);
        case Shape::bankAccount:
            return readChild(readInto, pieces_.banks, BankElement::form_, pieces_.strayBankAccounts,
                             &BankElement::accounts, from);
        case Shape::distribution:
            return readChild(readInto, pieces_.reconciliations, ReconciliationElement::form_,
                             pieces_.strayDistributions, &ReconciliationElement::distributions,
                             from);
        }
        return false;
    }

    template <class ReadInto, class Parent>
    bool readParent(ReadInto const& readInto, std::vector<Piece<Parent>>& parents,
                    Element const& form, qsizetype from) {
        Parent element;
        if (!readInto(element)) {
            return false;
        }
        parents.push_back({std::move(element), from});
        parent_ = &form;
        return true;
    }

    // A child goes into the open parent of its kind, or among the strays.
    template <class ReadInto, class Parent, class Child>
    bool readChild(ReadInto const& readInto, std::vector<Piece<Parent>>& parents,
                   Element const& parentForm, std::vector<Piece<Child>>& strays,
                   std::vector<Child> Parent::*children, qsizetype from) {
        Child child;
        if (!readInto(child)) {
            return false;
        }
        if (parent_ == &parentForm && !parents.empty()) {
            (parents.back().element.*children).push_back(std::move(child));
        } else {
            strays.push_back({std::move(child), from});
        }
        return true;
    }

    static ItemKind kindOf(Element const& form) {
        for (auto const kind : itemKinds) {
            if (&formOf(kind).element == &form) {
                return kind;
            }
        }
        Q_UNREACHABLE();
    }

    Text const& text_;
    PieceReader reader_;
    Pieces pieces_;
    Element const* collection_ = nullptr;
    Element const* parent_ = nullptr;
    quint32 ledger_ = 0;
    std::size_t run_ = 0;
};

} // namespace

Text textOf(QByteArray const& document) {
    // A document that begins with a byte order mark, or with '<' in two or four bytes, is in
    // UTF-16 or UTF-32: read as UTF-8, whose declaration then no longer holds.
    auto encoding = QStringConverter::encodingForData(document, '<');
    if (encoding && *encoding != QStringConverter::Utf8) {
        QStringDecoder decode(*encoding);
        QString const text = decode(document);
        return {text.toUtf8(), {}, true};
    }
    auto bytes = document;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    auto const declaration = declarationOf(bytes);
    // A one-byte encoding is read in the encoding the declaration names; a declaration of
    // UTF-8, or none, leaves it UTF-8.
    bool const utf8 = declaration.isEmpty() || declaration.contains("UTF-8") ||
                      declaration.contains("utf-8") || !declaration.contains("encoding");
    return {bytes, declaration, utf8};
}

Pieces readPieces(Text const& text) {
    return Reading(text).run();
}

Pieces piecesOf(BudgetDocumentElements& elements) {
    Pieces pieces;
    pieces.openingAccount =
        elements.get<LedgersElement>().openingAccountNumber
            ? std::optional<quint32>(*elements.get<LedgersElement>().openingAccountNumber)
            : std::nullopt;
    for (auto const kind : itemKinds) {
        for (auto& item : elements.items(kind)) {
            pieces.items.push_back({std::move(item), fromBackUp});
        }
    }
    for (auto& account : elements.get<AccountsElement>().accounts) {
        pieces.accounts.push_back({std::move(account), fromBackUp});
    }
    for (auto& ledger : elements.get<LedgersElement>().ledgers) {
        for (auto& transaction : ledger.transactions) {
            pieces.transactions.push_back(
                {ledger.identifier, {std::move(transaction), fromBackUp}});
        }
    }
    for (auto& bank : elements.get<BanksElement>().banks) {
        pieces.banks.push_back({std::move(bank), fromBackUp});
    }
    for (auto& reconciliation : elements.get<ReconciliationsElement>().reconciliations) {
        pieces.reconciliations.push_back({std::move(reconciliation), fromBackUp});
    }
    return pieces;
}

} // namespace zel::file_storage::internal::salvage
