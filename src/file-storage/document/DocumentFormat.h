#pragma once

#include <QLatin1String>
#include <QStringView>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <span>

// The format of the budget document, described once: its names, and for each element its
// parent, tag, shape and attributes. The elements read and write through this description,
// and so does the inspection of a document; nothing else spells a name of the format.
//
// FROZEN: every stored budget file is written with these names, in this shape and in these
// orders. Changing a name makes existing files unreadable, and changing an order changes the
// bytes a store writes or the fault a load reports first; add new names and elements instead.
//
// The shape is small: elements nest four deep at most (the root, a collection, a ledger and
// its transactions), and no element has more than eleven attributes (a debt's). A load holds a
// document to bounds well above both, BoundedDocumentDevice::deepestNesting_ (32 levels) and
// mostAttributes_ (64 attributes), which leave room for what a later revision adds.
namespace zel::file_storage::internal {

// A name of the document in the two forms it is used in: Latin-1, which the reader compares
// and the errors name, and UTF-16, which the writer takes without converting it each time.
struct Name {
    QLatin1String latin1;
    QStringView utf16;

    constexpr operator QLatin1String() const { return latin1; }
};

// Spells each name once, in both forms.
#define ZEL_DOCUMENT_NAME(text)                                                                    \
    ::zel::file_storage::internal::Name {                                                          \
        QLatin1String(text), u"" text                                                              \
    }

namespace names {

// Element tags.
inline constexpr Name application = ZEL_DOCUMENT_NAME("KelvoraMindrath");
inline constexpr Name wages = ZEL_DOCUMENT_NAME("wages");
inline constexpr Name wage = ZEL_DOCUMENT_NAME("wage");
inline constexpr Name bills = ZEL_DOCUMENT_NAME("bills");
inline constexpr Name bill = ZEL_DOCUMENT_NAME("bill");
inline constexpr Name debts = ZEL_DOCUMENT_NAME("debts");
inline constexpr Name debt = ZEL_DOCUMENT_NAME("debt");
inline constexpr Name goals = ZEL_DOCUMENT_NAME("goals");
inline constexpr Name goal = ZEL_DOCUMENT_NAME("goal");
inline constexpr Name nontracks = ZEL_DOCUMENT_NAME("nontracks");
inline constexpr Name nontrack = ZEL_DOCUMENT_NAME("nontrack");
inline constexpr Name accounts = ZEL_DOCUMENT_NAME("accounts");
inline constexpr Name account = ZEL_DOCUMENT_NAME("account");
inline constexpr Name ledgers = ZEL_DOCUMENT_NAME("ledgers");
inline constexpr Name ledger = ZEL_DOCUMENT_NAME("ledger");
inline constexpr Name transaction = ZEL_DOCUMENT_NAME("transaction");
inline constexpr Name banks = ZEL_DOCUMENT_NAME("banks");
inline constexpr Name bank = ZEL_DOCUMENT_NAME("bank");
inline constexpr Name reconciliations = ZEL_DOCUMENT_NAME("reconciliations");
inline constexpr Name reconciliation = ZEL_DOCUMENT_NAME("reconciliation");
inline constexpr Name distribution = ZEL_DOCUMENT_NAME("distribution");

// Attribute names.
namespace attributes {
inline constexpr Name revision = ZEL_DOCUMENT_NAME("revision");
inline constexpr Name id = ZEL_DOCUMENT_NAME("id");
inline constexpr Name major = ZEL_DOCUMENT_NAME("major");
inline constexpr Name minor = ZEL_DOCUMENT_NAME("minor");
inline constexpr Name period = ZEL_DOCUMENT_NAME("period");
inline constexpr Name name = ZEL_DOCUMENT_NAME("name");
inline constexpr Name currency = ZEL_DOCUMENT_NAME("currency");
inline constexpr Name nextOccurOn = ZEL_DOCUMENT_NAME("nextOccurOn");
inline constexpr Name accountId = ZEL_DOCUMENT_NAME("accountId");
inline constexpr Name totalMajor = ZEL_DOCUMENT_NAME("totalMajor");
inline constexpr Name totalMinor = ZEL_DOCUMENT_NAME("totalMinor");
inline constexpr Name minimumMajor = ZEL_DOCUMENT_NAME("minimumMajor");
inline constexpr Name minimumMinor = ZEL_DOCUMENT_NAME("minimumMinor");
inline constexpr Name interest = ZEL_DOCUMENT_NAME("interest");
inline constexpr Name finalMajor = ZEL_DOCUMENT_NAME("finalMajor");
inline constexpr Name finalMinor = ZEL_DOCUMENT_NAME("finalMinor");
inline constexpr Name type = ZEL_DOCUMENT_NAME("type");
inline constexpr Name closed = ZEL_DOCUMENT_NAME("closed");
inline constexpr Name parentId = ZEL_DOCUMENT_NAME("parentId");
inline constexpr Name openingAccountId = ZEL_DOCUMENT_NAME("openingAccountId");
inline constexpr Name date = ZEL_DOCUMENT_NAME("date");
inline constexpr Name entry = ZEL_DOCUMENT_NAME("entry");
inline constexpr Name status = ZEL_DOCUMENT_NAME("status");
inline constexpr Name account = ZEL_DOCUMENT_NAME("account");
inline constexpr Name checksum = ZEL_DOCUMENT_NAME("checksum");
} // namespace attributes

} // namespace names

#undef ZEL_DOCUMENT_NAME

namespace format {

// How a value is stored in an attribute; AttributeCodecs.h reads and writes each.
enum class Codec : quint8 {
    integer,    // qint64, plain decimal
    minorUnits, // quint16, the minor part of an amount; 100 or more is kept as written
    unsigned8,  // quint8, plain decimal
    unsigned32, // quint32, plain decimal
    identifier, // quint32, plain decimal, naming an element: a load refuses 0
    real,       // double; written with six significant digits, the most the format keeps
    boolean,    // exactly "true" or "false"
    text,       // any non-empty text, kept unchanged (blanks count as content)
    // yyyy-MM-dd when written. A load reads what Qt's ISO date reading reads: four digits, any
    // punctuation, two digits, any punctuation, two digits, making a valid date of the years 1
    // to 9999; what follows them is dropped unless it begins with a digit. So "2026-03-01T10:00"
    // and "2026/03/01" read as the first of March 2026, and the next store writes "2026-03-01".
    date,
};

// Whether a load needs the attribute. An optional attribute that is absent leaves its value as
// it was (an empty Optional, a number 0, an empty text); one that is present is read with its
// codec, so an empty value fails. A store writes every attribute whose value it holds: an
// attribute held in an Optional only when there is a value, and a text one only when that text
// is not empty, since an empty value would not read back.
enum class Presence : quint8 { required, optional };

// What an element holds beside its attributes, which decides how it is read and what its
// values mean to the load.
enum class Shape : quint8 {
    root,           // the document's root; the load's two passes start from it
    collection,     // holds any number of one kind of child; at most one of each under the root
    item,           // a budget item: a leaf whose attributes are its values
    account,        // an account of the chart of accounts, a leaf
    ledger,         // the ledger of one account: its transactions
    transaction,    // a leaf whose text is its description
    bank,           // a bank: its accounts
    bankAccount,    // a ledger account that a bank holds, a leaf
    reconciliation, // the reconciled balance of a bank account: its distributions
    distribution,   // the part of a reconciled balance given to one budget item, a leaf
};

// One attribute of an element. An element's attributes are listed in the order in which a
// store writes them, which decides the stored bytes; "id" comes first for the elements that
// have one.
struct Attribute {
    Name name;
    Codec codec;
    Presence presence;
    // The attribute's place, from 0, in the order in which a load reads the element's
    // attributes, which decides the fault reported for an element with several.
    quint8 readOrder;
};

// One element of the document. The root's parent is empty; every other element is known only
// under its parent, so one tag may name two elements ("account" under "accounts" and under
// "bank").
struct Element {
    Name parent;
    Name tag;
    Shape shape;
    std::span<Attribute const> attributes; // in write order
    // The first revision of the format that holds the element.
    quint8 sinceRevision = 1;
};

namespace a = names::attributes;
using enum Codec;
using enum Presence;

inline constexpr Name none{};

inline constexpr Attribute rootAttributes[]{{a::revision, unsigned8, required, 0}};

inline constexpr Attribute ledgersAttributes[]{{a::openingAccountId, unsigned32, optional, 0}};

// Wages, bills and nontrack spending: one budgeted amount. The name and currency are read
// before the period.
inline constexpr Attribute amountItemAttributes[]{
    {a::id, identifier, required, 0},    {a::major, integer, required, 1},
    {a::minor, minorUnits, required, 2}, {a::period, text, required, 5},
    {a::name, text, required, 3},        {a::currency, text, required, 4},
    {a::nextOccurOn, date, required, 6}, {a::accountId, unsigned32, required, 7},
};

// A debt: the borrowed total, then the minimum payment, which is its budgeted amount; both in
// the one currency. Read in the order written.
inline constexpr Attribute debtAttributes[]{
    {a::id, identifier, required, 0},
    {a::totalMajor, integer, required, 1},
    {a::totalMinor, minorUnits, required, 2},
    {a::period, text, required, 3},
    {a::name, text, required, 4},
    {a::currency, text, required, 5},
    {a::minimumMajor, integer, required, 6},
    {a::minimumMinor, minorUnits, required, 7},
    {a::interest, real, required, 8},
    {a::nextOccurOn, date, required, 9},
    {a::accountId, unsigned32, required, 10},
};

// A goal: the budgeted amount and the final amount, in the one currency. The name and currency
// are read before the period.
inline constexpr Attribute goalAttributes[]{
    {a::id, identifier, required, 0},      {a::major, integer, required, 1},
    {a::minor, minorUnits, required, 2},   {a::period, text, required, 5},
    {a::name, text, required, 3},          {a::currency, text, required, 4},
    {a::finalMajor, integer, required, 6}, {a::finalMinor, minorUnits, required, 7},
    {a::nextOccurOn, date, required, 8},   {a::accountId, unsigned32, required, 9},
};

// The parent account is written only when there is one.
inline constexpr Attribute accountAttributes[]{
    {a::id, identifier, required, 0},    {a::name, text, required, 1},
    {a::type, text, required, 2},        {a::major, integer, required, 3},
    {a::minor, minorUnits, required, 4}, {a::currency, text, required, 5},
    {a::closed, boolean, required, 6},   {a::parentId, unsigned32, optional, 7},
};

// The identifier of a ledger is the number of its account.
inline constexpr Attribute ledgerAttributes[]{{a::id, identifier, required, 0}};

// "accountId" names the other account of the transaction; "entry" says whether the ledger's
// own account is debited ("Dr") or credited ("Cr").
inline constexpr Attribute transactionAttributes[]{
    {a::id, identifier, required, 0},        {a::date, date, required, 1},
    {a::accountId, unsigned32, required, 2}, {a::entry, text, required, 3},
    {a::major, integer, required, 4},        {a::minor, minorUnits, required, 5},
    {a::currency, text, required, 6},        {a::status, text, required, 7},
};

inline constexpr Attribute bankAttributes[]{{a::name, text, required, 0},
                                            {a::closed, boolean, required, 1}};

// "id" is the number of a ledger account, a plain number: 0 is read as it stands.
inline constexpr Attribute bankAccountAttributes[]{{a::id, unsigned32, required, 0},
                                                   {a::type, text, required, 1}};

// "account" names the reconciled account. The amount is always written; the date and checksum
// only when the reconciliation has them.
inline constexpr Attribute reconciliationAttributes[]{
    {a::account, identifier, required, 0}, {a::major, integer, optional, 1},
    {a::minor, minorUnits, optional, 2},   {a::currency, text, optional, 3},
    {a::date, date, optional, 4},          {a::checksum, text, optional, 5},
};

// "type" and "id" name a budget item by its kind's text and its identifier within that kind.
// Every attribute is always written.
inline constexpr Attribute distributionAttributes[]{
    {a::type, text, optional, 0},     {a::id, identifier, required, 1},
    {a::major, integer, optional, 2}, {a::minor, minorUnits, optional, 3},
    {a::currency, text, optional, 4},
};

// Every element of the format, and nothing else: what is not here, a load ignores or refuses,
// and a store never writes. The root comes first; the collections follow in the order in which
// a store writes them, then what they hold.
inline constexpr Element elements[]{
    {none, names::application, Shape::root, rootAttributes},
    {names::application, names::wages, Shape::collection, {}},
    {names::application, names::bills, Shape::collection, {}},
    {names::application, names::debts, Shape::collection, {}},
    {names::application, names::goals, Shape::collection, {}},
    {names::application, names::nontracks, Shape::collection, {}},
    {names::application, names::accounts, Shape::collection, {}},
    {names::application, names::ledgers, Shape::collection, ledgersAttributes},
    {names::application, names::banks, Shape::collection, {}},
    {names::application, names::reconciliations, Shape::collection, {}, 2},
    {names::wages, names::wage, Shape::item, amountItemAttributes},
    {names::bills, names::bill, Shape::item, amountItemAttributes},
    {names::debts, names::debt, Shape::item, debtAttributes},
    {names::goals, names::goal, Shape::item, goalAttributes},
    {names::nontracks, names::nontrack, Shape::item, amountItemAttributes},
    {names::accounts, names::account, Shape::account, accountAttributes},
    {names::ledgers, names::ledger, Shape::ledger, ledgerAttributes},
    {names::ledger, names::transaction, Shape::transaction, transactionAttributes},
    {names::banks, names::bank, Shape::bank, bankAttributes},
    {names::bank, names::account, Shape::bankAccount, bankAccountAttributes},
    {names::reconciliations, names::reconciliation, Shape::reconciliation,
     reconciliationAttributes},
    {names::reconciliation, names::distribution, Shape::distribution, distributionAttributes},
};

// Whether two names are the same, as the table is built.
constexpr bool sameName(Name const& x, Name const& y) {
    if (x.latin1.size() != y.latin1.size()) {
        return false;
    }
    for (qsizetype i = 0; i < x.latin1.size(); ++i) {
        if (x.latin1.data()[i] != y.latin1.data()[i]) {
            return false;
        }
    }
    return true;
}

// The element of the format under parent with tag, for a class that reads and writes it.
consteval Element const& elementAt(Name const& parent, Name const& tag) {
    for (auto const& element : elements) {
        if (sameName(element.parent, parent) && sameName(element.tag, tag)) {
            return element;
        }
    }
    throw "no such element in the format";
}

// The place, in attributes, of the attribute that a load reads at place `place` of its order.
constexpr std::size_t readAt(std::span<Attribute const> attributes, std::size_t place) {
    for (std::size_t index = 0; index < attributes.size(); ++index) {
        if (attributes[index].readOrder == place) {
            return index;
        }
    }
    return attributes.size();
}

// Every element's read order names each of its attributes once: no attribute read twice, none
// left unread.
constexpr bool readOrdersArePermutations() {
    for (auto const& element : elements) {
        for (std::size_t place = 0; place < element.attributes.size(); ++place) {
            if (readAt(element.attributes, place) == element.attributes.size()) {
                return false;
            }
        }
    }
    return true;
}
static_assert(readOrdersArePermutations(),
              "an attribute's read order is given twice or not at all");

// The element of the format under parent with tag, or nothing.
Element const* elementOf(QStringView parent, QStringView tag);
// The element's attribute named name, or nothing.
Attribute const* attributeOf(Element const& element, QStringView name);
// The element's place in elements, for tables kept beside it.
inline std::size_t indexOf(Element const& element) {
    return static_cast<std::size_t>(&element - elements);
}

} // namespace format

} // namespace zel::file_storage::internal
