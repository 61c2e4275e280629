#include "file-storage/document/inspection/Scan.h"

#include <QDate>
#include <QStringList>

#include <cmath>

namespace zel::file_storage::internal::inspection {

namespace attributes = names::attributes;

// Namespaces and attributes that the format does not know.
void Scan::names(Element const& form, Position at) {
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
                return QStringLiteral("attribute '%1' of '%2' is not part of the format; the load "
                                      "ignores it and a store drops it")
                    .arg(name, tag);
            });
        }
    }
}

// Amounts and dates that the load takes otherwise than they are written.
void Scan::values(Element const& form, Position at) {
    for (auto const& minorUnits : form.attributes) {
        auto const name = minorUnits.name.latin1;
        if (minorUnits.codec != Codec::minorUnits) {
            continue;
        }
        if (auto const minor = numberOf<quint16>(attributes_.value(name)); minor && *minor >= 100) {
            warn(at, "minor-over-99", [&] {
                return QStringLiteral("%1 %2 is 100 or more; the load keeps it as written rather "
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
                return QStringLiteral("%1 %2 is read as %3, which the next store writes instead")
                    .arg(name, quoted(text), day.toString(Qt::ISODate));
            });
        }
    }
}

void Scan::collection(Element const& form, Position at) {
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

void Scan::item(Element const& form, Position at) {
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
            return QStringLiteral("interest %1 has more digits than a store keeps; the next store "
                                  "writes %2")
                .arg(interest.toString(), stored);
        });
    }
}

void Scan::account(Element const&, Position at) {
    auto const id = numberOf<quint32>(attribute(attributes::id));
    if (!id) {
        return;
    }
    bool const first =
        metFirst(accounts_, *id, at, "duplicate-account", [&](QString const& earlier) {
            return QStringLiteral("account %1 appears again; the load keeps the first, at %2, and "
                                  "drops this one")
                .arg(*id)
                .arg(earlier);
        });
    if (auto const parent = numberOf<quint32>(attribute(attributes::parentId)); first && parent) {
        parents_.push_back({at, *id, *parent});
    }
}

void Scan::ledger(Element const&, Position at) {
    auto const id = numberOf<quint32>(attribute(attributes::id));
    if (!id) {
        return;
    }
    stack_.back().number = *id;
    metFirst(ledgers_, *id, at, "duplicate-ledger", [&](QString const& earlier) {
        return QStringLiteral("ledger %1 appears again; the load adds its transactions to those "
                              "of the first, at %2")
            .arg(*id)
            .arg(earlier);
    });
}

void Scan::transaction(Element const&, Position at) {
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
            return QStringLiteral("transaction %1 names its own ledger's account, %2, as the other "
                                  "side; the load books it from the account to itself")
                .arg(copy.number)
                .arg(copy.ledger);
        });
    }
}

void Scan::endTransaction(Frame& frame) {
    auto& copy = frame.copy;
    auto const [first, inserted] =
        copies_.try_emplace(keyOf(copy.ledger, copy.number), quint32(transactions_.size()));
    if (inserted) {
        transactions_.push_back(copy);
        return;
    }
    warn(copy.position, "duplicate-transaction", [&, first = first] {
        return QStringLiteral("transaction %1 appears again in the ledger of account %2; the load "
                              "keeps the first, at %3, and drops this one")
            .arg(copy.number)
            .arg(copy.ledger)
            .arg(where(transactions_[first->second].position, copy.position));
    });
}

void Scan::bank(Element const&, Position) {
    stack_.back().name = attribute(attributes::name).toString();
}

void Scan::bankAccount(Element const&, Position at) {
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
            return QStringLiteral("account %1 appears again in the bank '%2', after %3; the load "
                                  "keeps it once, of this later type, '%4'")
                .arg(*id)
                .arg(bank.name, where(first->second.first, at), type);
        });
        first->second.second = type;
    }
    everBanked_.insert(*id);
}

void Scan::endBank(Frame const& frame) {
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
        text +=
            QStringLiteral(", so the bank no longer holds %1 %2")
                .arg(dropped.size() == 1 ? QStringLiteral("account") : QStringLiteral("accounts"),
                     dropped.join(QStringLiteral(", ")));
    }
    warn(frame.position, "duplicate-bank", text);
    earlier->second = {frame.position, std::move(held)};
}

// Amount parts that a reconciliation or distribution may leave out: the load takes 0.
void Scan::missingAmount(Position at, QString const& what) {
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

void Scan::reconciliation(Element const&, Position at) {
    auto const account = numberOf<quint32>(attribute(attributes::account));
    if (!account) {
        return;
    }
    auto& frame = stack_.back();
    frame.number = *account;
    frame.kept = metFirst(
        reconciliations_, *account, at, "duplicate-reconciliation", [&](QString const& earlier) {
            return QStringLiteral("the reconciliation of account %1 appears again; the "
                                  "load keeps the first, at %2, and drops this one with "
                                  "its distributions")
                .arg(*account)
                .arg(earlier);
        });
    if (!frame.kept) {
        return;
    }
    reconciled_.push_back({at, *account});
    missingAmount(at, QStringLiteral("the reconciliation of account %1").arg(*account));
}

void Scan::distribution(Element const&, Position at) {
    if (stack_.size() < 2 || !stack_[stack_.size() - 2].kept) {
        return;
    }
    auto& reconciliation = stack_[stack_.size() - 2];
    auto const type = attribute(attributes::type).toString();
    auto const id = numberOf<quint32>(attribute(attributes::id)).value_or(0);
    auto const what = QStringLiteral("the distribution to %1 %2").arg(type).arg(id);
    if (!metFirst(reconciliation.shares, {type, id}, at, "duplicate-distribution",
                  [&](QString const& earlier) {
                      return QStringLiteral("%1 appears again in the reconciliation of account "
                                            "%2; the load keeps the first, at %3, and drops this "
                                            "one")
                          .arg(what)
                          .arg(reconciliation.number)
                          .arg(earlier);
                  })) {
        return;
    }
    missingAmount(at, what);
}

} // namespace zel::file_storage::internal::inspection
