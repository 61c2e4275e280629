// diff: what changed between two budget files, by meaning. Values are matched by what names
// them to the user (account and transaction numbers, item kinds and names, bank names, the
// reconciled account), never by the identifiers that every store renumbers.
// docs/budget-file-export.md describes the output.
#include "JsonText.h"
#include "Tool.h"
#include "Values.h"

#include <algorithm>
#include <exception>
#include <future>
#include <optional>
#include <utility>
#include <vector>

namespace zel::tool {

namespace {

using storage::BudgetState;

// One value of a record, as text; quoted values are texts of the user's (names, descriptions).
struct Field {
    char const* name;
    std::optional<QString> value; // nothing: the record has none
    bool quoted = false;
};

struct Described {
    QString label; // "account 600 Travel", "bill 'Rent'"
    std::vector<Field> fields;
};

struct Change {
    Field old;
    Field now;
};

struct Difference {
    char sign; // '+' added, '-' removed, '~' changed
    char const* what;
    QString key;
    Described described;         // the added or removed record, or the new one when changed
    std::vector<Change> changes; // when changed
    // A transaction whose copies disagree on a side is compared copy by copy: the account whose
    // ledger holds the copy, and the side or sides ("old", "new", "both") where they disagree.
    unsigned ledger = 0;
    char const* copiesDisagree = nullptr;
};

// A text of the user's as printed, in single quotes; a quote in it is escaped too, after the
// backslashes, so that the quotes always show where the text ends.
QString quotedText(QString const& text) {
    return QLatin1Char('\'') + printable(text).replace(QLatin1Char('\''), QLatin1String("\\'")) +
           QLatin1Char('\'');
}

QString shown(Field const& field) {
    if (!field.value) {
        return QStringLiteral("none");
    }
    return field.quoted ? quotedText(*field.value) : *field.value;
}

Field textField(char const* name, std::optional<QString> value) {
    return {name, std::move(value), true};
}
Field plainField(char const* name, std::optional<QString> value) {
    return {name, std::move(value), false};
}
Field numberField(char const* name, std::optional<unsigned> value) {
    return {name, value ? std::optional(QString::number(*value)) : std::nullopt, false};
}
Field yesNoField(char const* name, bool value) {
    return plainField(name, value ? QStringLiteral("yes") : QStringLiteral("no"));
}
Field dateField(char const* name, std::optional<QDate> const& value) {
    return {name, value ? std::optional(value->toString(Qt::ISODate)) : std::nullopt, false};
}

QString keyText(unsigned key) {
    return QString::number(key);
}
QString keyText(QString const& key) {
    return key;
}

// The fields that differ between two descriptions of one kind of record.
std::vector<Change> changesBetween(Described const& before, Described const& after) {
    std::vector<Change> changes;
    for (std::size_t f = 0; f < after.fields.size(); ++f) {
        if (before.fields[f].value != after.fields[f].value) {
            changes.push_back({before.fields[f], after.fields[f]});
        }
    }
    return changes;
}

// The records of one kind on both sides, each under its key, compared in order of key. Records
// with the same key on one side (a hand-edited file) are paired in their order.
// Each side is described by its own function where a record's fields come from elsewhere in
// the state of its side (a budget item's account, a bank's account types).
// Where same can tell that two records are equal without describing them, comparing many is
// much quicker.
template <class Key, class Value, class DescribeOld, class DescribeNew, class Same>
void compare(char const* what, std::vector<std::pair<Key, Value const*>> old,
             std::vector<std::pair<Key, Value const*>> now, DescribeOld const& describeOld,
             DescribeNew const& describeNew, Same const& same,
             std::vector<Difference>& differences) {
    auto const byKey = [](auto const& a, auto const& b) { return a.first < b.first; };
    std::stable_sort(old.begin(), old.end(), byKey);
    std::stable_sort(now.begin(), now.end(), byKey);
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < old.size() || j < now.size()) {
        if (j == now.size() || (i < old.size() && old[i].first < now[j].first)) {
            differences.push_back(
                {'-', what, keyText(old[i].first), describeOld(old[i].first, *old[i].second), {}});
            ++i;
        } else if (i == old.size() || now[j].first < old[i].first) {
            differences.push_back(
                {'+', what, keyText(now[j].first), describeNew(now[j].first, *now[j].second), {}});
            ++j;
        } else if (same(*old[i].second, *now[j].second)) {
            ++i;
            ++j;
        } else {
            auto after = describeNew(now[j].first, *now[j].second);
            auto changes = changesBetween(describeOld(old[i].first, *old[i].second), after);
            if (!changes.empty()) {
                differences.push_back(
                    {'~', what, keyText(now[j].first), std::move(after), std::move(changes)});
            }
            ++i;
            ++j;
        }
    }
}

template <class Key, class Value, class DescribeOld, class DescribeNew>
void compare(char const* what, std::vector<std::pair<Key, Value const*>> old,
             std::vector<std::pair<Key, Value const*>> now, DescribeOld const& describeOld,
             DescribeNew const& describeNew, std::vector<Difference>& differences) {
    compare(
        what, std::move(old), std::move(now), describeOld, describeNew,
        [](Value const&, Value const&) { return false; }, differences);
}

template <class Key, class Value, class Describe>
void compare(char const* what, std::vector<std::pair<Key, Value const*>> old,
             std::vector<std::pair<Key, Value const*>> now, Describe const& describe,
             std::vector<Difference>& differences) {
    compare(what, std::move(old), std::move(now), describe, describe, differences);
}

// The copies of one transaction, each in the ledger of one of its accounts.
struct Copy {
    unsigned ledger; // the number of the account whose ledger holds it
    accounting::Transaction const* transaction;
};
struct Copies {
    unsigned number;
    std::vector<Copy> copies; // in order of the ledgers' account numbers
    bool agree = true;        // whether every copy holds the same values
};

std::vector<Copies> copiesOf(accounting::GeneralLedger const& ledger) {
    std::vector<std::pair<unsigned, Copy>> all;
    for (auto const& [code, account] : ledger.ledgers()) {
        for (auto const& [number, transaction] : account.transactions) {
            all.push_back({number.integer(), {code.number().integer(), &transaction}});
        }
    }
    std::sort(all.begin(), all.end(), [](auto const& a, auto const& b) {
        return std::pair(a.first, a.second.ledger) < std::pair(b.first, b.second.ledger);
    });
    std::vector<Copies> grouped;
    grouped.reserve(all.size() / 2 + 1);
    for (auto const& [number, copy] : all) {
        if (grouped.empty() || grouped.back().number != number) {
            grouped.push_back({number, {}, true});
        }
        auto& group = grouped.back();
        group.agree =
            group.agree && (group.copies.empty() ||
                            sameTransaction(*group.copies.front().transaction, *copy.transaction));
        group.copies.push_back(copy);
    }
    return grouped;
}

// Transactions by number. A transaction whose copies hold the same values on both sides is
// one record; where the copies on a side disagree (a copy edited by hand), the copies are
// compared ledger by ledger instead, so that an edit of one copy is a change of that copy, not
// a transaction added beside the old one.
template <class Describe>
void compareTransactions(std::vector<Copies> const& old, std::vector<Copies> const& now,
                         Describe const& describe, std::vector<Difference>& differences) {
    char const* const what = "transaction";
    auto const whole = [&](char sign, Copies const& copies) {
        differences.push_back({sign,
                               what,
                               keyText(copies.number),
                               describe(copies.number, *copies.copies.front().transaction),
                               {}});
    };
    auto const byCopy = [&](Copies const& before, Copies const& after) {
        bool const both = !before.agree && !after.agree;
        char const* const side = both ? "both" : before.agree ? "new" : "old";
        QString const where = both ? QStringLiteral("both files")
                                   : QStringLiteral("the %1 file").arg(QLatin1String(side));
        auto const add = [&](char sign, Copy const& copy, std::vector<Change> changes,
                             Described described) {
            described.label =
                QStringLiteral("%1 in the ledger of account %2 (copies disagree in %3)")
                    .arg(described.label)
                    .arg(copy.ledger)
                    .arg(where);
            differences.push_back({sign, what, keyText(before.number), std::move(described),
                                   std::move(changes), copy.ledger, side});
        };
        std::size_t i = 0;
        std::size_t j = 0;
        while (i < before.copies.size() || j < after.copies.size()) {
            // Where one side has no copy left, o or w stands for the other side's, unused.
            auto const& o = i < before.copies.size() ? before.copies[i] : after.copies[j];
            auto const& w = j < after.copies.size() ? after.copies[j] : before.copies[i];
            if (j == after.copies.size() || (i < before.copies.size() && o.ledger < w.ledger)) {
                add('-', o, {}, describe(before.number, *o.transaction));
                ++i;
            } else if (i == before.copies.size() || w.ledger < o.ledger) {
                add('+', w, {}, describe(after.number, *w.transaction));
                ++j;
            } else {
                if (!sameTransaction(*o.transaction, *w.transaction)) {
                    auto described = describe(after.number, *w.transaction);
                    auto changes =
                        changesBetween(describe(before.number, *o.transaction), described);
                    add('~', w, std::move(changes), std::move(described));
                }
                ++i;
                ++j;
            }
        }
    };
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < old.size() || j < now.size()) {
        if (j == now.size() || (i < old.size() && old[i].number < now[j].number)) {
            whole('-', old[i++]);
        } else if (i == old.size() || now[j].number < old[i].number) {
            whole('+', now[j++]);
        } else {
            auto const& before = old[i++];
            auto const& after = now[j++];
            if (!before.agree || !after.agree) {
                byCopy(before, after);
            } else if (auto const& o = *before.copies.front().transaction,
                       &w = *after.copies.front().transaction;
                       !sameTransaction(o, w)) {
                auto described = describe(after.number, w);
                auto changes = changesBetween(describe(before.number, o), described);
                differences.push_back(
                    {'~', what, keyText(after.number), std::move(described), std::move(changes)});
            }
        }
    }
}

template <class Key, class Map, class KeyOf> auto keyed(Map const& map, KeyOf const& keyOf) {
    using Value = typename std::iterator_traits<decltype(map.begin())>::value_type;
    std::vector<std::pair<Key, Value const*>> records;
    for (auto const& entry : map) {
        records.emplace_back(keyOf(entry), &entry);
    }
    return records;
}

// A list as one value: its parts joined, or nothing when it is empty.
std::optional<QString> listText(QStringList const& parts) {
    return parts.isEmpty() ? std::nullopt : std::optional(parts.join(QStringLiteral(", ")));
}

std::optional<QString> accountsText(banking::BankName const& name, banking::Bank const& bank,
                                    banking::AccountTypeMap const& types) {
    QStringList accounts;
    auto const typesOfBank = types.find(name);
    for (auto const& number : bank.accounts()) {
        QString account = QString::number(number.integer());
        if (typesOfBank != types.end()) {
            if (auto const found = typesOfBank->second.find(number);
                found != typesOfBank->second.end()) {
                account += QLatin1Char(' ') + banking::presentationText(found->second);
            }
        }
        accounts << account;
    }
    return listText(accounts);
}

std::optional<QString>
distributionText(surveying::ReconciledSurvey::Distribution const& distribution) {
    QStringList parts;
    for (auto const& [item, amount] : distribution) {
        parts << budgeting::toWeak(item.type) + QLatin1Char(' ') + quotedText(item.source.name()) +
                     QLatin1Char(' ') + moneyText(amount);
    }
    return listText(parts);
}

template <class Item, class Map, class Extra>
void compareItems(char const* what, Map const& old, Map const& now,
                  storage::ItemAccountMap const& oldItems, storage::ItemAccountMap const& newItems,
                  Extra const& extra, std::vector<Difference>& differences) {
    auto const describeWith = [&](storage::ItemAccountMap const& items) {
        return [&what, &extra, &items](QString const& name, auto const& entry) {
            auto const& [source, item] = entry;
            std::vector<Field> fields{
                plainField("amount", moneyText(item.amount())),
                plainField("period", budgeting::presentationText(item.period())),
                dateField("nextOccurOn", item.nextOccurOn()),
                numberField("account", itemAccount<Item>(items, source))};
            extra(item, fields);
            return Described{QLatin1String(what) + QLatin1Char(' ') + quotedText(name),
                             std::move(fields)};
        };
    };
    auto const name = [](auto const& entry) { return entry.first.name(); };
    compare(what, keyed<QString>(old, name), keyed<QString>(now, name), describeWith(oldItems),
            describeWith(newItems), differences);
}

// The differences of the general ledgers: the opening account, the accounts, the transactions.
void compareLedgers(BudgetState const& old, BudgetState const& now,
                    std::vector<Difference>& differences) {
    auto const& oldLedger = std::get<accounting::GeneralLedger>(old);
    auto const& newLedger = std::get<accounting::GeneralLedger>(now);

    // The opening account is one record on each side, which can only change.
    using Ledger = std::vector<std::pair<QString, accounting::GeneralLedger const*>>;
    compare(
        "opening account", Ledger{{QString(), &oldLedger}}, Ledger{{QString(), &newLedger}},
        [](QString const&, accounting::GeneralLedger const& ledger) {
            auto const& code = ledger.openingAccountCode();
            return Described{"opening account",
                             {numberField("account", code ? std::optional(code->number().integer())
                                                          : std::nullopt)}};
        },
        differences);

    auto const accountNumber = [](auto const& entry) { return entry.first.number().integer(); };
    compare(
        "account", keyed<unsigned>(oldLedger.ledgers(), accountNumber),
        keyed<unsigned>(newLedger.ledgers(), accountNumber),
        [](unsigned number, auto const& entry) {
            auto const& account = entry.second.account;
            auto const& parent = account.code().parent();
            return Described{
                QStringLiteral("account %1 %2").arg(number).arg(printable(account.code().name())),
                {textField("name", account.code().name()),
                 plainField("type", accounting::presentationText(account.type())),
                 numberField("parent", parent ? std::optional(parent->integer()) : std::nullopt),
                 plainField("balance", moneyText(account.balance())),
                 yesNoField("closed", account.isClosed())}};
        },
        differences);

    auto const describeTransaction = [](unsigned number,
                                        accounting::Transaction const& transaction) {
        return Described{QStringLiteral("transaction %1").arg(number),
                         {dateField("date", transaction.occurredOn()),
                          numberField("debited", transaction.debiting().number().integer()),
                          numberField("credited", transaction.crediting().number().integer()),
                          plainField("amount", moneyText(transaction.amount())),
                          plainField("status", accounting::presentationText(transaction.status())),
                          textField("description", transaction.description())}};
    };
    compareTransactions(copiesOf(oldLedger), copiesOf(newLedger), describeTransaction, differences);
}

// The differences of the budget items of each kind.
void compareBudgets(BudgetState const& old, BudgetState const& now,
                    std::vector<Difference>& differences) {
    auto const& oldBudget = std::get<budgeting::Budget>(old);
    auto const& newBudget = std::get<budgeting::Budget>(now);
    auto const& oldItems = std::get<storage::ItemAccountMap>(old);
    auto const& newItems = std::get<storage::ItemAccountMap>(now);
    auto const none = [](auto const&, std::vector<Field>&) {};
    compareItems<budgeting::Wage>("wage", oldBudget.wages(), newBudget.wages(), oldItems, newItems,
                                  none, differences);
    compareItems<budgeting::Bill>("bill", oldBudget.bills(), newBudget.bills(), oldItems, newItems,
                                  none, differences);
    compareItems<budgeting::Debt>(
        "debt", oldBudget.debts(), newBudget.debts(), oldItems, newItems,
        [](budgeting::Debt const& debt, std::vector<Field>& fields) {
            fields.push_back(plainField("borrowed", moneyText(debt.borrowed())));
            fields.push_back(plainField("interest", numberText(debt.interest().value)));
        },
        differences);
    compareItems<budgeting::Goal>(
        "goal", oldBudget.goals(), newBudget.goals(), oldItems, newItems,
        [](budgeting::Goal const& goal, std::vector<Field>& fields) {
            fields.push_back(plainField("final", moneyText(goal.final())));
        },
        differences);
    compareItems<budgeting::Nontrack>("nontrack", oldBudget.nontracks(), newBudget.nontracks(),
                                      oldItems, newItems, none, differences);
}

// The differences of the banks and the reconciliations.
void compareBanks(BudgetState const& old, BudgetState const& now,
                  std::vector<Difference>& differences) {
    auto const describeBank = [](banking::AccountTypeMap const& types) {
        return [&types](QString const& name, auto const& entry) {
            auto const& bank = entry.second;
            return Described{QStringLiteral("bank ") + quotedText(name),
                             {yesNoField("closed", bank.isClosed()),
                              plainField("accounts", accountsText(entry.first, bank, types))}};
        };
    };
    auto const bankName = [](auto const& entry) { return entry.first.institution(); };
    compare("bank", keyed<QString>(std::get<banking::BankMap>(old), bankName),
            keyed<QString>(std::get<banking::BankMap>(now), bankName),
            describeBank(std::get<banking::AccountTypeMap>(old)),
            describeBank(std::get<banking::AccountTypeMap>(now)), differences);

    auto const reconciledAccount = [](auto const& entry) {
        return entry.first.code.number().integer();
    };
    compare(
        "reconciliation",
        keyed<unsigned>(std::get<surveying::ReconciledSurveys>(old), reconciledAccount),
        keyed<unsigned>(std::get<surveying::ReconciledSurveys>(now), reconciledAccount),
        [](unsigned number, auto const& entry) {
            auto const& [account, survey] = entry;
            auto const& on = survey.reconciled().reconciledOn();
            return Described{QStringLiteral("reconciliation %1").arg(number),
                             {textField("bank", account.bank.institution()),
                              plainField("type", banking::presentationText(account.type)),
                              plainField("balance", moneyText(survey.reconciled().balance())),
                              dateField("reconciledOn", on),
                              textField("checksum", survey.checksum()),
                              plainField("distribution", distributionText(survey.distribution()))}};
        },
        differences);
}

std::vector<Difference> differencesOf(BudgetState const& old, BudgetState const& now) {
    std::vector<Difference> differences;
    compareLedgers(old, now, differences);
    compareBudgets(old, now, differences);
    compareBanks(old, now, differences);
    return differences;
}

void appendJsonValue(QByteArray& out, Field const& field) {
    if (field.value) {
        appendJsonString(out, *field.value);
    } else {
        out += "null";
    }
}

QByteArray differencesText(std::vector<Difference> const& differences) {
    QByteArray out;
    std::size_t counts[3] = {0, 0, 0}; // added, removed, changed
    for (auto const& difference : differences) {
        out += difference.sign;
        out += ' ';
        out += difference.described.label.toUtf8();
        if (difference.sign == '~') {
            out += ": ";
            for (std::size_t i = 0; i < difference.changes.size(); ++i) {
                auto const& [old, now] = difference.changes[i];
                out += i == 0 ? "" : "; ";
                out += now.name;
                out += ' ';
                out += shown(old).toUtf8();
                out += " -> ";
                out += shown(now).toUtf8();
            }
        }
        out += '\n';
        ++counts[difference.sign == '+' ? 0 : difference.sign == '-' ? 1 : 2];
    }
    if (differences.empty()) {
        return "Same budget.\n";
    }
    out += QStringLiteral("%1 %2: %3 added, %4 removed, %5 changed\n")
               .arg(differences.size())
               .arg(differences.size() == 1 ? QLatin1String("difference")
                                            : QLatin1String("differences"))
               .arg(counts[0])
               .arg(counts[1])
               .arg(counts[2])
               .toUtf8();
    return out;
}

QByteArray differencesJson(QString const& oldFile, QString const& newFile,
                           std::vector<Difference> const& differences) {
    QByteArray out = "{";
    appendJsonString(appendMember(out, 2, "old", true), oldFile);
    appendJsonString(appendMember(out, 2, "new"), newFile);
    appendMember(out, 2, "ok") += "true";
    appendMember(out, 2, "same") += differences.empty() ? "true" : "false";
    for (char const sign : {'+', '-', '~'}) {
        JsonArray list(appendMember(out, 2,
                                    sign == '+'   ? "added"
                                    : sign == '-' ? "removed"
                                                  : "changed"),
                       2);
        for (auto const& difference : differences) {
            if (difference.sign != sign) {
                continue;
            }
            JsonObject entry(list.next());
            entry.text("what", QString::fromLatin1(difference.what))
                .text("key", difference.key)
                .text("label", difference.described.label);
            if (difference.copiesDisagree != nullptr) {
                entry.text("ledger", QString::number(difference.ledger))
                    .text("copiesDisagree", QString::fromLatin1(difference.copiesDisagree));
            }
            if (sign == '~') {
                JsonObject changes(entry.key("changes"));
                for (auto const& [old, now] : difference.changes) {
                    JsonObject change(changes.key(now.name));
                    appendJsonValue(change.key("old"), old);
                    appendJsonValue(change.key("new"), now);
                    change.end();
                }
                changes.end();
            } else {
                JsonObject fields(entry.key("fields"));
                for (auto const& field : difference.described.fields) {
                    appendJsonValue(fields.key(field.name), field);
                }
                fields.end();
            }
            entry.end();
        }
        list.end();
    }
    return out += "\n}\n";
}

} // namespace

int diff(Streams io, QString const& oldFile, QString const& newFile, Options const& options) {
    auto const oldInput = inputAt(io, options, oldFile);
    if (!oldInput) {
        return 2;
    }
    auto const newInput = inputAt(io, options, newFile);
    if (!newInput) {
        return 2;
    }
    std::optional<BudgetState> now;
    std::optional<BudgetState> old;
    try {
        Progress const progress(io, options, QStringLiteral("loading both"),
                                oldInput->unread() + newInput->unread());
        // The two files load side by side: for large budgets the loads are most of the time.
        auto oldLoad = std::async(std::launch::async, [&] { return oldInput->load(); });
        std::exception_ptr newError; // kept whole, of its own class, until the old is loaded
        try {
            now.emplace(newInput->load());
        } catch (storage::StorageError const&) {
            newError = std::current_exception();
        }
        old.emplace(oldLoad.get());
        if (newError) {
            std::rethrow_exception(newError);
        }
    } catch (storage::StorageError const& error) {
        fail(io, options, old ? *newInput : *oldInput, error);
        return 2;
    }
    auto const differences = differencesOf(*old, *now);
    if (!options.quiet) {
        io.out << QString::fromUtf8(options.json ? differencesJson(oldFile, newFile, differences)
                                                 : differencesText(differences));
    }
    return differences.empty() ? 0 : 1;
}

} // namespace zel::tool
