#include "file-storage/document/inspection/Scan.h"

#include <QStringList>

namespace zel::file_storage::internal::inspection {

namespace attributes = names::attributes;

void Scan::crossReferences() {
    itemIdentifiers();
    for (auto const& [at, id] : orphanLedgers()) {
        warn(at, "orphan-ledger", [&, id = id] {
            return QStringLiteral("ledger %1 belongs to no account; the load drops it").arg(id);
        });
    }
    for (auto const& parent : parents_) {
        if (accounts_.count(parent.parent) == 0) {
            warn(parent.position, "unknown-parent", [&] {
                return QStringLiteral("account %1 names the parent %2, which is no account; the "
                                      "load keeps it as written")
                    .arg(parent.account)
                    .arg(parent.parent);
            });
        }
    }
    for (auto const& [at, id] : bankAccounts_) {
        if (accounts_.count(id) == 0) {
            warn(at, "unknown-bank-account", [&, id = id] {
                return QStringLiteral("bank account %1 is no account of the ledger; the load keeps "
                                      "it as written")
                    .arg(id);
            });
        }
    }
    unbankedReconciliations();
    transactionCopies();
}

std::vector<std::pair<Position, quint32>> Scan::orphanLedgers() const {
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
void Scan::itemIdentifiers() {
    for (auto const& [key, named] : items_) {
        auto const& [kind, id] = key;
        for (std::size_t i = 1; i < named.size(); ++i) {
            warn(named[i].first, "duplicate-item-id", [&, kind = kind, id = id, &named = named] {
                return QStringLiteral("%1 identifier %2 is given again, to '%3', after '%4' at %5; "
                                      "distributions to %1 %2 go to the last item given it, '%6'")
                    .arg(kind->tag.latin1)
                    .arg(id)
                    .arg(named[i].second, named[0].second, where(named[0].first, named[i].first),
                         named.back().second);
            });
        }
    }
}

// A later bank of a name replaces the earlier one's accounts, while the load still finds
// the bank of a reconciled account among the accounts of both; a store then finds no bank.
void Scan::unbankedReconciliations() {
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
void Scan::transactionCopies() {
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
                return QStringLiteral("transaction %1 names account %2, but its copy in the ledger "
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

void Scan::compare(Copy const& first, Copy const& later) {
    QStringList differences;
    if (first.entry == later.entry) {
        differences << QStringLiteral("both have entry '%1', so they move the money in "
                                      "opposite directions")
                           .arg(first.entry == 'D' ? QStringLiteral("Dr") : QStringLiteral("Cr"));
    }
    if (first.day != later.day) {
        differences
            << QStringLiteral("date %1 against %2").arg(dayText(later.day), dayText(first.day));
    }
    if (first.major != later.major || first.minor != later.minor ||
        first.currency != later.currency) {
        differences << QStringLiteral("amount %1 against %2")
                           .arg(
                               amountText(later.major, later.minor, interned_.text(later.currency)),
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
        return QStringLiteral("transaction %1 disagrees with its copy in the ledger of account %2, "
                              "at %3: %4; the load keeps both as written")
            .arg(later.number)
            .arg(first.ledger)
            .arg(where(first.position, later.position), differences.join(QStringLiteral(", ")));
    });
}

} // namespace zel::file_storage::internal::inspection
