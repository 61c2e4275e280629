#pragma once

#include "zel/foundation/Error.h"
#include "zel/money/Currency.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <compare>
#include <cstdint>
#include <map>

namespace zel::budgeting {

// The name under which money is budgeted ("Salary", "Rent").
class BudgetSource {
public:
    BudgetSource() = default;
    explicit BudgetSource(QString name) : name_(std::move(name)) {}
    QString const& name() const { return name_; }
    friend bool operator<(BudgetSource const& a, BudgetSource const& b) {
        return a.name_ < b.name_;
    }
    friend bool operator==(BudgetSource const&, BudgetSource const&) = default;

private:
    QString name_;
};

QString presentationText(BudgetSource const& source);

enum class EventFrequency {
    once,
    daily,
    weekly,
    fortnightly,
    monthly,
    quarterly,
    semiAnnually,
    annually
};
EventFrequency toEventFrequency(QString const& text);
QString presentationText(EventFrequency const& frequency);

// The five kinds of budget item. The values are stored in files: keep them.
enum class BudgetItemTypes : std::uint8_t { bill = 1, debt = 2, goal = 3, nontrack = 4, wage = 5 };
BudgetItemTypes toBudgetItemTypes(QString const& text);
QString toWeak(BudgetItemTypes const& type);
QString presentationText(BudgetItemTypes const& type);

// A budget item named by its kind and its source.
struct BudgetItemIdentifier {
    BudgetItemTypes type;
    BudgetSource source;
    friend bool operator<(BudgetItemIdentifier const& a, BudgetItemIdentifier const& b) {
        return a.type != b.type ? a.type < b.type : a.source < b.source;
    }
    friend bool operator==(BudgetItemIdentifier const&, BudgetItemIdentifier const&) = default;
};

struct Percentage {
    double value;
};

// What every budget item has: a source, an amount, how often it recurs and when next.
class BudgetedMoney {
public:
    BudgetedMoney(BudgetSource const& source, orvalis::currency::Money const& amount,
                  EventFrequency const& period, QDate const& nextOccurOn)
        : source_(source), amount_(amount), period_(period), nextOccurOn_(nextOccurOn) {}

    BudgetSource const& source() const { return source_; }
    orvalis::currency::Money const& amount() const { return amount_; }
    EventFrequency const& period() const { return period_; }
    QDate const& nextOccurOn() const { return nextOccurOn_; }

private:
    BudgetSource source_;
    orvalis::currency::Money amount_;
    EventFrequency period_;
    QDate nextOccurOn_;
};

class Wage : public BudgetedMoney {
public:
    using BudgetedMoney::BudgetedMoney;
};

class Bill : public BudgetedMoney {
public:
    using BudgetedMoney::BudgetedMoney;
};

class Nontrack : public BudgetedMoney {
public:
    using BudgetedMoney::BudgetedMoney;
};

class Goal : public BudgetedMoney {
public:
    Goal(BudgetSource const& source, orvalis::currency::Money const& amount,
         EventFrequency const& period, QDate const& nextOccurOn,
         orvalis::currency::Money const& final)
        : BudgetedMoney(source, amount, period, nextOccurOn), final_(final) {}
    orvalis::currency::Money const& final() const { return final_; }

private:
    orvalis::currency::Money final_;
};

class Debt : public BudgetedMoney {
public:
    Debt(BudgetSource const& source, orvalis::currency::Money const& amount,
         EventFrequency const& period, QDate const& nextOccurOn,
         orvalis::currency::Money const& borrowed, Percentage const& interest)
        : BudgetedMoney(source, amount, period, nextOccurOn), borrowed_(borrowed),
          interest_(interest) {}
    orvalis::currency::Money const& borrowed() const { return borrowed_; }
    Percentage const& interest() const { return interest_; }

private:
    orvalis::currency::Money borrowed_;
    Percentage interest_;
};

// The budget items of one kind, by source. A source stands at most once in a map: add throws
// foundation::Error for a second item with the same source.
template <class T> class BudgetedMoneyMap {
public:
    using Items = std::map<BudgetSource, T>;

    void add(T item) {
        auto source = item.source();
        if (!items_.try_emplace(std::move(source), std::move(item)).second) {
            throw foundation::Error(QObject::tr("The budget already holds an item named '%1'.")
                                        .arg(presentationText(item.source())),
                                    std::exception());
        }
    }

    typename Items::const_iterator begin() const { return items_.begin(); }
    typename Items::const_iterator end() const { return items_.end(); }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }

private:
    Items items_;
};

using WageMap = BudgetedMoneyMap<Wage>;
using BillMap = BudgetedMoneyMap<Bill>;
using DebtMap = BudgetedMoneyMap<Debt>;
using GoalMap = BudgetedMoneyMap<Goal>;
using NontrackMap = BudgetedMoneyMap<Nontrack>;

class Budget {
public:
    Budget(WageMap wages, BillMap bills, DebtMap debts, GoalMap goals, NontrackMap nontracks)
        : wages_(std::move(wages)), bills_(std::move(bills)), debts_(std::move(debts)),
          goals_(std::move(goals)), nontracks_(std::move(nontracks)) {}

    WageMap const& wages() const { return wages_; }
    BillMap const& bills() const { return bills_; }
    DebtMap const& debts() const { return debts_; }
    GoalMap const& goals() const { return goals_; }
    NontrackMap const& nontracks() const { return nontracks_; }
    WageMap& wages() { return wages_; }
    BillMap& bills() { return bills_; }
    DebtMap& debts() { return debts_; }
    GoalMap& goals() { return goals_; }
    NontrackMap& nontracks() { return nontracks_; }

private:
    WageMap wages_;
    BillMap bills_;
    DebtMap debts_;
    GoalMap goals_;
    NontrackMap nontracks_;
};

} // namespace zel::budgeting
