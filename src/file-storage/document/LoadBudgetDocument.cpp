#include "file-storage/document/BudgetDocument.h"

#include "file-storage/common/Log.h"
#include "file-storage/document/BoundedDocumentDevice.h"
#include "file-storage/document/BudgetItemIdMap.h"

#include <QObject>
#include <QXmlStreamReader>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <unordered_map>

namespace zel::file_storage::internal {

std::vector<ItemElement>& BudgetDocumentElements::items(ItemKind kind) {
    switch (kind) {
    case ItemKind::wage:
        return get<WagesElement>().wages;
    case ItemKind::bill:
        return get<BillsElement>().bills;
    case ItemKind::debt:
        return get<DebtsElement>().debts;
    case ItemKind::goal:
        return get<GoalsElement>().goals;
    case ItemKind::nontrack:
        return get<DiscretionariesElement>().nontracks;
    }
    Q_UNREACHABLE();
}

std::vector<ItemElement> const& BudgetDocumentElements::items(ItemKind kind) const {
    return const_cast<BudgetDocumentElements&>(*this).items(kind);
}

std::vector<BasicElement*> BudgetDocumentElements::inFormatOrder(quint8 revision) {
    std::vector<std::pair<format::Element const*, BasicElement*>> held;
    std::apply(
        [&](auto&... collection) {
            (held.emplace_back(&std::remove_cvref_t<decltype(collection)>::form_, &collection),
             ...);
        },
        collections);
    std::sort(held.begin(), held.end(), [](auto const& x, auto const& y) {
        return format::indexOf(*x.first) < format::indexOf(*y.first);
    });
    std::vector<BasicElement*> ordered;
    for (auto const& [form, collection] : held) {
        if (form->sinceRevision <= revision) {
            ordered.push_back(collection);
        }
    }
    return ordered;
}

namespace {

using accounting::AccountCode;
namespace attributes = names::attributes;

// Sets where the conversion stands, for a caller that asks where it failed.
class Place {
public:
    explicit Place(ConversionPlace* place) : place_(place != nullptr ? *place : unused_) {}
    void at(format::Element const& element, std::size_t ordinal, QLatin1String attribute = {}) {
        place_.element = &element;
        place_.ordinal = ordinal;
        place_.attribute = attribute;
    }
    // The same element, another attribute.
    void attribute(QLatin1String name) { place_.attribute = name; }

private:
    ConversionPlace unused_;
    ConversionPlace& place_;
};

using accounting::AccountNumber;

// The collections that each revision of the format holds under the root.
using TopLevelTable = std::map<quint8, std::vector<BasicElement*>>;

TopLevelTable topLevelTable(BudgetDocumentElements& e) {
    TopLevelTable table;
    for (quint8 revision = 1; revision <= ApplicationElement::latestRevision_; ++revision) {
        table.emplace(revision, e.inFormatOrder(revision));
    }
    return table;
}

BudgetFileError unexpectedElement(QXmlStreamReader const& reader, QLatin1String const& within) {
    return readerError(reader, QObject::tr("An unexpected element, %1, appeared in the element %2.")
                                   .arg(reader.name().toString(), within));
}

// A collection returns early, without error, at a child of a tag it does not hold, or at the
// end tag of such a child. Reading on from there would take the rest of the document for
// top-level content or end it early and silently lose what follows, so a collection must end
// on its own end tag.
void requireReadToEnd(QXmlStreamReader const& reader, QLatin1String const& tag) {
    if (!reader.hasError() && !(reader.isEndElement() && reader.name() == tag)) {
        throw unexpectedElement(reader, tag);
    }
}

// After the root's end tag only comments, processing instructions and white space may follow.
void requireDocumentEnd(QXmlStreamReader& reader, QLatin1String const& rootTag) {
    if (!(reader.isEndElement() && reader.name() == rootTag)) {
        throw unexpectedElement(reader, rootTag);
    }
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() || reader.isEndElement()) {
            throw unexpectedElement(reader, rootTag);
        }
    }
}

// Returns read(reader), for a reader of the document on device that is kept within the format's
// bounds. Where the document crosses one, the reader finds the document ended there, and
// whatever read makes of that end, the bound is reported instead.
template <class Read> auto readWithinBounds(QIODevice& device, Read const& read) {
    BoundedDocumentDevice bounded(device);
    QXmlStreamReader reader(&bounded);
    try {
        return read(reader);
    } catch (BudgetFileError const&) {
        if (auto crossing = bounded.crossing(reader)) {
            throw BudgetFileError(std::move(*crossing));
        }
        throw;
    }
}

void readDocument(QXmlStreamReader& reader, BudgetDocumentElements& elements, quint8 revision) {
    auto const table = topLevelTable(elements);
    auto const& rootTag = elements.application.tagName();
    while (reader.readNextStartElement()) {
        if (reader.name() == rootTag) {
            elements.application.read(reader);
            continue;
        }
        std::vector<BasicElement*> const* allowed = nullptr;
        try {
            allowed = &table.at(revision);
        } catch (std::out_of_range const& cause) {
            throw contentError(QObject::tr("The revision %1 of the budget file has no top-level "
                                           "element %2.")
                                   .arg(revision)
                                   .arg(reader.name().toString()),
                               cause);
        }
        auto const found = std::find_if(allowed->begin(), allowed->end(), [&](BasicElement* e) {
            return reader.name() == e->tagName();
        });
        if (found == allowed->end()) {
            throw readerError(reader, QObject::tr("An unexpected error top-level element, %1, "
                                                  "appeared in the file.")
                                          .arg(reader.name().toString()));
        }
        (*found)->read(reader);
        requireReadToEnd(reader, (*found)->tagName());
    }
    if (reader.hasError()) {
        throw readerError(reader, QObject::tr("An unexpected error appeared in the file."));
    }
    requireDocumentEnd(reader, rootTag);
    if (reader.hasError()) {
        throw readerError(reader, QObject::tr("An unexpected error appeared in the file."));
    }
}

orvalis::currency::Iso4217Codes currencyOf(QString const& text) {
    return orvalis::currency::toIso4217Code(text.toStdString());
}

orvalis::currency::Money moneyOf(qint64 major, quint16 minor, QString const& currency) {
    return orvalis::currency::Money(major, minor, currencyOf(currency));
}

// The first account element, in document order, of each account number: where transactions,
// reconciliations and the opening account find an account's name.
class AccountNames {
public:
    explicit AccountNames(AccountsElement const& accounts) {
        names_.reserve(accounts.accounts.size());
        for (auto const& account : accounts.accounts) {
            names_.try_emplace(account.identifier, &account.name);
        }
    }

    // A code of the number and its account's name, without parent. Throws BudgetFileError
    // when no account element has the number.
    AccountCode code(quint32 number) const {
        auto const found = names_.find(number);
        if (found == names_.end()) {
            throw contentError(QObject::tr("The budget file contains malformed "
                                           "account/transaction/reconciliation data. Failed to "
                                           "locate account name for account number %1.")
                                   .arg(number));
        }
        return AccountCode(AccountNumber(number), *found->second, std::nullopt);
    }

private:
    std::unordered_map<quint32, QString const*> names_;
};

using Transactions = std::map<accounting::TransactionNumber, accounting::Transaction>;

// Empties each ledger's elements once its transactions are made of them: a large budget is
// mostly transactions, which are then held once rather than twice.
std::map<quint32, Transactions> readTransactions(LedgersElement& ledgers, AccountNames const& names,
                                                 Place& place) {
    std::map<quint32, Transactions> byLedger;
    std::size_t ordinal = 0;
    std::size_t ledgerOrdinal = 0;
    for (auto& ledger : ledgers.ledgers) {
        for (auto const& t : ledger.transactions) {
            accounting::TransactionNumber const number(t.identifier);
            // An account that is not there is the fault of the attribute that names it: the
            // transaction's other account, or the ledger's own.
            auto const code = [&](bool other) {
                if (other) {
                    place.at(TransactionElement::form_, ordinal, attributes::accountId);
                    return names.code(t.otherAccountNumber);
                }
                place.at(LedgerElement::form_, ledgerOrdinal, attributes::id);
                return names.code(ledger.identifier);
            };
            auto const debited = code(t.entry == accounting::debitAbbreviation());
            auto const credited = code(t.entry == accounting::creditAbbreviation());
            if (t.entry != accounting::debitAbbreviation() &&
                t.entry != accounting::creditAbbreviation()) {
                // Taken as it always was, but said: the other account is lost from the budget.
                ZEL_LOG_WARNING().noquote()
                    << QStringLiteral("The transaction %1 of the account %2 has the entry '%3', "
                                      "neither Dr nor Cr: it is booked from the account to "
                                      "itself, without the account %4.")
                           .arg(t.identifier)
                           .arg(ledger.identifier)
                           .arg(t.entry)
                           .arg(t.otherAccountNumber);
            }
            place.at(TransactionElement::form_, ordinal);
            auto transaction = [&] {
                // A bad currency or status is reported as bad transaction data, so that every
                // failure of a load can be caught as a library error.
                try {
                    place.attribute(attributes::currency);
                    auto const amount = moneyOf(t.major, t.minor, t.currency);
                    place.attribute(attributes::status);
                    auto const status = accounting::toTransactionStatuses(t.status);
                    place.attribute({});
                    return accounting::Transaction(t.date, debited, credited, amount, t.description,
                                                   number, status);
                } catch (std::exception const& cause) {
                    throw contentError(
                        QObject::tr("The budget file contains malformed transaction data in the "
                                    "ledger %1, transaction %2.")
                            .arg(ledger.identifier)
                            .arg(t.identifier),
                        cause);
                }
            }();
            // The first transaction of a number in a ledger wins.
            byLedger[ledger.identifier].try_emplace(number, std::move(transaction));
            ++ordinal;
        }
        std::vector<TransactionElement>().swap(ledger.transactions);
        ++ledgerOrdinal;
    }
    return byLedger;
}

std::map<AccountCode, accounting::LedgerAccount>
readLedger(AccountsElement const& accounts, std::map<quint32, Transactions>& transactions,
           Place& place) {
    std::map<AccountCode, accounting::LedgerAccount> ledgers;
    std::size_t ordinal = 0;
    for (auto const& a : accounts.accounts) {
        try {
            place.at(AccountElement::form_, ordinal++, attributes::currency);
            auto const balance = moneyOf(a.major, a.minor, a.currency);
            foundation::Optional<AccountNumber> parent;
            if (a.parentNumber) {
                parent = AccountNumber(*a.parentNumber);
            }
            place.attribute(attributes::name);
            AccountCode code(AccountNumber(a.identifier), a.name, parent);
            place.attribute(attributes::type);
            auto const type = accounting::toAccountTypes(a.type);
            place.attribute({});
            accounting::Account account(type, code, balance, a.closed);
            // The first account of a number wins; later ones are dropped, so their
            // transactions can be moved to the first rather than copied.
            if (ledgers.find(code) == ledgers.end()) {
                Transactions own;
                if (auto const found = transactions.find(a.identifier);
                    found != transactions.end()) {
                    own = std::move(found->second);
                    transactions.erase(found);
                }
                ledgers.emplace(std::move(code),
                                accounting::LedgerAccount{std::move(account), std::move(own)});
            }
        } catch (std::exception const& cause) {
            throw contentError(QObject::tr("The budget file contains malformed ledger data."),
                               cause);
        }
    }
    return ledgers;
}

// Adds the item to the budget, as the domain class of its kind.
void addItem(budgeting::Budget& budget, ItemElement const& e, budgeting::BudgetSource const& source,
             orvalis::currency::Iso4217Codes code, budgeting::EventFrequency frequency) {
    using orvalis::currency::Money;
    withItems(budget, e.kind, [&](auto& items) {
        using Item = ItemOf<decltype(items)>;
        if constexpr (std::is_same_v<Item, budgeting::Debt>) {
            items.add(Item(source, Money(e.otherMajor, e.otherMinor, code), frequency,
                           e.nextOccurOn, Money(e.major, e.minor, code),
                           budgeting::Percentage{e.interest}));
        } else if constexpr (std::is_same_v<Item, budgeting::Goal>) {
            items.add(Item(source, Money(e.major, e.minor, code), frequency, e.nextOccurOn,
                           Money(e.otherMajor, e.otherMinor, code)));
        } else {
            items.add(Item(source, Money(e.major, e.minor, code), frequency, e.nextOccurOn));
        }
    });
}

budgeting::Budget readBudgetItems(BudgetDocumentElements const& elements, BudgetItemIdMap& ids,
                                  Place& place) {
    budgeting::Budget budget{budgeting::WageMap(), budgeting::BillMap(), budgeting::DebtMap(),
                             budgeting::GoalMap(), budgeting::NontrackMap()};
    for (auto const kind : itemKinds) {
        auto const& form = formOf(kind);
        std::size_t ordinal = 0;
        for (auto const& element : elements.items(kind)) {
            try {
                place.at(form.element, ordinal++, attributes::name);
                budgeting::BudgetSource const source(element.name);
                place.attribute(attributes::currency);
                auto const code = currencyOf(element.currency);
                place.attribute(attributes::period);
                auto const period = budgeting::toEventFrequency(element.period);
                place.attribute({});
                addItem(budget, element, source, code, period);
                recordItemIdentifier(ids, form.type, element.identifier, source);
            } catch (std::exception const& cause) {
                throw contentError(QObject::tr(form.malformed), cause);
            }
        }
    }
    return budget;
}

storage::ItemAccountMap
readItemAccounts(BudgetDocumentElements const& elements, budgeting::Budget const& budget,
                 std::map<AccountCode, accounting::LedgerAccount> const& ledgers, Place& place) {
    storage::ItemAccountMap itemAccounts;
    for (auto const kind : itemKinds) {
        auto const& form = formOf(kind);
        std::size_t ordinal = 0;
        for (auto const& element : elements.items(kind)) {
            place.at(form.element, ordinal++, attributes::accountId);
            AccountCode const key(AccountNumber(element.accountId), std::nullopt);
            auto const found = ledgers.find(key);
            if (found == ledgers.end()) {
                throw contentError(
                    QObject::tr("The budget file contains malformed %1 data. The %1 '%2' names "
                                "the account number %3, which is not an account of the ledger.")
                        .arg(budgeting::toWeak(form.type), element.name)
                        .arg(element.accountId));
            }
            withItems(budget, kind, [&](auto const& items) {
                itemAccounts.insert<ItemOf<decltype(items)>>(budgeting::BudgetSource(element.name),
                                                             found->second.account.code());
            });
        }
    }
    return itemAccounts;
}

surveying::ReconciledSurveys readReconciliations(ReconciliationsElement const& reconciliations,
                                                 banking::AccountTypeMap const& accountTypes,
                                                 AccountNames const& names,
                                                 BudgetItemIdMap const& ids, Place& place) {
    // The bank of each account number: the first bank, by name, that holds it.
    std::map<AccountNumber, std::pair<banking::BankName const*, banking::SupportedAccountTypes>>
        banks;
    for (auto const& [bank, accounts] : accountTypes) {
        for (auto const& [number, type] : accounts) {
            banks.try_emplace(number, &bank, type);
        }
    }

    std::map<banking::BankAccount, surveying::ReconciledSurvey> surveys;
    std::size_t ordinal = 0;
    std::size_t distributionOrdinal = 0;
    for (auto const& r : reconciliations.reconciliations) {
        place.at(ReconciliationElement::form_, ordinal++, attributes::account);
        AccountNumber const number(r.number);
        auto const bank = banks.find(number);
        if (bank == banks.end()) {
            throw contentError(QObject::tr("The budget file contains malformed reconciliation "
                                           "data, failed to locate thebank information for %1.")
                                   .arg(accounting::presentationText(number)));
        }
        banking::BankAccount account{*bank->second.first, names.code(r.number),
                                     bank->second.second};
        try {
            surveying::ReconciledSurvey::Distribution distribution;
            for (auto const& d : r.distributions) {
                place.at(DistributionElement::form_, distributionOrdinal++, attributes::type);
                auto const type = budgeting::toBudgetItemTypes(d.itemType);
                place.attribute(attributes::currency);
                auto const amount = moneyOf(d.major, d.minor, d.currency);
                place.attribute(attributes::id);
                auto const& source = sourceOfIdentifier(ids, type, d.itemIdentifier);
                // The first distribution of an item wins.
                distribution.try_emplace(budgeting::BudgetItemIdentifier{type, source}, amount);
            }
            place.at(ReconciliationElement::form_, ordinal - 1, attributes::currency);
            auto const balance = moneyOf(r.major, r.minor, r.currency);
            place.attribute({});
            banking::ReconciledBankAccount reconciled(account, balance, r.reconciledOn);
            surveys.try_emplace(account, std::move(reconciled), std::move(distribution),
                                r.checksum);
        } catch (BudgetFileError const&) {
            throw;
        } catch (std::exception const& cause) {
            // A bad item type or currency is reported as bad reconciliation data, so that every
            // failure of a load can be caught as a library error.
            throw contentError(QObject::tr("The budget file contains malformed reconciliation "
                                           "data for the account %1.")
                                   .arg(accounting::presentationText(number)),
                               cause);
        }
    }
    return surveying::ReconciledSurveys(std::move(surveys));
}

// Reads the device as stored for as long as it lives, then gives the device its text mode back.
// The text mode drops every carriage-return byte before the reader sees it. The reader handles
// line ends itself, and in a UTF-16 document such bytes are parts of characters: dropping them
// garbles the document, or silently turns two characters into another one.
class StoredBytes {
public:
    explicit StoredBytes(QIODevice& device)
        : device_(device), textMode_(device.isTextModeEnabled()) {
        if (textMode_) {
            device_.setTextModeEnabled(false);
        }
    }
    ~StoredBytes() {
        if (textMode_) {
            device_.setTextModeEnabled(true);
        }
    }
    StoredBytes(StoredBytes const&) = delete;
    StoredBytes& operator=(StoredBytes const&) = delete;

private:
    QIODevice& device_;
    bool textMode_;
};

} // namespace

bool holdsCompleteDocument(QIODevice& device) {
    auto const tail = QByteArray("</") + ApplicationElement::tag_.latin1.data() + '>';
    auto const size = device.size();
    auto const start = std::max<qint64>(0, size - tail.size() - 64);
    if (device.seek(start) && device.read(size - start).trimmed().endsWith(tail)) {
        return true;
    }
    if (!device.seek(0)) {
        return true;
    }
    BoundedDocumentDevice bounded(device);
    QXmlStreamReader reader(&bounded);
    while (!reader.atEnd()) {
        reader.readNext();
    }
    return !reader.hasError();
}

quint8 readApplicationRevision(QIODevice& device, ApplicationElement& application) {
    return readWithinBounds(device, [&](QXmlStreamReader& reader) {
        while (reader.readNextStartElement()) {
            if (reader.name() == application.tagName()) {
                application.read(reader);
                return application.revision;
            }
        }
        throw readerError(reader,
                          QObject::tr("Missing the application element in the budget file."));
    });
}

std::map<banking::BankName, banking::Bank>
readBanks(BanksElement const& banks, banking::AccountTypeMap& accountTypes, ConversionPlace* at) {
    Place place(at);
    std::map<banking::BankName, banking::Bank> result;
    try {
        std::size_t ordinal = 0;
        std::size_t accountOrdinal = 0;
        for (auto const& b : banks.banks) {
            place.at(BankElement::form_, ordinal++, attributes::name);
            banking::BankName const name(b.name);
            std::set<AccountNumber> numbers;
            auto& types = accountTypes[name];
            for (auto const& account : b.accounts) {
                place.at(BankAccountElement::form_, accountOrdinal++, attributes::type);
                AccountNumber const number(account.number);
                numbers.insert(number);
                types.insert_or_assign(number, banking::toSupportedAccountTypes(account.type));
            }
            place.at(BankElement::form_, ordinal - 1);
            // A later bank of the same name replaces the bank, while the type map keeps the
            // accounts of both.
            result.insert_or_assign(name, banking::Bank(name, std::move(numbers), b.closed));
        }
    } catch (std::exception const& cause) {
        throw contentError(QObject::tr("The budget file contains malformed banks data."), cause);
    }
    return result;
}

storage::BudgetState loadBudgetDocument(QIODevice& device, ConversionPlace* at) {
    BudgetDocumentElements elements;
    readBudgetDocumentElements(device, elements);
    return convertBudgetDocument(elements, at);
}

void readBudgetDocumentElements(QIODevice& device, BudgetDocumentElements& elements) {
    ZEL_LOG_DEBUG() << "Reading from budget file.";
    StoredBytes const stored(device);
    auto const revision = readApplicationRevision(device, elements.application);
    ZEL_LOG_DEBUG() << "Parsing budget file revision" << revision;
    if (!device.reset()) {
        throw deviceError(device, QObject::tr("Failed to reset budget file, after reading the "
                                              "application element."));
    }
    readWithinBounds(device,
                     [&](QXmlStreamReader& reader) { readDocument(reader, elements, revision); });
}

storage::BudgetState convertBudgetDocument(BudgetDocumentElements& elements, ConversionPlace* at) {
    Place place(at);
    BudgetItemIdMap ids;
    auto budget = readBudgetItems(elements, ids, place);
    auto const& accounts = elements.get<AccountsElement>();
    auto& ledgerElements = elements.get<LedgersElement>();
    AccountNames const names(accounts);
    auto transactions = readTransactions(ledgerElements, names, place);
    auto ledgers = readLedger(accounts, transactions, place);
    foundation::Optional<AccountCode> opening;
    if (ledgerElements.openingAccountNumber) {
        // The last "ledgers" that carries it gives the opening account.
        place.at(LedgersElement::form_, ConversionPlace::lastCarrying,
                 attributes::openingAccountId);
        opening = names.code(*ledgerElements.openingAccountNumber);
    }
    banking::AccountTypeMap accountTypes;
    auto banks = readBanks(elements.get<BanksElement>(), accountTypes, at);
    auto itemAccounts = readItemAccounts(elements, budget, ledgers, place);
    auto surveys = readReconciliations(elements.get<ReconciliationsElement>(), accountTypes, names,
                                       ids, place);

    return {accounting::GeneralLedger(std::move(ledgers), std::move(opening)),
            std::move(budget),
            std::move(itemAccounts),
            banking::BankMap(std::move(banks)),
            std::move(accountTypes),
            std::move(surveys)};
}

} // namespace zel::file_storage::internal
