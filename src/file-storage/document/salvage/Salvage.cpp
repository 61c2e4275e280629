#include "file-storage/BudgetDocumentSalvage.h"

#include "accounting/Accounting.h"
#include "file-storage/document/salvage/Pieces.h"

#include <QBuffer>
#include <QObject>

#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

// The salvage in short steps: read the pieces, put each transaction in its ledger, keep the
// first element of each identity, write each transaction in both its ledgers, add what the
// back-up holds, number the items afresh, then drop what needs an element that is gone until
// the load's conversion accepts what is left.
namespace zel::file_storage {

namespace {

using namespace internal;
using namespace internal::salvage;

// The kinds of element a salvage accounts for, in the order of the format.
enum class Kind : quint8 {
    wage,
    bill,
    debt,
    goal,
    nontrack,
    account,
    transaction,
    bank,
    bankAccount,
    reconciliation,
    distribution,
};
constexpr std::size_t kindCount = 11;

QString nameOf(Kind kind) {
    switch (kind) {
    case Kind::account:
        return AccountElement::form_.tag.latin1;
    case Kind::transaction:
        return TransactionElement::form_.tag.latin1;
    case Kind::bank:
        return BankElement::form_.tag.latin1;
    case Kind::bankAccount:
        return QStringLiteral("bank account");
    case Kind::reconciliation:
        return ReconciliationElement::form_.tag.latin1;
    case Kind::distribution:
        return DistributionElement::form_.tag.latin1;
    default:
        return formOf(static_cast<ItemKind>(kind)).element.tag.latin1;
    }
}

Kind kindOf(ItemKind kind) {
    return static_cast<Kind>(kind);
}

// The kind of element that form is, for a damage; nothing for bytes between elements.
std::optional<Kind> kindOf(format::Element const* form) {
    if (form == nullptr) {
        return std::nullopt;
    }
    for (auto const kind : itemKinds) {
        if (&formOf(kind).element == form) {
            return kindOf(kind);
        }
    }
    std::pair<format::Element const*, Kind> const kinds[]{
        {&AccountElement::form_, Kind::account},
        {&TransactionElement::form_, Kind::transaction},
        {&BankElement::form_, Kind::bank},
        {&BankAccountElement::form_, Kind::bankAccount},
        {&ReconciliationElement::form_, Kind::reconciliation},
        {&DistributionElement::form_, Kind::distribution}};
    for (auto const& [element, kind] : kinds) {
        if (element == form) {
            return kind;
        }
    }
    return std::nullopt;
}

quint64 keyOf(quint32 ledger, quint32 number) {
    return quint64(ledger) << 32 | number;
}

bool isDebitOrCredit(QString const& entry) {
    return entry == accounting::debitAbbreviation() || entry == accounting::creditAbbreviation();
}

// The transaction as the other account's ledger holds it.
TransactionElement mirrored(TransactionElement transaction, quint32 ledger) {
    transaction.otherAccountNumber = ledger;
    transaction.entry = transaction.entry == accounting::debitAbbreviation()
                            ? accounting::creditAbbreviation()
                            : accounting::debitAbbreviation();
    return transaction;
}

// Whether two transactions hold the same values, but for the mirrored side.
bool sameValues(TransactionElement const& x, TransactionElement const& y) {
    return x.date == y.date && x.major == y.major && x.minor == y.minor &&
           x.currency == y.currency && x.status == y.status && x.description == y.description;
}

// What a refusal of the load says: its text, and what its cause said where it had one.
QString reasonOf(storage::StorageError const& error) {
    auto const cause = QString::fromStdString(error.causeDescription());
    return cause.isEmpty() || cause == QLatin1String(std::exception().what())
               ? error.secondText()
               : error.secondText() + QStringLiteral(" (") + cause + QLatin1Char(')');
}

// One element lost, before its place is known.
struct Loss {
    Kind kind;
    QString identity;
    qsizetype offset;
    QString reason;
};

// Line and column of offsets in the text, found in one pass over it.
class Places {
public:
    explicit Places(Text const& text) : text_(text) {}
    void want(qsizetype offset) {
        if (offset >= 0) {
            places_.emplace(offset, DocumentPlace{});
        }
    }
    void find() {
        auto const& bytes = text_.bytes;
        DocumentPlace at{1, 1};
        qsizetype offset = 0;
        for (auto& [target, place] : places_) {
            for (; offset < target && offset < bytes.size(); ++offset) {
                auto const c = uchar(bytes[offset]);
                if (c == '\n' ||
                    (c == '\r' && (offset + 1 == bytes.size() || bytes[offset + 1] != '\n'))) {
                    at = {at.line + 1, 1};
                } else if (c != '\r' && (!text_.utf8 || (c & 0xC0) != 0x80)) {
                    ++at.column;
                }
            }
            place = at;
        }
    }
    DocumentPlace at(qsizetype offset) const {
        auto const found = places_.find(offset);
        return found == places_.end() ? DocumentPlace{} : found->second;
    }

private:
    Text const& text_;
    std::map<qsizetype, DocumentPlace> places_;
};

class Salvage {
public:
    Salvage(QByteArray const& damaged, std::optional<QByteArray> const& backUp)
        : text_(textOf(damaged)), pieces_(readPieces(text_)) {
        for (auto const& stray : pieces_.strayBankAccounts) {
            lose(Kind::bankAccount, QString::number(stray.element.number), stray.offset,
                 QObject::tr("Its bank is unknown."));
        }
        for (auto const& stray : pieces_.strayDistributions) {
            lose(Kind::distribution, distributionIdentity(stray.element, 0), stray.offset,
                 QObject::tr("Its reconciliation is unknown."));
        }
        itemNames_[0] = namesOfItems(pieces_);
        placeOrphans();
        keepFirstOfEachIdentity();
        completeMirrors();
        if (backUp) {
            addBackUp(*backUp);
        }
        numberItems();
    }

    BudgetSalvage run() {
        BudgetSalvage result{consistentBudget(), {}, {}, {}, {}, backUpUsed_, backUpFailure_};
        report(result);
        return result;
    }

private:
    void lose(Kind kind, QString identity, qsizetype offset, QString reason) {
        losses_.push_back({kind, std::move(identity), offset, std::move(reason)});
    }

    static QString transactionIdentity(LedgerTransaction const& t) {
        return QObject::tr("%1 in the ledger of %2").arg(t.piece.element.identifier).arg(t.ledger);
    }
    static QString distributionIdentity(DistributionElement const& d, quint32 account) {
        auto const to = QStringLiteral("%1 %2").arg(d.itemType).arg(d.itemIdentifier);
        return account == 0 ? to
                            : QObject::tr("%1 in the reconciliation of %2").arg(to).arg(account);
    }

    // A transaction whose ledger's start tag was lost stands in the ledger that its copy in its
    // other account's ledger names, where that copy holds the same values; and so do the others
    // of its run, where the copies of those placed so agree on one ledger.
    void placeOrphans() {
        std::unordered_map<quint64, std::size_t> placed;
        for (std::size_t i = 0; i < pieces_.transactions.size(); ++i) {
            auto const& t = pieces_.transactions[i];
            if (t.ledger != 0) {
                placed.try_emplace(keyOf(t.ledger, t.piece.element.identifier), i);
            }
        }
        // The ledger of each run of orphans, as their copies tell it; 0 where they disagree.
        std::unordered_map<std::size_t, quint32> runs;
        for (auto& t : pieces_.transactions) {
            if (t.ledger == 0) {
                t.ledger = ledgerOfCopy(t.piece.element, placed);
                if (t.ledger != 0) {
                    auto const [run, added] = runs.try_emplace(t.run, t.ledger);
                    if (!added && run->second != t.ledger) {
                        run->second = 0;
                    }
                    // Told by its copy, not by its run.
                    t.run = std::size_t(-1);
                }
            }
        }
        std::erase_if(pieces_.transactions, [&](LedgerTransaction& t) {
            if (t.ledger != 0 && t.run != std::size_t(-1)) {
                return false;
            }
            if (auto const run = runs.find(t.run); t.ledger == 0 && run != runs.end()) {
                t.ledger = run->second;
            }
            if (t.ledger != 0) {
                return false;
            }
            lose(Kind::transaction, QString::number(t.piece.element.identifier), t.piece.offset,
                 QObject::tr("Its ledger is unknown."));
            return true;
        });
    }

    // The ledger that the copy of an orphan in its other account's ledger names; 0 when there
    // is no such copy with the same values.
    quint32 ledgerOfCopy(TransactionElement const& e,
                         std::unordered_map<quint64, std::size_t> const& placed) const {
        auto const copy = placed.find(keyOf(e.otherAccountNumber, e.identifier));
        if (copy == placed.end() || !isDebitOrCredit(e.entry)) {
            return 0;
        }
        auto const& other = pieces_.transactions[copy->second].piece.element;
        bool const mirrors =
            other.entry != e.entry && isDebitOrCredit(other.entry) && sameValues(e, other);
        return mirrors ? other.otherAccountNumber : 0;
    }

    // The first element of each identity wins, as in a load.
    void keepFirstOfEachIdentity() {
        auto const second = QObject::tr("A second element of the same identity: the first is "
                                        "kept.");
        std::set<std::pair<ItemKind, QString>> items;
        std::erase_if(pieces_.items, [&](Piece<ItemElement> const& item) {
            if (items.emplace(item.element.kind, item.element.name).second) {
                return false;
            }
            lose(kindOf(item.element.kind), item.element.name, item.offset, second);
            return true;
        });
        std::set<quint32> accounts;
        std::erase_if(pieces_.accounts, [&](Piece<AccountElement> const& account) {
            if (accounts.insert(account.element.identifier).second) {
                return false;
            }
            lose(Kind::account, QString::number(account.element.identifier), account.offset,
                 second);
            return true;
        });
        std::unordered_set<quint64> transactions;
        std::erase_if(pieces_.transactions, [&](LedgerTransaction const& t) {
            if (transactions.insert(keyOf(t.ledger, t.piece.element.identifier)).second) {
                return false;
            }
            lose(Kind::transaction, transactionIdentity(t), t.piece.offset, second);
            return true;
        });
        // Banks of one name become one, with the accounts of each: a load would keep the later
        // one's accounts alone, and lose the reconciliations of the earlier one's.
        std::vector<Piece<BankElement>> banks;
        std::map<QString, std::size_t> named;
        for (auto& bank : pieces_.banks) {
            auto const [first, added] = named.try_emplace(bank.element.name, banks.size());
            if (added) {
                banks.push_back(std::move(bank));
                continue;
            }
            auto& kept = banks[first->second].element;
            kept.closed = bank.element.closed;
            kept.accounts.insert(kept.accounts.end(), bank.element.accounts.begin(),
                                 bank.element.accounts.end());
        }
        pieces_.banks = std::move(banks);
        std::set<quint32> reconciled;
        std::erase_if(pieces_.reconciliations, [&](Piece<ReconciliationElement> const& r) {
            if (reconciled.insert(r.element.number).second) {
                return false;
            }
            lose(Kind::reconciliation, QString::number(r.element.number), r.offset, second);
            return true;
        });
    }

    // Every transaction between two accounts is written in the ledger of each; where only one
    // copy was read, the other is made of it.
    void completeMirrors() {
        std::unordered_set<quint64> held;
        for (auto const& t : pieces_.transactions) {
            held.insert(keyOf(t.ledger, t.piece.element.identifier));
        }
        auto const count = pieces_.transactions.size();
        for (std::size_t i = 0; i < count; ++i) {
            auto const& t = pieces_.transactions[i];
            auto const other = t.piece.element.otherAccountNumber;
            if (other == 0 || other == t.ledger || !isDebitOrCredit(t.piece.element.entry) ||
                !held.insert(keyOf(other, t.piece.element.identifier)).second) {
                continue;
            }
            pieces_.transactions.push_back(
                {other, {mirrored(t.piece.element, t.ledger), t.piece.offset}});
        }
    }

    // What the back-up holds, when it loads, and the document lost.
    void addBackUp(QByteArray const& bytes) {
        BudgetDocumentElements elements;
        try {
            QBuffer device;
            device.setData(bytes);
            device.open(QIODevice::ReadOnly);
            readBudgetDocumentElements(device, elements);
            auto copy = elements;
            (void)convertBudgetDocument(copy);
        } catch (storage::StorageError const& error) {
            backUpFailure_ = error.firstText() + QLatin1Char(' ') + error.secondText();
            return;
        } catch (std::exception const& error) {
            backUpFailure_ = QString::fromLocal8Bit(error.what());
            return;
        }
        backUpUsed_ = true;
        auto backUp = piecesOf(elements);
        itemNames_[1] = namesOfItems(backUp);
        addMissing(pieces_.items, backUp.items,
                   [](ItemElement const& e) { return std::pair(e.kind, e.name); });
        addMissing(pieces_.accounts, backUp.accounts,
                   [](AccountElement const& e) { return e.identifier; });
        addMissing(pieces_.reconciliations, backUp.reconciliations,
                   [](ReconciliationElement const& e) { return e.number; });
        std::unordered_set<quint64> held;
        for (auto const& t : pieces_.transactions) {
            held.insert(keyOf(t.ledger, t.piece.element.identifier));
        }
        for (auto& t : backUp.transactions) {
            if (held.insert(keyOf(t.ledger, t.piece.element.identifier)).second) {
                pieces_.transactions.push_back(std::move(t));
            }
        }
        if (!pieces_.openingAccount) {
            pieces_.openingAccount = backUp.openingAccount;
        }
        addMissingBanks(backUp.banks);
    }

    template <class Element, class Identity>
    static void addMissing(std::vector<Piece<Element>>& kept, std::vector<Piece<Element>>& backUp,
                           Identity const& identity) {
        std::set<decltype(identity(std::declval<Element const&>()))> held;
        for (auto const& piece : kept) {
            held.insert(identity(piece.element));
        }
        for (auto& piece : backUp) {
            if (held.insert(identity(piece.element)).second) {
                kept.push_back(std::move(piece));
            }
        }
    }

    // A bank by name; the accounts of a bank kept by number.
    void addMissingBanks(std::vector<Piece<BankElement>>& banks) {
        for (auto& bank : banks) {
            auto const found =
                std::find_if(pieces_.banks.begin(), pieces_.banks.end(), [&](auto const& kept) {
                    return kept.element.name == bank.element.name;
                });
            if (found == pieces_.banks.end()) {
                bankAccountsFromBackUp_ += qint64(bank.element.accounts.size());
                pieces_.banks.push_back(std::move(bank));
                continue;
            }
            for (auto const& account : bank.element.accounts) {
                auto& accounts = found->element.accounts;
                if (std::none_of(accounts.begin(), accounts.end(),
                                 [&](auto const& held) { return held.number == account.number; })) {
                    accounts.push_back(account);
                    ++bankAccountsFromBackUp_;
                }
            }
        }
    }

    using ItemNames = std::map<std::pair<QString, quint32>, QString>;

    // The name of each item by its kind's text and identifier, as a distribution names it.
    static ItemNames namesOfItems(Pieces const& pieces) {
        ItemNames names;
        for (auto const& item : pieces.items) {
            // The last item of an identifier names it, as in a load.
            names.insert_or_assign(
                {QString(formOf(item.element.kind).element.tag.latin1), item.element.identifier},
                item.element.name);
        }
        return names;
    }

    // Numbers the items of each kind from 1 in order, as a store does, and makes each
    // distribution name its item by the new number; drops a distribution whose item is gone.
    void numberItems() {
        std::map<std::pair<QString, QString>, quint32> numbers;
        std::array<quint32, 5> next{};
        for (auto& item : pieces_.items) {
            auto const kind = QString(formOf(item.element.kind).element.tag.latin1);
            item.element.identifier = ++next[std::size_t(item.element.kind)];
            numbers.emplace(std::pair(kind, item.element.name), item.element.identifier);
        }
        for (auto& r : pieces_.reconciliations) {
            auto const& names = itemNames_[r.offset == fromBackUp ? 1 : 0];
            std::erase_if(r.element.distributions, [&](DistributionElement& d) {
                auto const name = names.find({d.itemType, d.itemIdentifier});
                auto const number =
                    name == names.end() ? numbers.end() : numbers.find({d.itemType, name->second});
                if (number == numbers.end()) {
                    lose(Kind::distribution, distributionIdentity(d, r.element.number), r.offset,
                         QObject::tr("The item it names is gone."));
                    return true;
                }
                d.itemIdentifier = number->second;
                return false;
            });
        }
    }

    // Drops what names an account, bank account or item that is not there.
    void dropWhatNeedsTheLost() {
        std::unordered_set<quint32> accounts;
        for (auto const& account : pieces_.accounts) {
            accounts.insert(account.element.identifier);
        }
        auto const gone = [&](quint32 number) {
            return QObject::tr("The account %1 is gone.").arg(number);
        };
        std::erase_if(pieces_.items, [&](Piece<ItemElement> const& item) {
            if (accounts.count(item.element.accountId) != 0) {
                return false;
            }
            lose(kindOf(item.element.kind), item.element.name, item.offset,
                 gone(item.element.accountId));
            return true;
        });
        std::erase_if(pieces_.transactions, [&](LedgerTransaction const& t) {
            auto const other = t.piece.element.otherAccountNumber;
            auto const missing =
                accounts.count(t.ledger) == 0                                          ? t.ledger
                : isDebitOrCredit(t.piece.element.entry) && accounts.count(other) == 0 ? other
                                                                                       : 0;
            if (missing == 0) {
                return false;
            }
            lose(Kind::transaction, transactionIdentity(t), t.piece.offset, gone(missing));
            return true;
        });
        if (pieces_.openingAccount && accounts.count(*pieces_.openingAccount) == 0) {
            pieces_.openingAccount.reset();
        }
        std::unordered_set<quint32> banked;
        for (auto const& bank : pieces_.banks) {
            for (auto const& account : bank.element.accounts) {
                banked.insert(account.number);
            }
        }
        std::erase_if(pieces_.reconciliations, [&](Piece<ReconciliationElement> const& r) {
            auto const number = r.element.number;
            if (accounts.count(number) != 0 && banked.count(number) != 0) {
                return false;
            }
            lose(Kind::reconciliation, QString::number(number), r.offset,
                 accounts.count(number) == 0
                     ? gone(number)
                     : QObject::tr("No bank holds the account %1.").arg(number));
            return true;
        });
        std::set<std::pair<QString, quint32>> items;
        for (auto const& item : pieces_.items) {
            items.emplace(formOf(item.element.kind).element.tag.latin1, item.element.identifier);
        }
        for (auto& r : pieces_.reconciliations) {
            std::erase_if(r.element.distributions, [&](DistributionElement const& d) {
                if (items.count({d.itemType, d.itemIdentifier}) != 0) {
                    return false;
                }
                lose(Kind::distribution, distributionIdentity(d, r.element.number), r.offset,
                     QObject::tr("The item it names is gone."));
                return true;
            });
        }
    }

    // The document of the pieces, and for each element of it in document order the piece it
    // was made of, so that a fault the conversion names can be traced to its piece.
    struct Built {
        BudgetDocumentElements elements;
        std::array<std::vector<std::size_t>, 5> items;
        std::vector<quint32> ledgers;
        std::vector<std::size_t> transactions;
        std::vector<std::pair<std::size_t, std::size_t>> bankAccounts;
        std::vector<std::pair<std::size_t, std::size_t>> distributions;
    };

    Built build() const {
        Built built;
        auto& e = built.elements;
        e.application.revision = ApplicationElement::latestRevision_;
        for (std::size_t i = 0; i < pieces_.items.size(); ++i) {
            auto const kind = pieces_.items[i].element.kind;
            e.items(kind).push_back(pieces_.items[i].element);
            built.items[std::size_t(kind)].push_back(i);
        }
        for (auto const& account : pieces_.accounts) {
            e.get<AccountsElement>().accounts.push_back(account.element);
        }
        auto& ledgers = e.get<LedgersElement>();
        if (pieces_.openingAccount) {
            ledgers.openingAccountNumber = *pieces_.openingAccount;
        }
        std::unordered_map<quint32, std::size_t> ledgerAt;
        std::vector<std::vector<std::size_t>> held;
        for (std::size_t i = 0; i < pieces_.transactions.size(); ++i) {
            auto const ledger = pieces_.transactions[i].ledger;
            auto const [at, added] = ledgerAt.try_emplace(ledger, held.size());
            if (added) {
                built.ledgers.push_back(ledger);
                held.emplace_back();
            }
            held[at->second].push_back(i);
        }
        for (std::size_t l = 0; l < held.size(); ++l) {
            LedgerElement ledger(built.ledgers[l]);
            ledger.transactions.reserve(held[l].size());
            for (auto const i : held[l]) {
                ledger.transactions.push_back(pieces_.transactions[i].piece.element);
                built.transactions.push_back(i);
            }
            ledgers.ledgers.push_back(std::move(ledger));
        }
        for (std::size_t b = 0; b < pieces_.banks.size(); ++b) {
            e.get<BanksElement>().banks.push_back(pieces_.banks[b].element);
            for (std::size_t a = 0; a < pieces_.banks[b].element.accounts.size(); ++a) {
                built.bankAccounts.emplace_back(b, a);
            }
        }
        for (std::size_t r = 0; r < pieces_.reconciliations.size(); ++r) {
            e.get<ReconciliationsElement>().reconciliations.push_back(
                pieces_.reconciliations[r].element);
            for (std::size_t d = 0; d < pieces_.reconciliations[r].element.distributions.size();
                 ++d) {
                built.distributions.emplace_back(r, d);
            }
        }
        return built;
    }

    // The budget of the pieces once the conversion accepts them: each fault it names drops the
    // piece at fault, and what needed that piece with it.
    //
    // Each such drop costs a conversion of the whole budget. A document with many faulty
    // elements (an edit that spoilt every currency) would cost one for each, so after a few
    // the elements that come in numbers are each held to the conversion alone first.
    storage::BudgetState consistentBudget() {
        constexpr int fewDrops = 8;
        for (int drops = 0;; ++drops) {
            if (drops == fewDrops) {
                dropWhatTheConversionRefusesAlone();
            }
            dropWhatNeedsTheLost();
            auto built = build();
            ConversionPlace place;
            try {
                return convertBudgetDocument(built.elements, &place);
            } catch (storage::StorageError const& error) {
                if (!drop(built, place, reasonOf(error))) {
                    throw;
                }
            }
        }
    }

    // Why the conversion refuses the document that fill makes, or nothing.
    template <class Fill> static std::optional<QString> refusalOf(Fill const& fill) {
        BudgetDocumentElements elements;
        elements.application.revision = ApplicationElement::latestRevision_;
        fill(elements);
        try {
            (void)convertBudgetDocument(elements);
            return std::nullopt;
        } catch (storage::StorageError const& error) {
            return reasonOf(error);
        }
    }

    // Drops each item, account, transaction, bank and reconciliation that the conversion
    // refuses in a document of its own, with the elements it names.
    void dropWhatTheConversionRefusesAlone() {
        std::unordered_map<quint32, AccountElement const*> accounts;
        for (auto const& account : pieces_.accounts) {
            accounts.try_emplace(account.element.identifier, &account.element);
        }
        auto const withAccount = [&](BudgetDocumentElements& e, quint32 number) {
            if (auto const found = accounts.find(number); found != accounts.end()) {
                e.get<AccountsElement>().accounts.push_back(*found->second);
            }
        };
        std::erase_if(pieces_.items, [&](Piece<ItemElement> const& item) {
            auto const refusal = refusalOf([&](BudgetDocumentElements& e) {
                e.items(item.element.kind).push_back(item.element);
                withAccount(e, item.element.accountId);
            });
            return refusal &&
                   (lose(kindOf(item.element.kind), item.element.name, item.offset, *refusal),
                    true);
        });
        std::erase_if(pieces_.transactions, [&](LedgerTransaction const& t) {
            auto const refusal = refusalOf([&](BudgetDocumentElements& e) {
                withAccount(e, t.ledger);
                if (t.piece.element.otherAccountNumber != t.ledger) {
                    withAccount(e, t.piece.element.otherAccountNumber);
                }
                LedgerElement ledger(t.ledger);
                ledger.transactions.push_back(t.piece.element);
                e.get<LedgersElement>().ledgers.push_back(std::move(ledger));
            });
            return refusal &&
                   (lose(Kind::transaction, transactionIdentity(t), t.piece.offset, *refusal),
                    true);
        });
        std::erase_if(pieces_.banks, [&](Piece<BankElement> const& bank) {
            auto const refusal = refusalOf([&](BudgetDocumentElements& e) {
                e.get<BanksElement>().banks.push_back(bank.element);
            });
            return refusal && (lose(Kind::bank, bank.element.name, bank.offset, *refusal), true);
        });
        // A reconciliation with its account, the banks that hold it, and the items its
        // distributions name, with their accounts.
        std::map<std::pair<QString, quint32>, ItemElement const*> items;
        for (auto const& item : pieces_.items) {
            items.try_emplace(
                {QString(formOf(item.element.kind).element.tag.latin1), item.element.identifier},
                &item.element);
        }
        std::erase_if(pieces_.reconciliations, [&](Piece<ReconciliationElement> const& r) {
            auto const refusal = refusalOf([&](BudgetDocumentElements& e) {
                withAccount(e, r.element.number);
                for (auto const& bank : pieces_.banks) {
                    auto const& held = bank.element.accounts;
                    if (std::any_of(held.begin(), held.end(), [&](auto const& account) {
                            return account.number == r.element.number;
                        })) {
                        e.get<BanksElement>().banks.push_back(bank.element);
                    }
                }
                std::set<ItemElement const*> added;
                for (auto const& d : r.element.distributions) {
                    auto const item = items.find({d.itemType, d.itemIdentifier});
                    if (item != items.end() && added.insert(item->second).second) {
                        e.items(item->second->kind).push_back(*item->second);
                        if (item->second->accountId != r.element.number) {
                            withAccount(e, item->second->accountId);
                        }
                    }
                }
                e.get<ReconciliationsElement>().reconciliations.push_back(r.element);
            });
            return refusal && (lose(Kind::reconciliation, QString::number(r.element.number),
                                    r.offset, *refusal),
                               true);
        });
        // Accounts last: the checks above used them.
        std::erase_if(pieces_.accounts, [&](Piece<AccountElement> const& account) {
            auto const refusal = refusalOf([&](BudgetDocumentElements& e) {
                e.get<AccountsElement>().accounts.push_back(account.element);
            });
            return refusal && (lose(Kind::account, QString::number(account.element.identifier),
                                    account.offset, *refusal),
                               true);
        });
    }

    // Drops the piece that place names; false when it names none.
    bool drop(Built const& built, ConversionPlace const& place, QString const& reason) {
        auto const* form = place.element;
        auto const at = place.ordinal;
        if (form == &LedgersElement::form_) {
            pieces_.openingAccount.reset();
            return true;
        }
        if (form == &LedgerElement::form_ && at < built.ledgers.size()) {
            auto const ledger = built.ledgers[at];
            std::erase_if(pieces_.transactions, [&](LedgerTransaction const& t) {
                return t.ledger == ledger &&
                       (lose(Kind::transaction, transactionIdentity(t), t.piece.offset, reason),
                        true);
            });
            return true;
        }
        if (form == &TransactionElement::form_ && at < built.transactions.size()) {
            auto const i = built.transactions[at];
            lose(Kind::transaction, transactionIdentity(pieces_.transactions[i]),
                 pieces_.transactions[i].piece.offset, reason);
            pieces_.transactions.erase(pieces_.transactions.begin() + qsizetype(i));
            return true;
        }
        if (form == &AccountElement::form_ && at < pieces_.accounts.size()) {
            auto const& account = pieces_.accounts[at];
            lose(Kind::account, QString::number(account.element.identifier), account.offset,
                 reason);
            pieces_.accounts.erase(pieces_.accounts.begin() + qsizetype(at));
            return true;
        }
        for (auto const kind : itemKinds) {
            auto const& items = built.items[std::size_t(kind)];
            if (form == &formOf(kind).element && at < items.size()) {
                auto const& item = pieces_.items[items[at]];
                lose(kindOf(kind), item.element.name, item.offset, reason);
                pieces_.items.erase(pieces_.items.begin() + qsizetype(items[at]));
                return true;
            }
        }
        if (form == &BankElement::form_ && at < pieces_.banks.size()) {
            lose(Kind::bank, pieces_.banks[at].element.name, pieces_.banks[at].offset, reason);
            pieces_.banks.erase(pieces_.banks.begin() + qsizetype(at));
            return true;
        }
        if (form == &BankAccountElement::form_ && at < built.bankAccounts.size()) {
            auto const [b, a] = built.bankAccounts[at];
            auto& accounts = pieces_.banks[b].element.accounts;
            lose(Kind::bankAccount, QString::number(accounts[a].number), pieces_.banks[b].offset,
                 reason);
            accounts.erase(accounts.begin() + qsizetype(a));
            return true;
        }
        if (form == &ReconciliationElement::form_ && at < pieces_.reconciliations.size()) {
            auto const& r = pieces_.reconciliations[at];
            lose(Kind::reconciliation, QString::number(r.element.number), r.offset, reason);
            pieces_.reconciliations.erase(pieces_.reconciliations.begin() + qsizetype(at));
            return true;
        }
        if (form == &DistributionElement::form_ && at < built.distributions.size()) {
            auto const [r, d] = built.distributions[at];
            auto& reconciliation = pieces_.reconciliations[r];
            auto& distributions = reconciliation.element.distributions;
            lose(Kind::distribution,
                 distributionIdentity(distributions[d], reconciliation.element.number),
                 reconciliation.offset, reason);
            distributions.erase(distributions.begin() + qsizetype(d));
            return true;
        }
        return false;
    }

    // ---- The report -------------------------------------------------------------------------

    // The identity that each element kept or taken from the back-up counts under, by kind.
    struct Held {
        std::array<std::set<QString>, kindCount> kept;
        std::array<std::set<QString>, kindCount> fromBackUp;
        void add(Kind kind, QString identity, qsizetype offset) {
            (offset == salvage::fromBackUp ? fromBackUp : kept)[std::size_t(kind)].insert(
                std::move(identity));
        }
    };

    Held held() const {
        Held held;
        for (auto const& item : pieces_.items) {
            held.add(kindOf(item.element.kind), item.element.name, item.offset);
        }
        for (auto const& account : pieces_.accounts) {
            held.add(Kind::account, QString::number(account.element.identifier), account.offset);
        }
        for (auto const& t : pieces_.transactions) {
            held.add(Kind::transaction, QString::number(t.piece.element.identifier),
                     t.piece.offset);
        }
        for (auto const& bank : pieces_.banks) {
            held.add(Kind::bank, bank.element.name, bank.offset);
        }
        for (auto const& r : pieces_.reconciliations) {
            held.add(Kind::reconciliation, QString::number(r.element.number), r.offset);
            for (auto const& d : r.element.distributions) {
                held.add(Kind::distribution, distributionIdentity(d, r.element.number), r.offset);
            }
        }
        return held;
    }

    void report(BudgetSalvage& result) {
        Places places(text_);
        for (auto const& damage : pieces_.damages) {
            places.want(damage.offset);
        }
        for (auto const& loss : losses_) {
            places.want(loss.offset);
        }
        places.find();

        auto const held = this->held();
        qint64 bankAccounts = 0;
        for (auto const& bank : pieces_.banks) {
            bankAccounts += qint64(bank.element.accounts.size());
        }
        std::array<std::set<QString>, kindCount> lost;
        for (auto const& loss : losses_) {
            auto const k = std::size_t(loss.kind);
            // A transaction counts once, whichever ledgers its copies stood in.
            auto const identity = loss.kind == Kind::transaction
                                      ? loss.identity.section(QLatin1Char(' '), 0, 0)
                                      : loss.identity;
            if (held.kept[k].count(identity) == 0 && held.fromBackUp[k].count(identity) == 0) {
                lost[k].insert(identity);
            }
            result.lost.push_back(
                {nameOf(loss.kind), loss.identity, places.at(loss.offset), loss.reason});
        }
        for (std::size_t k = 0; k < kindCount; ++k) {
            auto const kind = static_cast<Kind>(k);
            SalvageCount count{nameOf(kind), qint64(held.kept[k].size()),
                               qint64(held.fromBackUp[k].size()), qint64(lost[k].size())};
            if (kind == Kind::transaction) {
                for (auto const& number : held.kept[k]) {
                    count.fromBackUp -= qint64(held.fromBackUp[k].count(number));
                }
            }
            if (kind == Kind::bankAccount) {
                count.kept = bankAccounts - bankAccountsFromBackUp_;
                count.fromBackUp = bankAccountsFromBackUp_;
                count.lost = qint64(std::count_if(losses_.begin(), losses_.end(), [](auto& l) {
                    return l.kind == Kind::bankAccount;
                }));
            }
            result.counts.push_back(count);
            for (auto const& identity : held.fromBackUp[k]) {
                if (kind != Kind::transaction || held.kept[k].count(identity) == 0) {
                    result.fromBackUp.push_back({nameOf(kind), identity, {}, {}});
                }
            }
        }
        for (auto const& damage : pieces_.damages) {
            auto const kind = kindOf(damage.element);
            result.damages.push_back({places.at(damage.offset),
                                      kind ? nameOf(*kind) : QStringLiteral("document"),
                                      damage.reason});
        }
    }

    Text text_;
    Pieces pieces_;
    std::vector<Loss> losses_;
    // The names of the items by kind and identifier: of the document, and of the back-up.
    std::array<ItemNames, 2> itemNames_;
    bool backUpUsed_ = false;
    QString backUpFailure_;
    qint64 bankAccountsFromBackUp_ = 0;
};

} // namespace

BudgetSalvage salvageBudgetDocument(QByteArray const& damaged,
                                    std::optional<QByteArray> const& backUp) {
    return Salvage(damaged, backUp).run();
}

} // namespace zel::file_storage
