#pragma once

#include "file-storage/BudgetDocumentInspection.h"
#include "file-storage/document/BoundedDocumentDevice.h"
#include "file-storage/document/BudgetDocument.h"
#include "file-storage/document/DocumentFormat.h"
#include "file-storage/document/inspection/Locator.h"
#include "file-storage/document/inspection/Values.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

// The inspection's one pass over a document: the reader's tokens in order, the warnings about
// each element as it starts and ends (ElementWarnings.cpp), and those that only the whole
// document tells (CrossReferences.cpp).
namespace zel::file_storage::internal::inspection {

using format::Codec;
using format::Element;
using format::Shape;

// What the scan keeps of each element that is open.
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
    explicit Scan(QByteArray const& bytes, ConversionPlace const* target = nullptr);

    DocumentInspection run();

    // Where the target stands, once run() has found it.
    std::optional<Position> const& targetPlace() const { return targetPlace_; }

private:
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

    // Whether key is met for the first time, at at, in seen; otherwise warns of kind, with the
    // text that text makes of where the key was met first.
    template <class Seen, class Text>
    bool metFirst(Seen& seen, typename Seen::key_type const& key, Position at, char const* kind,
                  Text const& text) {
        auto const [first, inserted] = seen.try_emplace(key, at);
        if (!inserted) {
            warn(at, kind, [&, first = first] { return text(where(first->second, at)); });
        }
        return inserted;
    }

    Position readerPosition() const { return {reader_.lineNumber(), reader_.columnNumber() + 1}; }
    QStringView attribute(Name const& name) const { return attributes_.value(name.latin1); }
    bool inIgnored() const { return !stack_.empty() && stack_.back().form == nullptr; }

    // ---- The reader's tokens (Scan.cpp) -------------------------------------------------------
    // The load numbers the elements of one element of the format in document order, as this
    // scan meets them.
    void seekTarget(Position at);
    Position locate(Position (Locator::*find)());
    void encoding();
    void ignoredMarkup(Position at, QString const& what);
    void characters();
    void startElement();
    void endElement();

    // ---- Each element, as it starts and ends (ElementWarnings.cpp) ----------------------------
    // Namespaces and attributes that the format does not know.
    void names(Element const& form, Position at);
    // Amounts and dates that the load takes otherwise than they are written.
    // Qt's reading of ISO dates takes other separators too; a store writes yyyy-MM-dd.
    void values(Element const& form, Position at);
    void collection(Element const& form, Position at);
    void item(Element const& form, Position at);
    void account(Element const& form, Position at);
    void ledger(Element const& form, Position at);
    void transaction(Element const& form, Position at);
    void endTransaction(Frame& frame);
    void bank(Element const& form, Position at);
    void bankAccount(Element const& form, Position at);
    void endBank(Frame const& frame);
    // Amount parts that a reconciliation or distribution may leave out: the load takes 0.
    void missingAmount(Position at, QString const& what);
    void reconciliation(Element const& form, Position at);
    void distribution(Element const& form, Position at);

    // ---- What can only be told from the whole document (CrossReferences.cpp) ------------------
    void crossReferences();
    std::vector<std::pair<Position, quint32>> orphanLedgers() const;
    // The load gives an identifier of a kind to the last item that has it: distributions name
    // items by kind and identifier.
    void itemIdentifiers();
    // A later bank of a name replaces the earlier one's accounts, while the load still finds
    // the bank of a reconciled account among the accounts of both; a store then finds no bank.
    void unbankedReconciliations();
    // A transaction is written in the ledgers of both its accounts; the load keeps each copy
    // in its own ledger, as written.
    // Each pair once, at its later copy.
    void transactionCopies();
    void compare(Copy const& first, Copy const& later);

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
    BoundedDocumentDevice bounded_{device_};
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

} // namespace zel::file_storage::internal::inspection
