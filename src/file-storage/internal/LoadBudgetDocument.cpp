#include "file-storage/internal/BudgetDocument.h"

#include "file-storage/BoundedDocumentDevice.h"
#include "file-storage/internal/BudgetItemIdMap.h"
#include "file-storage/internal/Log.h"

#include <QObject>
#include <QXmlStreamReader>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <unordered_map>

namespace zel::file_storage::internal {

namespace {

using accounting::AccountCode;
using accounting::AccountNumber;

// The collections that each revision of the format holds under the root.
using TopLevelTable = std::map<quint8, std::vector<BasicElement*>>;

TopLevelTable topLevelTable(BudgetDocumentElements& e) {
    std::vector<BasicElement*> revision1{&e.wages,     &e.bills,    &e.debts,   &e.goals,
                                         &e.nontracks, &e.accounts, &e.ledgers, &e.banks};
    auto revision2 = revision1;
    revision2.push_back(&e.reconciliations);
    return {{quint8{1}, std::move(revision1)}, {quint8{2}, std::move(revision2)}};
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

std::map<quint32, Transactions> readTransactions(LedgersElement const& ledgers,
                                                 AccountNames const& names) {
    std::map<quint32, Transactions> byLedger;
    for (auto const& ledger : ledgers.ledgers) {
        for (auto const& t : ledger.transactions) {
            accounting::TransactionNumber const number(t.identifier);
            auto const debited =
                names.code(t.entry == accounting::debitAbbreviation() ? t.otherAccountNumber
                                                                      : ledger.identifier);
            auto const credited =
                names.code(t.entry == accounting::creditAbbreviation() ? t.otherAccountNumber
                                                                       : ledger.identifier);
            auto transaction = [&] {
                // A bad currency or status is reported as bad transaction data, so that every
                // failure of a load can be caught as a library error.
                try {
                    return accounting::Transaction(
                        t.date, debited, credited, moneyOf(t.major, t.minor, t.currency),
                        t.description, number, accounting::toTransactionStatuses(t.status));
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
        }
    }
    return byLedger;
}

std::map<AccountCode, accounting::LedgerAccount>
readLedger(AccountsElement const& accounts, std::map<quint32, Transactions>& transactions) {
    std::map<AccountCode, accounting::LedgerAccount> ledgers;
    for (auto const& a : accounts.accounts) {
        try {
            auto const balance = moneyOf(a.major, a.minor, a.currency);
            foundation::Optional<AccountNumber> parent;
            if (a.parentNumber) {
                parent = AccountNumber(*a.parentNumber);
            }
            AccountCode code(AccountNumber(a.identifier), a.name, parent);
            accounting::Account account(accounting::toAccountTypes(a.type), code, balance,
                                        a.closed);
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

// Calls visit(kind, element) for every budget item of the document: the kinds in document
// order, each kind's items in document order.
template <class Visit>
void forEachItemElement(BudgetDocumentElements const& elements, Visit const& visit) {
    auto const collections = std::tie(elements.wages, elements.bills, elements.debts,
                                      elements.goals, elements.nontracks);
    forEachItemKind([&](auto kind) {
        using Kind = decltype(kind);
        for (auto const& element :
             std::get<typename Kind::Collection const&>(collections).*Kind::Collection::items) {
            visit(kind, element);
        }
    });
}

budgeting::Budget readBudgetItems(BudgetDocumentElements const& elements, BudgetItemIdMap& ids) {
    budgeting::Budget budget{budgeting::WageMap(), budgeting::BillMap(), budgeting::DebtMap(),
                             budgeting::GoalMap(), budgeting::NontrackMap()};
    forEachItemElement(elements, [&](auto kind, auto const& element) {
        using Kind = decltype(kind);
        try {
            budgeting::BudgetSource const source(element.name);
            auto const code = currencyOf(element.currency);
            auto const period = budgeting::toEventFrequency(element.period);
            Kind::items(budget).add(
                element.template toItem<typename Kind::Item>(source, code, period));
            recordItemIdentifier(ids, Kind::type, element.identifier, source);
        } catch (std::exception const& cause) {
            throw contentError(QObject::tr(Kind::texts.malformed), cause);
        }
    });
    return budget;
}

storage::ItemAccountMap
readItemAccounts(BudgetDocumentElements const& elements,
                 std::map<AccountCode, accounting::LedgerAccount> const& ledgers) {
    storage::ItemAccountMap itemAccounts;
    forEachItemElement(elements, [&](auto kind, auto const& element) {
        using Kind = decltype(kind);
        AccountCode const key(AccountNumber(element.accountId), std::nullopt);
        auto const found = ledgers.find(key);
        if (found == ledgers.end()) {
            throw contentError(
                QObject::tr("The budget file contains malformed %1 data. The %1 '%2' names "
                            "the account number %3, which is not an account of the ledger.")
                    .arg(budgeting::toWeak(Kind::type), element.name)
                    .arg(element.accountId));
        }
        itemAccounts.insert<typename Kind::Item>(budgeting::BudgetSource(element.name),
                                                 found->second.account.code());
    });
    return itemAccounts;
}

surveying::ReconciledSurveys readReconciliations(ReconciliationsElement const& reconciliations,
                                                 banking::AccountTypeMap const& accountTypes,
                                                 AccountNames const& names,
                                                 BudgetItemIdMap const& ids) {
    // The bank of each account number: the first bank, by name, that holds it.
    std::map<AccountNumber, std::pair<banking::BankName const*, banking::SupportedAccountTypes>>
        banks;
    for (auto const& [bank, accounts] : accountTypes) {
        for (auto const& [number, type] : accounts) {
            banks.try_emplace(number, &bank, type);
        }
    }

    std::map<banking::BankAccount, surveying::ReconciledSurvey> surveys;
    for (auto const& r : reconciliations.reconciliations) {
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
                auto const type = budgeting::toBudgetItemTypes(d.itemType);
                auto const amount = moneyOf(d.major, d.minor, d.currency);
                auto const& source = sourceOfIdentifier(ids, type, d.itemIdentifier);
                // The first distribution of an item wins.
                distribution.try_emplace(budgeting::BudgetItemIdentifier{type, source}, amount);
            }
            banking::ReconciledBankAccount reconciled(
                account, moneyOf(r.major, r.minor, r.currency), r.reconciledOn);
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

std::map<banking::BankName, banking::Bank> readBanks(BanksElement const& banks,
                                                     banking::AccountTypeMap& accountTypes) {
    std::map<banking::BankName, banking::Bank> result;
    try {
        for (auto const& b : banks.banks) {
            banking::BankName const name(b.name);
            std::set<AccountNumber> numbers;
            auto& types = accountTypes[name];
            for (auto const& account : b.accounts) {
                AccountNumber const number(account.number);
                numbers.insert(number);
                types.insert_or_assign(number, banking::toSupportedAccountTypes(account.type));
            }
            // A later bank of the same name replaces the bank, while the type map keeps the
            // accounts of both.
            result.insert_or_assign(name, banking::Bank(name, std::move(numbers), b.closed));
        }
    } catch (std::exception const& cause) {
        throw contentError(QObject::tr("The budget file contains malformed banks data."), cause);
    }
    return result;
}

storage::BudgetState loadBudgetDocument(QIODevice& device) {
    ZEL_LOG_DEBUG() << "Reading from budget file.";
    BudgetDocumentElements elements;
    StoredBytes const stored(device);
    auto const revision = readApplicationRevision(device, elements.application);
    ZEL_LOG_DEBUG() << "Parsing budget file revision" << revision;
    if (!device.reset()) {
        throw deviceError(device, QObject::tr("Failed to reset budget file, after reading the "
                                              "application element."));
    }
    readWithinBounds(device,
                     [&](QXmlStreamReader& reader) { readDocument(reader, elements, revision); });

    BudgetItemIdMap ids;
    auto budget = readBudgetItems(elements, ids);
    AccountNames const names(elements.accounts);
    auto transactions = readTransactions(elements.ledgers, names);
    auto ledgers = readLedger(elements.accounts, transactions);
    foundation::Optional<AccountCode> opening;
    if (elements.ledgers.openingAccountNumber) {
        opening = names.code(*elements.ledgers.openingAccountNumber);
    }
    banking::AccountTypeMap accountTypes;
    auto banks = readBanks(elements.banks, accountTypes);
    auto itemAccounts = readItemAccounts(elements, ledgers);
    auto surveys = readReconciliations(elements.reconciliations, accountTypes, names, ids);

    return {accounting::GeneralLedger(std::move(ledgers), std::move(opening)),
            std::move(budget),
            std::move(itemAccounts),
            banking::BankMap(std::move(banks)),
            std::move(accountTypes),
            std::move(surveys)};
}

} // namespace zel::file_storage::internal
