#include "file-storage/BudgetDocumentInspection.h"

#include "file-storage/document/BoundedDocumentDevice.h"
#include "file-storage/document/BudgetDocument.h"
#include "file-storage/document/DocumentFormat.h"

#include <QBuffer>
#include <QDate>
#include <QHash>
#include <QStringList>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>

namespace zel::file_storage {

namespace {

using internal::ConversionPlace;
using internal::format::Codec;
using internal::format::Element;
using internal::format::Shape;
namespace attributes = internal::names::attributes;
using Position = DocumentPlace;

// ---- Where markup begins ------------------------------------------------------------------

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Follows the document's bytes along with the reader, to say where each start tag, comment,
// instruction and text begins. The reader itself only knows where it stands after a token, and
// that not always: it reads a character ahead after text, and passes the white space outside
// the root without a token.
//
// Every start tag, comment and instruction the reader reports must be asked for, in order,
// and every run of text (text() also passes the end tags before it); the rest is passed over.
class Locator {
public:
    explicit Locator(QByteArray const& bytes) : data_(bytes.constData()), size_(bytes.size()) {
        auto const byte = [&](qsizetype i) { return i < size_ ? uchar(data_[i]) : 0u; };
        // UTF-16 and UTF-32 documents (with or without a byte-order mark) are not followed.
        if (byte(0) == 0 || byte(1) == 0 || byte(0) == 0xFE || byte(0) == 0xFF) {
            usable_ = false;
            return;
        }
        if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
            offset_ = 3;
        }
        // The XML declaration is the start of the document, not an instruction.
        if (startsWith("<?xml") && isSpace(char(byte(offset_ + 5)))) {
            moveTo(find("?>", offset_) + 2);
        }
    }

    bool usable() const { return usable_; }
    void stop() { usable_ = false; }
    // For a document in a one-byte encoding other than UTF-8: every byte is a character.
    void countBytes() { bytesAreCharacters_ = true; }

    Position startTag() { return next(Markup::startTag); }
    Position comment() { return next(Markup::comment); }
    Position instruction() { return next(Markup::instruction); }

    // The first character of the run of text (or the CDATA section) that the reader reports
    // next that is not white space.
    Position text() {
        while (offset_ < size_ && data_[offset_] == '<' && markupHere() == Markup::endTag) {
            pass(Markup::endTag);
        }
        if (offset_ < size_ && data_[offset_] == '<') {
            auto const markup = markupHere();
            auto const at = position();
            if (markup == Markup::cdata) {
                pass(markup);
            }
            return at;
        }
        while (offset_ < size_ && isSpace(data_[offset_])) {
            moveTo(offset_ + 1);
        }
        auto const at = position();
        moveTo(find("<", offset_));
        return at;
    }

private:
    enum class Markup { startTag, endTag, comment, instruction, cdata, declaration };

    Position position() const { return {line_, column_}; }

    bool startsWith(char const* text) const {
        auto const length = qsizetype(std::strlen(text));
        return size_ - offset_ >= length && std::memcmp(data_ + offset_, text, length) == 0;
    }

    // Where text next begins at or after from; the end of the bytes when nowhere.
    qsizetype find(char const* text, qsizetype from) const {
        auto const found = QByteArrayView(data_, size_).indexOf(QByteArrayView(text), from);
        return found < 0 ? size_ : found;
    }

    // The markup that begins at offset_, which holds a '<'.
    Markup markupHere() const {
        auto const next = offset_ + 1 < size_ ? data_[offset_ + 1] : '\0';
        if (next == '/') {
            return Markup::endTag;
        }
        if (next == '?') {
            return Markup::instruction;
        }
        if (next == '!') {
            return startsWith("<!--")        ? Markup::comment
                   : startsWith("<![CDATA[") ? Markup::cdata
                                             : Markup::declaration;
        }
        return Markup::startTag;
    }

    void pass(Markup markup) {
        switch (markup) {
        case Markup::comment:
            moveTo(find("-->", offset_ + 4) + 3);
            return;
        case Markup::instruction:
            moveTo(find("?>", offset_ + 2) + 2);
            return;
        case Markup::cdata:
            moveTo(find("]]>", offset_ + 9) + 3);
            return;
        case Markup::endTag:
        case Markup::declaration:
            moveTo(find(">", offset_) + 1);
            return;
        case Markup::startTag: {
            // A '>' may stand in an attribute value; a '<' may not.
            char quote = 0;
            auto end = offset_ + 1;
            for (; end < size_; ++end) {
                auto const c = data_[end];
                if (quote != 0) {
                    quote = c == quote ? char(0) : quote;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            moveTo(end + 1);
            return;
        }
        }
    }

    Position next(Markup wanted) {
        while (usable_) {
            auto const at = find("<", offset_);
            if (at >= size_) {
                usable_ = false;
                break;
            }
            moveTo(at);
            auto const markup = markupHere();
            auto const here = position();
            if (markup == Markup::startTag) {
                lastTag_ = {offset_, here, afterCarriageReturn_};
            }
            pass(markup);
            if (markup == Markup::declaration) {
                // A document type declaration may define entities that the reader expands
                // into markup that the bytes do not show where it reports it.
                usable_ = false;
            }
            if (markup == wanted) {
                return here;
            }
        }
        return {};
    }

    // Moves the place past the byte c.
    void step(Position& at, bool& afterCarriageReturn, uchar c) const {
        if (c == '\n' || c == '\r') {
            // A carriage return and line feed end one line.
            if (!(c == '\n' && afterCarriageReturn)) {
                ++at.line;
            }
            at.column = 1;
            afterCarriageReturn = c == '\r';
            return;
        }
        afterCarriageReturn = false;
        if (bytesAreCharacters_ || (c & 0xC0) != 0x80) {
            ++at.column;
        }
    }

    void moveTo(qsizetype target) {
        target = std::min(target, size_);
        Position at = position();
        for (; offset_ < target; ++offset_) {
            step(at, afterCarriageReturn_, uchar(data_[offset_]));
        }
        line_ = at.line;
        column_ = at.column;
    }

public:
    // Where the attribute's name begins in the start tag found last; nothing when the tag does
    // not hold it or no tag was found. Looked for again in the tag's bytes, so that only the
    // few callers that want it pay for it.
    std::optional<Position> attribute(QLatin1String name) const {
        if (lastTag_.offset < 0) {
            return std::nullopt;
        }
        auto at = lastTag_.place;
        auto afterCarriageReturn = lastTag_.afterCarriageReturn;
        char quote = 0;
        for (auto i = lastTag_.offset; i < size_; ++i) {
            auto const c = data_[i];
            if (quote != 0) {
                quote = c == quote ? char(0) : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            } else if (isSpace(data_[i - 1]) && !isSpace(c) && holdsName(i, name)) {
                return at;
            }
            step(at, afterCarriageReturn, uchar(c));
        }
        return std::nullopt;
    }

private:
    // Whether the bytes at offset are name followed by white space or an equals sign.
    bool holdsName(qsizetype offset, QLatin1String name) const {
        auto const end = offset + name.size();
        if (end >= size_ || std::memcmp(data_ + offset, name.data(), name.size()) != 0) {
            return false;
        }
        return data_[end] == '=' || isSpace(data_[end]);
    }

    struct Tag {
        qsizetype offset = -1;
        Position place;
        bool afterCarriageReturn = false;
    };

    char const* data_;
    qsizetype size_;
    qsizetype offset_ = 0;
    qint64 line_ = 1;
    qint64 column_ = 1;
    bool afterCarriageReturn_ = false;
    bool bytesAreCharacters_ = false;
    bool usable_ = true;
    Tag lastTag_;
};

// ---- Values -------------------------------------------------------------------------------

// A whole number as the load reads it, when the attribute is there and holds one of T.
template <class T> std::optional<T> numberOf(QStringView text) {
    bool ok = false;
    if constexpr (std::is_signed_v<T>) {
        auto const value = text.toLongLong(&ok, 10);
        if (ok && value >= std::numeric_limits<T>::lowest() &&
            value <= std::numeric_limits<T>::max()) {
            return T(value);
        }
    } else {
        auto const value = text.toULongLong(&ok, 10);
        if (ok && value <= std::numeric_limits<T>::max()) {
            return T(value);
        }
    }
    return std::nullopt;
}

QString quoted(QStringView text) {
    constexpr qsizetype longest = 24;
    auto const simple = text.toString().simplified();
    return u'\'' + (simple.size() > longest ? simple.left(longest) + u'\x2026' : simple) + u'\'';
}

QString amountText(qint64 major, quint16 minor, QString const& currency) {
    return QStringLiteral("%1.%2 %3")
        .arg(major)
        .arg(QString::number(minor).rightJustified(2, u'0'), currency);
}

// Where another element is, said from the place of a warning: its line, and its column too
// when both are on one line (as in a document written without indentation).
QString where(Position other, Position here) {
    return other.line == here.line
               ? QStringLiteral("line %1, column %2").arg(other.line).arg(other.column)
               : QStringLiteral("line %1").arg(other.line);
}

// Small texts that many elements repeat (currencies, statuses), each kept once. Looked up
// without making a string of each, which would cost as much as the rest of the scan.
class Interned {
public:
    quint32 of(QStringView view) {
        std::u16string_view const text(view.utf16(), std::size_t(view.size()));
        auto const found = numbers_.find(text);
        if (found != numbers_.end()) {
            return found->second;
        }
        auto const number = quint32(texts_.size());
        texts_.push_back(view.toString());
        numbers_.emplace(text, number);
        return number;
    }
    QString const& text(quint32 number) const { return texts_[number]; }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view text) const {
            return std::hash<std::u16string_view>()(text);
        }
    };
    std::unordered_map<std::u16string, quint32, Hash, std::equal_to<>> numbers_;
    std::vector<QString> texts_;
};

// A date that the load has read as yyyy-MM-dd (and whatever follows), as the number yyyyMMdd.
qint64 dayOf(QStringView text) {
    qint64 day = 0;
    for (qsizetype i = 0; i < std::min<qsizetype>(text.size(), 10); ++i) {
        if (text[i].isDigit()) {
            day = day * 10 + text[i].digitValue();
        }
    }
    return day;
}

QString dayText(qint64 day) {
    return QStringLiteral("%1-%2-%3")
        .arg(day / 10000, 4, 10, QLatin1Char('0'))
        .arg(day / 100 % 100, 2, 10, QLatin1Char('0'))
        .arg(day % 100, 2, 10, QLatin1Char('0'));
}

// One copy of a transaction, as the ledger that holds it keeps it.
struct Copy {
    Position position;
    quint32 ledger = 0;
    quint32 number = 0;
    quint32 other = 0;
    char entry = 0; // 'D' or 'C'; 0 for neither
    qint64 day = 0; // yyyyMMdd
    qint64 major = 0;
    quint16 minor = 0;
    quint32 currency = 0;
    quint32 status = 0;
    bool described = false;  // the load takes an empty text as no description
    quint64 description = 0; // the description's hash, as describe() makes it
};

// Adds text to the hash of a transaction's description, which the reader may give in several
// parts (around a comment, say): FNV-1a over its UTF-16 units, so that the parts need not be
// put together first.
void describe(Copy& copy, QStringView text) {
    if (!copy.described) {
        copy.description = 14695981039346656037ULL;
    }
    copy.described = copy.described || !text.isEmpty();
    for (auto const c : text) {
        copy.description = (copy.description ^ c.unicode()) * 1099511628211ULL;
    }
}

quint64 keyOf(quint32 ledger, quint32 number) {
    return quint64(ledger) << 32 | number;
}

// ---- The scan -----------------------------------------------------------------------------

struct Frame {
    Element const* form = nullptr; // nothing: an element the format does not know, or one in it
    Position position;
    bool textReported = false;
    quint32 number = 0; // ledger: its account; reconciliation: its account
    bool kept = false;  // reconciliation: the first of its account, which the load keeps
    QString name;       // bank
    Copy copy;          // transaction
    std::map<quint32, std::pair<Position, QString>> accounts; // bank: its accounts and types
    std::map<std::pair<QString, quint32>, Position> shares;   // reconciliation: distributions
};

class Scan {
public:
    // The reader reads through a device: given the bytes themselves, it decodes them all at
    // once, and takes nearly twice as long. It reads within the format's bounds, as the load
    // does, so that the elements it keeps track of stay few.
    // target, when given, is an element (and attribute) of the document whose place to find,
    // as the load's conversion names it.
    explicit Scan(QByteArray const& bytes, ConversionPlace const* target = nullptr)
        : locator_(bytes), target_(target) {
        device_.setData(bytes);
        device_.open(QIODevice::ReadOnly);
        reader_.setDevice(&bounded_);
        // Most of a large budget is transactions, of about 160 bytes each.
        auto const transactions = std::size_t(bytes.size() / 160);
        transactions_.reserve(transactions);
        copies_.reserve(transactions);
    }

    DocumentInspection run() {
        while (!reader_.atEnd()) {
            switch (reader_.readNext()) {
            case QXmlStreamReader::StartDocument:
                encoding();
                break;
            case QXmlStreamReader::StartElement:
                startElement();
                break;
            case QXmlStreamReader::EndElement:
                endElement();
                break;
            case QXmlStreamReader::Characters:
                characters();
                break;
            case QXmlStreamReader::Comment:
                ignoredMarkup(locate(&Locator::comment), QStringLiteral("comment"));
                break;
            case QXmlStreamReader::ProcessingInstruction:
                ignoredMarkup(locate(&Locator::instruction),
                              QStringLiteral("processing instruction %1")
                                  .arg(quoted(reader_.processingInstructionTarget())));
                break;
            case QXmlStreamReader::DTD:
                locator_.stop();
                ignoredMarkup(readerPosition(), QStringLiteral("document type declaration"));
                break;
            default:
                break;
            }
        }
        if (reader_.hasError()) {
            auto const crossing = bounded_.crossing(reader_);
            result_.failure = crossing ? crossing->secondText() : reader_.errorString();
        } else {
            crossReferences();
        }
        std::vector<Kept> kept;
        for (auto& [kind, warnings] : kinds_) {
            if (warnings.count > qint64(warnings.kept.size())) {
                result_.moreOfKind.emplace(QString::fromLatin1(kind.data(), qsizetype(kind.size())),
                                           warnings.count - qint64(warnings.kept.size()));
            }
            std::move(warnings.kept.begin(), warnings.kept.end(), std::back_inserter(kept));
        }
        std::sort(kept.begin(), kept.end(), earlier);
        result_.warnings.reserve(kept.size());
        for (auto& warning : kept) {
            result_.warnings.push_back(std::move(warning.warning));
        }
        return std::move(result_);
    }

    // Where the target stands, once run() has found it.
    std::optional<Position> const& targetPlace() const { return targetPlace_; }

private:
    // The load numbers the elements of one element of the format in document order, as this
    // scan meets them.
    void seekTarget(Position at) {
        auto const ordinal = targetOrdinal_++;
        auto const& attribute = target_->attribute;
        bool const last = target_->ordinal == ConversionPlace::lastCarrying;
        if (last ? !attributes_.hasAttribute(attribute) : ordinal != target_->ordinal) {
            return;
        }
        targetPlace_ = at;
        if (!attribute.isEmpty() && locator_.usable()) {
            if (auto const place = locator_.attribute(attribute)) {
                targetPlace_ = place;
            }
        }
    }

    // Keeps the warning if it is among the first warningsKeptOfAKind of its kind in document
    // order (most are found in that order, but not those of the whole document), and counts it.
    // text is the warning's text, or what makes it, called only for a warning that is kept.
    template <class Text> void warn(Position at, char const* kind, Text&& text) {
        auto& ofKind = kinds_[std::string_view(kind)];
        ++ofKind.count;
        Kept warning{{at, {}, {}}, order_++};
        auto& kept = ofKind.kept;
        if (kept.size() == warningsKeptOfAKind) {
            if (!earlier(warning, kept.front())) {
                return;
            }
            std::pop_heap(kept.begin(), kept.end(), earlier);
            kept.pop_back();
        }
        warning.warning.kind = QString::fromLatin1(kind);
        if constexpr (std::is_invocable_v<Text>) {
            warning.warning.text = text();
        } else {
            warning.warning.text = std::forward<Text>(text);
        }
        kept.push_back(std::move(warning));
        std::push_heap(kept.begin(), kept.end(), earlier);
    }

    Position readerPosition() const { return {reader_.lineNumber(), reader_.columnNumber() + 1}; }

    Position locate(Position (Locator::*find)()) {
        if (locator_.usable()) {
            auto const at = (locator_.*find)();
            if (locator_.usable()) {
                return at;
            }
        }
        return readerPosition();
    }

    QStringView attribute(internal::Name const& name) const {
        return attributes_.value(name.latin1);
    }

    void encoding() {
        auto const declared = reader_.documentEncoding().toString().toLower();
        if (declared.isEmpty() || declared == u"utf-8" || declared == u"utf8") {
            return;
        }
        if (declared.startsWith(u"utf-16") || declared.startsWith(u"utf-32") ||
            declared.startsWith(u"ucs")) {
            locator_.stop();
        } else {
            locator_.countBytes();
        }
    }

    bool inIgnored() const { return !stack_.empty() && stack_.back().form == nullptr; }

    void ignoredMarkup(Position at, QString const& what) {
        if (!inIgnored()) {
            warn(at, "ignored-markup", [&] {
                return QStringLiteral("%1: the load ignores it and a store drops it").arg(what);
            });
        }
    }

    void characters() {
        auto const at = locate(&Locator::text);
        if (stack_.empty() || stack_.back().form == nullptr) {
            return;
        }
        auto& frame = stack_.back();
        if (frame.form->shape == Shape::transaction) {
            describe(frame.copy, reader_.text());
            return;
        }
        if (reader_.isWhitespace() || frame.textReported) {
            return;
        }
        frame.textReported = true;
        warn(at, "ignored-text", [&] {
            return QStringLiteral(
                       "text %1 in '%2' is not part of the format; the load ignores it and a "
                       "store drops it")
                .arg(quoted(reader_.text()), frame.form->tag.latin1);
        });
    }

    void startElement() {
        auto const at = locate(&Locator::startTag);
        bool const ignored = inIgnored();
        Element const* form = nullptr;
        if (!ignored) {
            form = internal::format::elementOf(
                stack_.empty() ? QStringView() : stack_.back().form->tag.utf16, reader_.name());
            if (form == nullptr) {
                warn(at, "unknown-element", [&] {
                    return QStringLiteral("element '%1' is not part of the format; the load "
                                          "ignores it and a store drops it")
                        .arg(reader_.name());
                });
            }
        }
        auto& frame = stack_.emplace_back();
        frame.form = form;
        frame.position = at;
        if (form == nullptr) {
            return;
        }
        attributes_ = reader_.attributes();
        if (target_ != nullptr && form == target_->element) {
            seekTarget(at);
        }
        names(*form, at);
        values(*form, at);
        switch (form->shape) {
        case Shape::root:
            break;
        case Shape::collection:
            collection(*form, at);
            break;
        case Shape::item:
            item(*form, at);
            break;
        case Shape::account:
            account(at);
            break;
        case Shape::ledger:
            ledger(at);
            break;
        case Shape::transaction:
            transaction(at);
            break;
        case Shape::bank:
            stack_.back().name = attribute(attributes::name).toString();
            break;
        case Shape::bankAccount:
            bankAccount(at);
            break;
        case Shape::reconciliation:
            reconciliation(at);
            break;
        case Shape::distribution:
            distribution(at);
            break;
        }
    }

    void endElement() {
        if (stack_.empty()) {
            return;
        }
        auto& frame = stack_.back();
        if (frame.form != nullptr && frame.form->shape == Shape::transaction) {
            endTransaction(frame);
        } else if (frame.form != nullptr && frame.form->shape == Shape::bank) {
            endBank(frame);
        }
        stack_.pop_back();
    }

    // Namespaces and attributes that the format does not know.
    void names(Element const& form, Position at) {
        auto const tag = form.tag.latin1;
        if (!reader_.namespaceUri().isEmpty()) {
            warn(at, "namespace", [&] {
                return QStringLiteral(
                           "element '%1' is in the namespace '%2'; the load reads it as '%1' "
                           "and a store writes it without")
                    .arg(tag, reader_.namespaceUri());
            });
        } else if (!reader_.namespaceDeclarations().isEmpty()) {
            warn(at, "namespace", [&] {
                return QStringLiteral(
                           "element '%1' declares a namespace; a store drops the declaration")
                    .arg(tag);
            });
        }
        for (auto const& attribute : attributes_) {
            auto const name = attribute.qualifiedName();
            if (internal::format::attributeOf(form, name) == nullptr) {
                warn(at, "unknown-attribute", [&] {
                    return QStringLiteral(
                               "attribute '%1' of '%2' is not part of the format; the load "
                               "ignores it and a store drops it")
                        .arg(name, tag);
                });
            }
        }
    }

    // Amounts and dates that the load takes otherwise than they are written.
    void values(Element const& form, Position at) {
        for (auto const& minorUnits : form.attributes) {
            auto const name = minorUnits.name.latin1;
            if (minorUnits.codec != Codec::minorUnits) {
                continue;
            }
            if (auto const minor = numberOf<quint16>(attributes_.value(name));
                minor && *minor >= 100) {
                warn(at, "minor-over-99", [&] {
                    return QStringLiteral(
                               "%1 %2 is 100 or more; the load keeps it as written rather "
                               "than carrying it into the major part")
                        .arg(name)
                        .arg(*minor);
                });
            }
        }
        for (auto const& date : form.attributes) {
            auto const name = date.name.latin1;
            if (date.codec != Codec::date) {
                continue;
            }
            auto const text = attributes_.value(name);
            if (text.size() > 10) {
                warn(at, "date-suffix", [&] {
                    return QStringLiteral("%1 %2 is read as %3; the rest is dropped")
                        .arg(name, quoted(text), text.left(10).toString());
                });
                continue;
            }
            // Qt's reading of ISO dates takes other separators too; a store writes yyyy-MM-dd.
            auto const day = QDate::fromString(text.toString(), Qt::ISODate);
            if (day.isValid() && day.toString(Qt::ISODate) != text) {
                warn(at, "date-rewritten", [&] {
                    return QStringLiteral(
                               "%1 %2 is read as %3, which the next store writes instead")
                        .arg(name, quoted(text), day.toString(Qt::ISODate));
                });
            }
        }
    }

    void collection(Element const& form, Position at) {
        auto const [first, inserted] = collections_.try_emplace(&form, at);
        if (inserted) {
            return;
        }
        auto text = QStringLiteral("a second '%1' collection; the load adds what it holds to the "
                                   "first, at %2")
                        .arg(form.tag.latin1, where(first->second, at));
        if (attributes_.hasAttribute(attributes::openingAccountId.latin1)) {
            text += QStringLiteral(", and keeps this one's openingAccountId");
        }
        warn(at, "duplicate-collection", text);
    }

    void item(Element const& form, Position at) {
        if (auto const id = numberOf<quint32>(attribute(attributes::id))) {
            items_[{&form, *id}].push_back({at, attribute(attributes::name).toString()});
        }
        if (!attributes_.hasAttribute(attributes::interest.latin1)) {
            return;
        }
        auto const interest = attribute(attributes::interest);
        auto const value = interest.toDouble();
        if (!std::isfinite(value)) {
            warn(at, "interest-not-finite", [&] {
                return QStringLiteral("interest %1 is not a number; the load takes it and a store "
                                      "keeps it, but no sum can use it")
                    .arg(quoted(interest));
            });
            return;
        }
        auto const stored = QString::number(value, 'g', 6);
        if (stored.toDouble() != value) {
            warn(at, "interest-precision", [&] {
                return QStringLiteral(
                           "interest %1 has more digits than a store keeps; the next store "
                           "writes %2")
                    .arg(interest.toString(), stored);
            });
        }
    }

    void account(Position at) {
        auto const id = numberOf<quint32>(attribute(attributes::id));
        if (!id) {
            return;
        }
        auto const [first, inserted] = accounts_.try_emplace(*id, at);
        if (!inserted) {
            warn(at, "duplicate-account", [&, first = first] {
                return QStringLiteral(
                           "account %1 appears again; the load keeps the first, at %2, and "
                           "drops this one")
                    .arg(*id)
                    .arg(where(first->second, at));
            });
        } else if (auto const parent = numberOf<quint32>(attribute(attributes::parentId))) {
            parents_.push_back({at, *id, *parent});
        }
    }

    void ledger(Position at) {
        auto const id = numberOf<quint32>(attribute(attributes::id));
        if (!id) {
            return;
        }
        stack_.back().number = *id;
        auto const [first, inserted] = ledgers_.try_emplace(*id, at);
        if (!inserted) {
            warn(at, "duplicate-ledger", [&, first = first] {
                return QStringLiteral("ledger %1 appears again; the load adds its transactions to "
                                      "those of the first, at %2")
                    .arg(*id)
                    .arg(where(first->second, at));
            });
        }
    }

    void transaction(Position at) {
        auto& frame = stack_.back();
        auto& copy = frame.copy;
        copy.position = at;
        copy.ledger = stack_.size() >= 2 ? stack_[stack_.size() - 2].number : 0;
        copy.number = numberOf<quint32>(attribute(attributes::id)).value_or(0);
        copy.other = numberOf<quint32>(attribute(attributes::accountId)).value_or(0);
        auto const entry = attribute(attributes::entry);
        copy.entry = entry == u"Dr" ? 'D' : entry == u"Cr" ? 'C' : 0;
        copy.day = dayOf(attribute(attributes::date));
        copy.major = numberOf<qint64>(attribute(attributes::major)).value_or(0);
        copy.minor = numberOf<quint16>(attribute(attributes::minor)).value_or(0);
        copy.currency = interned_.of(attribute(attributes::currency));
        copy.status = interned_.of(attribute(attributes::status));
        if (copy.entry == 0) {
            warn(at, "self-booking", [&] {
                return QStringLiteral(
                           "entry %1 is neither 'Dr' nor 'Cr'; the load books transaction %2 "
                           "from account %3 to itself, without account %4")
                    .arg(quoted(entry))
                    .arg(copy.number)
                    .arg(copy.ledger)
                    .arg(copy.other);
            });
        } else if (copy.other == copy.ledger) {
            warn(at, "self-booking", [&] {
                return QStringLiteral(
                           "transaction %1 names its own ledger's account, %2, as the other "
                           "side; the load books it from the account to itself")
                    .arg(copy.number)
                    .arg(copy.ledger);
            });
        }
    }

    void endTransaction(Frame& frame) {
        auto& copy = frame.copy;
        auto const [first, inserted] =
            copies_.try_emplace(keyOf(copy.ledger, copy.number), quint32(transactions_.size()));
        if (inserted) {
            transactions_.push_back(copy);
            return;
        }
        warn(copy.position, "duplicate-transaction", [&, first = first] {
            return QStringLiteral(
                       "transaction %1 appears again in the ledger of account %2; the load "
                       "keeps the first, at %3, and drops this one")
                .arg(copy.number)
                .arg(copy.ledger)
                .arg(where(transactions_[first->second].position, copy.position));
        });
    }

    void bankAccount(Position at) {
        auto const id = numberOf<quint32>(attribute(attributes::id));
        if (!id || stack_.size() < 2) {
            return;
        }
        auto& bank = stack_[stack_.size() - 2];
        auto const type = attribute(attributes::type).toString();
        bankAccounts_.push_back({at, *id});
        auto const [first, inserted] = bank.accounts.try_emplace(*id, at, type);
        if (!inserted) {
            warn(at, "duplicate-bank-account", [&, first = first] {
                return QStringLiteral(
                           "account %1 appears again in the bank '%2', after %3; the load "
                           "keeps it once, of this later type, '%4'")
                    .arg(*id)
                    .arg(bank.name, where(first->second.first, at), type);
            });
            first->second.second = type;
        }
        everBanked_.insert(*id);
    }

    void endBank(Frame const& frame) {
        std::set<quint32> held;
        for (auto const& [number, account] : frame.accounts) {
            held.insert(number);
        }
        auto const [earlier, inserted] = banks_.try_emplace(frame.name, frame.position, held);
        if (inserted) {
            return;
        }
        QStringList dropped;
        for (auto const number : earlier->second.second) {
            if (held.count(number) == 0) {
                dropped << QString::number(number);
            }
        }
        auto text = QStringLiteral("bank '%1' appears again; the load takes the accounts and "
                                   "closed flag of this later one over those of the one at %2")
                        .arg(frame.name, where(earlier->second.first, frame.position));
        if (!dropped.isEmpty()) {
            text += QStringLiteral(", so the bank no longer holds %1 %2")
                        .arg(dropped.size() == 1 ? QStringLiteral("account")
                                                 : QStringLiteral("accounts"),
                             dropped.join(QStringLiteral(", ")));
        }
        warn(frame.position, "duplicate-bank", text);
        earlier->second = {frame.position, std::move(held)};
    }

    // Amount parts that a reconciliation or distribution may leave out: the load takes 0.
    void missingAmount(Position at, QString const& what) {
        QStringList missing;
        for (auto const name : {attributes::major.latin1, attributes::minor.latin1}) {
            if (!attributes_.hasAttribute(name)) {
                missing << name;
            }
        }
        if (!missing.isEmpty()) {
            warn(at, "missing-amount", [&] {
                return QStringLiteral("%1 has no %2; the load takes %3 as 0, and a store writes 0")
                    .arg(what, missing.join(QStringLiteral(" and no ")),
                         missing.size() == 1 ? QStringLiteral("it") : QStringLiteral("both"));
            });
        }
    }

    void reconciliation(Position at) {
        auto const account = numberOf<quint32>(attribute(attributes::account));
        if (!account) {
            return;
        }
        auto& frame = stack_.back();
        frame.number = *account;
        auto const [first, inserted] = reconciliations_.try_emplace(*account, at);
        frame.kept = inserted;
        if (!inserted) {
            warn(at, "duplicate-reconciliation", [&, first = first] {
                return QStringLiteral(
                           "the reconciliation of account %1 appears again; the load keeps "
                           "the first, at %2, and drops this one with its distributions")
                    .arg(*account)
                    .arg(where(first->second, at));
            });
            return;
        }
        reconciled_.push_back({at, *account});
        missingAmount(at, QStringLiteral("the reconciliation of account %1").arg(*account));
    }

    void distribution(Position at) {
        if (stack_.size() < 2 || !stack_[stack_.size() - 2].kept) {
            return;
        }
        auto& reconciliation = stack_[stack_.size() - 2];
        auto const type = attribute(attributes::type).toString();
        auto const id = numberOf<quint32>(attribute(attributes::id)).value_or(0);
        auto const what = QStringLiteral("the distribution to %1 %2").arg(type).arg(id);
        auto const [first, inserted] = reconciliation.shares.try_emplace({type, id}, at);
        if (!inserted) {
            warn(at, "duplicate-distribution", [&, first = first] {
                return QStringLiteral(
                           "%1 appears again in the reconciliation of account %2; the load "
                           "keeps the first, at %3, and drops this one")
                    .arg(what)
                    .arg(reconciliation.number)
                    .arg(where(first->second, at));
            });
            return;
        }
        missingAmount(at, what);
    }

    // ---- What can only be told from the whole document -----------------------------------

    void crossReferences() {
        itemIdentifiers();
        for (auto const& [at, id] : orphanLedgers()) {
            warn(at, "orphan-ledger", [&, id = id] {
                return QStringLiteral("ledger %1 belongs to no account; the load drops it").arg(id);
            });
        }
        for (auto const& parent : parents_) {
            if (accounts_.count(parent.parent) == 0) {
                warn(parent.position, "unknown-parent", [&] {
                    return QStringLiteral(
                               "account %1 names the parent %2, which is no account; the "
                               "load keeps it as written")
                        .arg(parent.account)
                        .arg(parent.parent);
                });
            }
        }
        for (auto const& [at, id] : bankAccounts_) {
            if (accounts_.count(id) == 0) {
                warn(at, "unknown-bank-account", [&, id = id] {
                    return QStringLiteral(
                               "bank account %1 is no account of the ledger; the load keeps "
                               "it as written")
                        .arg(id);
                });
            }
        }
        unbankedReconciliations();
        transactionCopies();
    }

    std::vector<std::pair<Position, quint32>> orphanLedgers() const {
        std::vector<std::pair<Position, quint32>> orphans;
        for (auto const& [id, at] : ledgers_) {
            if (accounts_.count(id) == 0) {
                orphans.emplace_back(at, id);
            }
        }
        return orphans;
    }

    // The load gives an identifier of a kind to the last item that has it: distributions name
    // items by kind and identifier.
    void itemIdentifiers() {
        for (auto const& [key, named] : items_) {
            auto const& [kind, id] = key;
            for (std::size_t i = 1; i < named.size(); ++i) {
                warn(named[i].first, "duplicate-item-id",
                     [&, kind = kind, id = id, &named = named] {
                         return QStringLiteral(
                                    "%1 identifier %2 is given again, to '%3', after '%4' at %5; "
                                    "distributions to %1 %2 go to the last item given it, '%6'")
                             .arg(kind->tag.latin1)
                             .arg(id)
                             .arg(named[i].second, named[0].second,
                                  where(named[0].first, named[i].first), named.back().second);
                     });
            }
        }
    }

    // A later bank of a name replaces the earlier one's accounts, while the load still finds
    // the bank of a reconciled account among the accounts of both; a store then finds no bank.
    void unbankedReconciliations() {
        std::set<quint32> held;
        for (auto const& [name, bank] : banks_) {
            held.insert(bank.second.begin(), bank.second.end());
        }
        for (auto const& [at, account] : reconciled_) {
            if (held.count(account) == 0 && everBanked_.count(account) != 0) {
                warn(at, "unbanked-reconciliation", [&, account = account] {
                    return QStringLiteral(
                               "the reconciliation of account %1 names an account that only "
                               "a replaced bank held; the load keeps it, but a store refuses "
                               "the budget")
                        .arg(account);
                });
            }
        }
    }

    // A transaction is written in the ledgers of both its accounts; the load keeps each copy
    // in its own ledger, as written.
    void transactionCopies() {
        for (std::size_t index = 0; index < transactions_.size(); ++index) {
            auto const& copy = transactions_[index];
            if (copy.entry == 0 || copy.other == copy.ledger) {
                continue;
            }
            auto const found = copies_.find(keyOf(copy.other, copy.number));
            if (found == copies_.end()) {
                warn(copy.position, "missing-copy", [&] {
                    return QStringLiteral(
                               "transaction %1 names account %2, but the ledger of account %2 "
                               "holds no transaction %1; the load books it in the ledger of "
                               "account %3 only")
                        .arg(copy.number)
                        .arg(copy.other)
                        .arg(copy.ledger);
                });
                continue;
            }
            auto const& other = transactions_[found->second];
            if (other.other != copy.ledger) {
                warn(copy.position, "copies-disagree", [&] {
                    return QStringLiteral(
                               "transaction %1 names account %2, but its copy in the ledger "
                               "of account %2, at %3, names account %4, not %5")
                        .arg(copy.number)
                        .arg(copy.other)
                        .arg(where(other.position, copy.position))
                        .arg(other.other)
                        .arg(copy.ledger);
                });
            } else if (found->second > index) {
                // Each pair once, at its later copy.
                compare(copy, other);
            }
        }
    }

    void compare(Copy const& first, Copy const& later) {
        QStringList differences;
        if (first.entry == later.entry) {
            differences << QStringLiteral("both have entry '%1', so they move the money in "
                                          "opposite directions")
                               .arg(first.entry == 'D' ? QStringLiteral("Dr")
                                                       : QStringLiteral("Cr"));
        }
        if (first.day != later.day) {
            differences
                << QStringLiteral("date %1 against %2").arg(dayText(later.day), dayText(first.day));
        }
        if (first.major != later.major || first.minor != later.minor ||
            first.currency != later.currency) {
            differences << QStringLiteral("amount %1 against %2")
                               .arg(amountText(later.major, later.minor,
                                               interned_.text(later.currency)),
                                    amountText(first.major, first.minor,
                                               interned_.text(first.currency)));
        }
        if (first.status != later.status) {
            differences << QStringLiteral("status %1 against %2")
                               .arg(interned_.text(later.status), interned_.text(first.status));
        }
        if (first.described != later.described ||
            (first.described && first.description != later.description)) {
            differences << QStringLiteral("a different description");
        }
        if (differences.isEmpty()) {
            return;
        }
        warn(later.position, "copies-disagree", [&] {
            return QStringLiteral(
                       "transaction %1 disagrees with its copy in the ledger of account %2, "
                       "at %3: %4; the load keeps both as written")
                .arg(later.number)
                .arg(first.ledger)
                .arg(where(first.position, later.position), differences.join(QStringLiteral(", ")));
        });
    }

    struct Parent {
        Position position;
        quint32 account;
        quint32 parent;
    };

    // A warning, and where it was found among all: of two at one place, the one found first
    // comes first.
    struct Kept {
        DocumentWarning warning;
        quint64 order = 0;
    };
    static bool earlier(Kept const& a, Kept const& b) {
        return std::tuple(a.warning.place.line, a.warning.place.column, a.order) <
               std::tuple(b.warning.place.line, b.warning.place.column, b.order);
    }
    // The warnings of one kind: how many there are, and the first of them, as a heap whose top
    // is the last one kept.
    struct OfKind {
        qint64 count = 0;
        std::vector<Kept> kept;
    };

    Locator locator_;
    QBuffer device_;
    internal::BoundedDocumentDevice bounded_{device_};
    QXmlStreamReader reader_;
    QXmlStreamAttributes attributes_;
    std::vector<Frame> stack_;
    DocumentInspection result_;
    std::map<std::string_view, OfKind> kinds_;
    quint64 order_ = 0;
    ConversionPlace const* target_;
    std::size_t targetOrdinal_ = 0;
    std::optional<Position> targetPlace_;

    // Keyed by form: the format's elements are the table's, one object each.
    std::map<Element const*, Position> collections_;
    std::map<std::pair<Element const*, quint32>, std::vector<std::pair<Position, QString>>> items_;
    std::unordered_map<quint32, Position> accounts_;
    std::vector<Parent> parents_;
    std::map<quint32, Position> ledgers_;
    std::vector<Copy> transactions_;
    std::unordered_map<quint64, quint32> copies_;
    Interned interned_;
    std::vector<std::pair<Position, quint32>> bankAccounts_;
    std::set<quint32> everBanked_;
    std::map<QString, std::pair<Position, std::set<quint32>>> banks_;
    std::map<quint32, Position> reconciliations_;
    std::vector<std::pair<Position, quint32>> reconciled_;
};

} // namespace

DocumentInspection inspectBudgetDocument(QByteArray const& bytes) {
    return Scan(bytes).run();
}

std::optional<DocumentPlace> placeOfRefusal(QByteArray const& bytes) {
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    ConversionPlace place;
    try {
        internal::loadBudgetDocument(device, &place);
        return std::nullopt;
    } catch (BudgetFileError const& error) {
        // Only the conversion's refusals come without a place of their own.
        if (error.line() != 0 || error.column() != 0 || place.element == nullptr) {
            return std::nullopt;
        }
    } catch (std::exception const&) {
        return std::nullopt;
    }
    Scan scan(bytes, &place);
    scan.run();
    return scan.targetPlace();
}

} // namespace zel::file_storage
