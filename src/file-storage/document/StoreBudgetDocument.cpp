#include "file-storage/document/BudgetDocument.h"

#include "file-storage/common/Log.h"
#include "file-storage/document/BudgetItemIdMap.h"
#include "file-storage/document/StoredTexts.h"

#include <QObject>
#include <QXmlStreamWriter>

#include <cmath>
#include <set>
#include <stdexcept>

namespace zel::file_storage::internal {

namespace {

using accounting::AccountCode;

// Whether an XML 1.0 document can hold the text: no control characters but tab, line feed and
// carriage return, no unpaired surrogates, no U+FFFE or U+FFFF.
bool isXmlText(QString const& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        auto const c = text.at(i).unicode();
        if (c < 0x20 && c != 0x9 && c != 0xA && c != 0xD) {
            return false;
        }
        if (c == 0xFFFE || c == 0xFFFF) {
            return false;
        }
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 == text.size() || !QChar::isLowSurrogate(text.at(i + 1).unicode())) {
                return false;
            }
            ++i;
        } else if (QChar::isLowSurrogate(c)) {
            return false;
        }
    }
    return true;
}

// A text that the document holds and the reader must give back: refused here, before anything
// is written, when it could not be. what() names the text; it is only called for an error, so
// that a good store formats no messages.
template <class What>
QString const& checkedText(QString const& text, What const& what, bool required) {
    if (required && text.isEmpty()) {
        throw contentError(QObject::tr("The %1 cannot be stored without a text.").arg(what()));
    }
    if (!isXmlText(text)) {
        throw contentError(
            QObject::tr("The %1 '%2' holds characters that a budget file cannot store.")
                .arg(what(), text));
    }
    return text;
}

// An account number that the document refers to: the reader looks it up among the accounts
// of the ledger, so one that is not there would make the file unreadable.
template <class What>
void requireAccount(accounting::GeneralLedger const& ledger,
                    accounting::AccountNumber const& number, What const& user) {
    if (ledger.ledgers().find(AccountCode(number, std::nullopt)) == ledger.ledgers().end()) {
        throw contentError(QObject::tr("The %1 refers to the account number %2, which is not an "
                                       "account of the ledger.")
                               .arg(user(), accounting::presentationText(number)));
    }
}

// The values of an item as its element holds them.
ItemValues valuesOf(budgeting::BudgetedMoney const& item, quint32 account) {
    ItemValues values;
    values.major = item.amount().major();
    values.minor = item.amount().minor();
    values.period = budgeting::presentationText(item.period());
    values.name = item.source().name();
    values.currency = currencyText(item.amount());
    values.nextOccurOn = item.nextOccurOn();
    values.accountId = account;
    return values;
}

ItemValues valuesOf(budgeting::Debt const& item, quint32 account) {
    auto values = valuesOf(static_cast<budgeting::BudgetedMoney const&>(item), account);
    values.otherMajor = values.major;
    values.otherMinor = values.minor;
    values.major = item.borrowed().major();
    values.minor = item.borrowed().minor();
    values.interest = item.interest().value;
    return values;
}

ItemValues valuesOf(budgeting::Goal const& item, quint32 account) {
    auto values = valuesOf(static_cast<budgeting::BudgetedMoney const&>(item), account);
    values.otherMajor = item.final().major();
    values.otherMinor = item.final().minor();
    return values;
}

// Fills the collection of kind with the items, whose domain class is Item.
template <class Item, class Items>
void fillItemElements(ItemKind kind, Items const& items,
                      storage::ItemAccountMap const& itemAccounts,
                      accounting::GeneralLedger const& ledger, BudgetItemIdMap& ids,
                      std::vector<ItemElement>& elements) {
    auto const& form = formOf(kind);
    ZEL_LOG_DEBUG() << form.fillRecord;
    quint32 identifier = 1;
    auto const& accounts = itemAccounts.template values<Item>();
    elements.reserve(items.size());
    for (auto const& [source, item] : items) {
        auto const what = [&item = item, &form] {
            return QObject::tr("%1 '%2'").arg(budgeting::toWeak(form.type), item.source().name());
        };
        auto const found = accounts.find(item.source());
        if (found == accounts.end()) {
            throw contentError(QObject::tr("The %1 is booked to no ledger account.").arg(what()));
        }
        auto const& account = found->second;
        // The element's own checks (a blank currency, the account 0) come first, with their
        // texts; the checks after it keep out what the reader could not give back.
        elements.emplace_back(kind, identifier, valuesOf(item, account.number().integer()));
        checkedText(
            item.source().name(),
            [&form] { return QObject::tr("name of a %1").arg(budgeting::toWeak(form.type)); },
            true);
        requireAccount(ledger, account.number(), what);
        if constexpr (requires(Item const& i) { i.interest(); }) {
            // "nan" reads back as the same, so it is stored; an infinity would not load.
            if (std::isinf(item.interest().value)) {
                throw contentError(
                    QObject::tr("The interest of the %1 is not a finite number.").arg(what()));
            }
        }
        recordItemIdentifier(ids, form.type, identifier, source);
        ++identifier;
    }
}

void fillLedgerElements(accounting::GeneralLedger const& ledger, AccountsElement& accounts,
                        LedgersElement& ledgers) {
    accounts.accounts.reserve(ledger.ledgers().size());
    ledgers.ledgers.reserve(ledger.ledgers().size());
    for (auto const& [key, ledgerAccount] : ledger.ledgers()) {
        auto const& account = ledgerAccount.account;
        auto const& code = account.code();
        foundation::Optional<quint32> parent;
        if (code.parent()) {
            parent = code.parent()->integer();
        }
        auto const number = code.number().integer();
        accounts.accounts.emplace_back(
            number,
            checkedText(
                code.name(), [&] { return QObject::tr("name of the account %1").arg(number); },
                true),
            accounting::presentationText(account.type()), account.balance().major(),
            account.balance().minor(), currencyText(account.balance()), account.isClosed(), parent);

        LedgerElement ledgerElement(number);
        ledgerElement.transactions.reserve(ledgerAccount.transactions.size());
        for (auto const& [transactionNumber, t] : ledgerAccount.transactions) {
            auto const identifier = t.number().value_or(transactionNumber).integer();
            auto const what = [&] {
                return QObject::tr("transaction %1 of the account %2").arg(identifier).arg(number);
            };
            // The entry names the side on which the other account stands; the ledger's own
            // account is the other side.
            bool const ownCredit = t.crediting() == key;
            if (!ownCredit && !(t.debiting() == key)) {
                throw contentError(
                    QObject::tr("The %1 neither debits nor credits that account.").arg(what()));
            }
            auto const& other = ownCredit ? t.debiting() : t.crediting();
            requireAccount(ledger, other.number(), what);
            foundation::Optional<QString> description;
            if (t.description()) {
                description = checkedText(
                    *t.description(),
                    [&] { return QObject::tr("description of the %1").arg(what()); }, false);
            }
            ledgerElement.transactions.emplace_back(
                identifier,
                QDate(t.occurredOn().year(), t.occurredOn().month(), t.occurredOn().day()),
                other.number().integer(),
                ownCredit ? accounting::debitAbbreviation() : accounting::creditAbbreviation(),
                t.amount().major(), t.amount().minor(), currencyText(t.amount()),
                statusText(t.status()), std::move(description));
        }
        ledgers.ledgers.push_back(std::move(ledgerElement));
    }
}

std::vector<BankElement> fillBankElements(banking::BankMap const& banks,
                                          banking::AccountTypeMap const& accountTypes) {
    std::vector<BankElement> result;
    result.reserve(banks.size());
    for (auto const& [name, bank] : banks) {
        std::vector<BankAccountElement> accounts;
        accounts.reserve(bank.accounts().size());
        for (auto const& number : bank.accounts()) {
            try {
                accounts.emplace_back(number.integer(),
                                      banking::presentationText(accountTypes.at(name).at(number)));
            } catch (std::out_of_range const& cause) {
                throw contentError(
                    QObject::tr("The bank '%1' holds the account %2, which has no "
                                "bank account type.")
                        .arg(name.institution(), accounting::presentationText(number)),
                    cause);
            }
        }
        result.emplace_back(
            checkedText(
                name.institution(), [] { return QObject::tr("name of a bank"); }, true),
            bank.isClosed(), std::move(accounts));
    }
    return result;
}

ReconciliationsElement fillReconciliationElements(surveying::ReconciledSurveys const& surveys,
                                                  BudgetItemIdMap const& ids,
                                                  accounting::GeneralLedger const& ledger,
                                                  banking::BankMap const& banks) {
    // The reader finds a reconciled account's bank among the banks as they are written, so
    // the accounts that the banks hold are what counts, not the type map, which may know
    // accounts that no bank holds.
    std::set<accounting::AccountNumber> banked;
    for (auto const& [name, bank] : banks) {
        banked.insert(bank.accounts().begin(), bank.accounts().end());
    }
    // The reader keeps one reconciliation per account: a second would be lost on the next load.
    std::set<accounting::AccountNumber> reconciled;
    ReconciliationsElement result;
    result.reconciliations.reserve(surveys.size());
    for (auto const& [bankAccount, survey] : surveys) {
        auto const& number = bankAccount.code.number();
        auto const what = [&] {
            return QObject::tr("reconciliation of the account %1")
                .arg(accounting::presentationText(number));
        };
        std::vector<DistributionElement> distributions;
        distributions.reserve(survey.distribution().size());
        for (auto const& [item, money] : survey.distribution()) {
            auto const identifier = identifierOfSource(ids, item.type, item.source);
            distributions.emplace_back(budgeting::toWeak(item.type), identifier, money.major(),
                                       money.minor(), currencyText(money));
        }
        // An empty checksum is stored as none: the reader refuses an empty one.
        foundation::Optional<QString> checksum;
        if (survey.checksum() && !survey.checksum()->isEmpty()) {
            checksum = *survey.checksum();
        }
        // The element's own checks come first, with their texts; the checks after it keep out
        // what the reader could not give back.
        auto const& balance = survey.reconciled().balance();
        result.reconciliations.emplace_back(
            number.integer(), balance.major(), balance.minor(), currencyText(balance),
            survey.reconciled().reconciledOn(), checksum, std::move(distributions));
        // The reader finds a reconciled account's bank and name through the banks and the
        // ledger; an account known to neither would make the file unreadable.
        requireAccount(ledger, number, what);
        if (banked.find(number) == banked.end()) {
            throw contentError(
                QObject::tr("The %1 names an account that no bank holds.").arg(what()));
        }
        if (!reconciled.insert(number).second) {
            throw contentError(QObject::tr("The %1 is given twice.").arg(what()));
        }
        if (checksum) {
            checkedText(
                *checksum, [&] { return QObject::tr("checksum of the %1").arg(what()); }, true);
        }
    }
    return result;
}

} // namespace

void storeBudgetDocument(budgeting::Budget const& budget, accounting::GeneralLedger const& ledger,
                         banking::BankMap const& banks, banking::AccountTypeMap const& accountTypes,
                         storage::ItemAccountMap const& itemAccounts,
                         surveying::ReconciledSurveys const& surveys, QIODevice* device,
                         bool autoFormat) {
    ZEL_LOG_DEBUG() << "Preparing to write to the budget file.";
    QXmlStreamWriter writer(device);
    if (autoFormat) {
        writer.setAutoFormatting(true);
        writer.setAutoFormattingIndent(-1);
    }
    writer.writeStartDocument();

    ZEL_LOG_DEBUG() << "Filling application element";
    BudgetDocumentElements elements;
    BudgetItemIdMap ids;
    for (auto const kind : itemKinds) {
        withItems(budget, kind, [&](auto const& items) {
            fillItemElements<ItemOf<decltype(items)>>(kind, items, itemAccounts, ledger, ids,
                                                      elements.items(kind));
        });
    }

    auto& ledgers = elements.get<LedgersElement>();
    if (auto const& opening = ledger.openingAccountCode()) {
        requireAccount(ledger, opening->number(),
                       [] { return QObject::tr("opening account of the ledger"); });
        ledgers.openingAccountNumber = opening->number().integer();
    }
    ZEL_LOG_DEBUG() << "Filling account, ledger, and transaction elements";
    fillLedgerElements(ledger, elements.get<AccountsElement>(), ledgers);

    ZEL_LOG_DEBUG() << "Filling bank elements";
    elements.get<BanksElement>().banks = fillBankElements(banks, accountTypes);

    ZEL_LOG_DEBUG() << "Filling reconciled bank accounts elements";
    elements.get<ReconciliationsElement>() =
        fillReconciliationElements(surveys, ids, ledger, banks);

    ZEL_LOG_DEBUG() << "Writing budget elements";
    elements.application.write(writer);
    for (BasicElement const* element :
         elements.inFormatOrder(ApplicationElement::latestRevision_)) {
        element->write(writer);
    }
    writer.writeEndElement();
    ZEL_LOG_DEBUG() << "Completed writing budget elements";
}

} // namespace zel::file_storage::internal
